// The control window phase, run for real against recording stand-ins of the
// window, gadget, font and event services (this program links
// flow/control_window.cpp with the stand-ins below). Each scene scripts the
// events EventWait hands out and checks the calls the phase makes.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "flow/control_window.h"
#include "flow/main_sequence.h"
#include "runtime/window/event.h"
#include "runtime/window/font.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

namespace {

constexpr DWORD END_PATH_EXIT = 0xE9D;
constexpr intptr_t SMALL_FONT = 0x5000;  // issued numbers of the two fonts
constexpr intptr_t LARGE_FONT = 0x6000;

struct Scene {
    bool windowOpens = true;
    std::vector<std::pair<int32_t, ObjectNumber>> events;  // (code, source)
    size_t next = 0;
    ObjectNumber source = 0;
    std::vector<std::string> calls;
    int32_t repeatFlagAtFirstRelease = -1;
};

Scene* S;

void Record(std::string what) { S->calls.push_back(std::move(what)); }

DWORD WINAPI PhaseThread(LPVOID)
{
    ControlWindowPhase();
    return 0;
}

DWORD RunPhase(Scene& scene)
{
    S = &scene;
    RepeatFlag = 0;
    HANDLE thread = CreateThread(nullptr, 0, PhaseThread, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

const std::vector<std::string> SET_UP = {
    "FontLoad Arial 12 16", "FontLoad Arial 14 16",
    "WindowOpen 2 0 0 300 200 Norvane 5", "WindowSetColor 2 1",
    "ButtonCreate 4 20 20 256 60 Run norvane", "GadgetSetFont 4 large",
    "ButtonCreate 8 20 100 256 40 Repeat the run every 34min", "GadgetSetFont 8 large",
    "ButtonCreate 16 230 155 50 35 EXIT", "GadgetSetFont 16 small"};
const std::vector<std::string> RELEASES = {
    "GadgetFree 4", "GadgetFree 8", "GadgetFree 16", "FontFree small", "FontFree large", "WindowClose 2"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Waits(int count)
{
    return std::vector<std::string>(count, "EventWait");
}

}  // namespace

// --- stand-ins -------------------------------------------------------------

int32_t RepeatFlag;

void EndPath()
{
    Record("EndPath");
    ExitThread(END_PATH_EXIT);
}

intptr_t FontLoad(ObjectNumber number, const char* face, int32_t points, uint32_t style)
{
    EXPECT_EQ(number, ANY_NUMBER);
    Record("FontLoad " + std::string(face) + " " + std::to_string(points) + " " + std::to_string(style));
    return points == 12 ? SMALL_FONT : LARGE_FONT;
}

HFONT FontHandle(ObjectNumber number)
{
    return reinterpret_cast<HFONT>(number + 1);
}

void FontFree(ObjectNumber number)
{
    Record(std::string("FontFree ") + (number == SMALL_FONT ? "small" : number == LARGE_FONT ? "large" : "?"));
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t w, int32_t h, const char* title,
                    uint32_t flags)
{
    Record("WindowOpen " + std::to_string(number) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
           std::to_string(w) + " " + std::to_string(h) + " " + title + " " + std::to_string(flags));
    return S->windowOpens ? 0x1234 : 0;
}

intptr_t WindowSetColor(ObjectNumber number, int32_t colour)
{
    Record("WindowSetColor " + std::to_string(number) + " " + std::to_string(colour));
    return 1;
}

void WindowClose(ObjectNumber number) { Record("WindowClose " + std::to_string(number)); }

intptr_t ButtonCreate(ObjectNumber number, int32_t x, int32_t y, int32_t w, int32_t h, const char* text)
{
    Record("ButtonCreate " + std::to_string(number) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
           std::to_string(w) + " " + std::to_string(h) + " " + text);
    return 0x100 + number;
}

intptr_t GadgetSetFont(ObjectNumber number, intptr_t font)
{
    const char* which = font == SMALL_FONT + 1 ? "small" : font == LARGE_FONT + 1 ? "large" : "?";
    Record("GadgetSetFont " + std::to_string(number) + " " + which);
    return 0;
}

intptr_t GadgetFree(ObjectNumber number)
{
    if (S->repeatFlagAtFirstRelease < 0) S->repeatFlagAtFirstRelease = RepeatFlag;
    Record("GadgetFree " + std::to_string(number));
    return 0;
}

int32_t EventWait(int32_t timeout)
{
    EXPECT_EQ(timeout, -1) << "the phase waits without a time limit";
    Record("EventWait");
    if (S->next >= S->events.size()) {
        ADD_FAILURE() << "the phase waited beyond its scripted events";
        ExitThread(1);
    }
    auto [code, source] = S->events[S->next++];
    if (code != 0 && code >= 13100) S->source = source;
    return code;
}

ObjectNumber EventSource() { return S->source; }

// --- tests -------------------------------------------------------------------

TEST(ControlWindow, RunButtonReleasesEverythingInOrderAndReturns)
{
    Scene scene;
    scene.events = {{15, 0}, {514, 0}, {EVT_GADGET, 4}};
    EXPECT_EQ(RunPhase(scene), 0u);
    EXPECT_EQ(scene.calls, Join(Join(SET_UP, Waits(3)), RELEASES));
    EXPECT_EQ(RepeatFlag, 0);
}

TEST(ControlWindow, RepeatButtonSetsTheFlagBeforeTheReleases)
{
    Scene scene;
    scene.events = {{EVT_GADGET, 8}};
    EXPECT_EQ(RunPhase(scene), 0u);
    EXPECT_EQ(scene.calls, Join(Join(SET_UP, Waits(1)), RELEASES));
    EXPECT_EQ(scene.repeatFlagAtFirstRelease, 1);
    EXPECT_EQ(RepeatFlag, 1);
}

TEST(ControlWindow, ExitButtonAndCloseRequestEndTheProcessWithoutReleasing)
{
    struct Row {
        const char* name;
        std::pair<int32_t, ObjectNumber> event;
    } rows[] = {{"exit button", {EVT_GADGET, 16}}, {"close request", {EVT_CLOSE_WINDOW, 2}}};
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        Scene scene;
        scene.events = {{EVT_BACKGROUND_ERASED, 0}, row.event};
        EXPECT_EQ(RunPhase(scene), END_PATH_EXIT);
        EXPECT_EQ(scene.calls, Join(Join(SET_UP, Waits(2)), {"EndPath"}));
    }
}

TEST(ControlWindow, OtherEventsAndGadgetsKeepItWaiting)
{
    Scene scene;
    // Events of other codes, a gadget event from an unknown gadget, and a
    // window message whose number is not an event: all ignored.
    scene.events = {{EVT_WINDOW_ACTIVATED, 0}, {EVT_GADGET, 5}, {EVT_MENU_COMMAND, 16},
                    {512, 0}, {0, 0}, {EVT_GADGET, 4}};
    EXPECT_EQ(RunPhase(scene), 0u);
    EXPECT_EQ(scene.calls, Join(Join(SET_UP, Waits(6)), RELEASES));
}

TEST(ControlWindow, AWindowThatCannotBeOpenedEndsTheProcessAsTheExitButtonWould)
{
    Scene scene;
    scene.windowOpens = false;
    EXPECT_EQ(RunPhase(scene), END_PATH_EXIT);
    std::vector<std::string> expected(SET_UP.begin(), SET_UP.begin() + 3);
    expected.push_back("EndPath");
    EXPECT_EQ(scene.calls, expected) << "no wait that nothing could end";
}
