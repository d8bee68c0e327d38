// WindowProc as a table: message in, result and posted events out.
//
// This program links the window service against recording stand-ins for the
// event and gadget operations it calls (defined below, so the archive's own
// are never pulled in): every post, purge, keyboard-cue, Tab and container
// call is logged, and GadgetNotify answers what a step asks it to. Each step
// does one thing, then one labelled check; the log is flushed between steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/process/globals.h"
#include "runtime/window/event.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"
#include "tests/runtime/process/import_slot.h"

IMPORT_SLOT(CreateWindowExA, 48);
IMPORT_SLOT(CreateAcceleratorTableA, 8);
IMPORT_SLOT(HeapAlloc, 12);

typedef std::tuple<int32_t, ObjectNumber, ObjectNumber, int32_t> Posted;

namespace {

std::vector<Posted> Posts;
std::vector<std::string> Calls;  // other stand-in calls, in order
LRESULT NotifyAnswer = NOT_HANDLED;
HWND NotifyControl;
UINT NotifyMessage;
bool PropertyAtContainerSet;

std::string Hex(const void* p)
{
    char text[32];
    snprintf(text, sizeof(text), "%p", p);
    return text;
}

}  // namespace

// The recording stand-ins.
int32_t EventPost(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type)
{
    Posts.emplace_back(code, object, window, type);
    return 0;
}
void EventPurgeWindow(ObjectNumber window)
{
    Calls.push_back("EventPurgeWindow " + std::to_string(window));
}
void EventBindingsPurgeWindow(ObjectNumber window)
{
    Calls.push_back("EventBindingsPurgeWindow " + std::to_string(window));
}
void KeyboardCues(HWND window, bool show)
{
    Calls.push_back(std::string("KeyboardCues ") + Hex(window) + (show ? " show" : " hide"));
}
void TabNavigate(bool backward)
{
    Calls.push_back(backward ? "TabNavigate backward" : "TabNavigate forward");
}
HWND GadgetContainerSet(HWND window)
{
    PropertyAtContainerSet = GetPropA(window, "KX_WindowID") != nullptr;
    Calls.push_back("GadgetContainerSet " + Hex(window));
    return nullptr;
}
LRESULT GadgetNotify(HWND control, HWND, UINT message, WPARAM, LPARAM)
{
    NotifyControl = control;
    NotifyMessage = message;
    Calls.push_back("GadgetNotify " + Hex(control));
    return NotifyAnswer;
}

namespace {

const std::vector<Posted> NONE;

Posted Event(int32_t code, ObjectNumber object, ObjectNumber window = 2, int32_t type = 0)
{
    return Posted(code, object, window, type);
}

void ServiceReady()
{
    if (!WindowTable)
        WindowServiceInit();
}

void Flush()
{
    Posts.clear();
    Calls.clear();
    NotifyAnswer = NOT_HANDLED;
    NotifyControl = nullptr;
    NotifyMessage = 0;
}

// A child whose procedure logs what reaches it.
std::vector<UINT> ChildMessages;

LRESULT CALLBACK RecordingChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ChildMessages.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

COLORREF PixelAfterErase(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    return GetPixel(dc, client.right / 2, client.bottom / 2);
}

class WindowProcTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ServiceReady();
        WNDCLASSA childClass = {};
        childClass.lpfnWndProc = RecordingChildProc;
        childClass.hInstance = InstanceHandle;
        childClass.lpszClassName = "RecordingChild";
        RegisterClassA(&childClass);
    }

    void SetUp() override
    {
        // Hidden: a shown window takes about 2 s to close under Wine without
        // a window manager, and nothing here needs it on the screen.
        window = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 300, 200, "Norvane", 0x10000005));
        ASSERT_NE(window, nullptr);
        record = static_cast<WindowRecord*>(ObjectGet(WindowTable, 2));
        ASSERT_NE(record, nullptr);
        button = CreateWindowExA(0, "Button", "b", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, window,
                                 (HMENU)4, InstanceHandle, nullptr);
        menuControl = CreateWindowExA(0, "Button", "m", WS_CHILD | WS_VISIBLE, 0, 30, 50, 20,
                                      window, (HMENU)(intptr_t)-10000, InstanceHandle, nullptr);
        child = CreateWindowExA(0, "RecordingChild", "c", WS_CHILD | WS_VISIBLE, 60, 0, 50, 20,
                                window, (HMENU)99, InstanceHandle, nullptr);
        ASSERT_TRUE(button && menuControl && child);
        ChildMessages.clear();
        Flush();
    }

    void TearDown() override
    {
        WindowClose(ANY_NUMBER);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Flush();
    }

    // The messages of a window whose "KX_WindowID" is number (null: none).
    void NumberlessMessages(HANDLE number);

    HWND window = nullptr;
    WindowRecord* record = nullptr;
    HWND button = nullptr;
    HWND menuControl = nullptr;
    HWND child = nullptr;
};

struct Step {
    std::string label;
    std::function<void()> before;  // may be empty
    HWND target;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    std::vector<Posted> events;
    std::vector<std::string> calls;
    std::function<void()> after;   // further checks, may be empty
};

void RunSteps(const std::vector<Step>& steps)
{
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        Flush();
        if (step.before)
            step.before();
        Posts.clear();  // whatever the preparation itself caused
        Calls.clear();
        LRESULT result = WindowProc(step.target, step.message, step.wParam, step.lParam);
        EXPECT_EQ(result, step.result);
        EXPECT_EQ(Posts, step.events);
        EXPECT_EQ(Calls, step.calls);
        if (step.after)
            step.after();
    }
}

TEST_F(WindowProcTest, MoveSizeAndClose)
{
    RunSteps({
        {"WM_MOVE on the window", {}, window, WM_MOVE, 0, MAKELPARAM(5, 6), 0,
         {Event(EVT_WINDOW_MOVED, 2)}, {}, {}},
        {"WM_MOVE on a child", {}, child, WM_MOVE, 0, 0, 0, NONE, {}, {}},
        {"WM_SIZE on a child", {}, child, WM_SIZE, SIZE_RESTORED, 0, 1, NONE, {}, {}},
        {"WM_SIZE restored, not sized", {}, window, WM_SIZE, SIZE_RESTORED, 0, 0,
         {Event(EVT_WINDOW_RESIZED, 0)}, {}, [&] { EXPECT_EQ(record->sized, 0); }},
        {"WM_SIZE minimised", {}, window, WM_SIZE, SIZE_MINIMIZED, 0, 0,
         {Event(EVT_WINDOW_MINIMISED, 0)}, {}, [&] { EXPECT_EQ(record->sized, 1); }},
        {"WM_SIZE restored after minimising", {}, window, WM_SIZE, SIZE_RESTORED, 0, 0,
         {Event(EVT_WINDOW_RESTORED, 0), Event(EVT_WINDOW_RESIZED, 0)}, {},
         [&] { EXPECT_EQ(record->sized, 0); }},
        {"WM_SIZE maximised", {}, window, WM_SIZE, SIZE_MAXIMIZED, 0, 0,
         {Event(EVT_WINDOW_MAXIMISED, 0), Event(EVT_WINDOW_RESIZED, 0)}, {},
         [&] { EXPECT_EQ(record->sized, 1); }},
        {"WM_SIZE other kinds keep the sized flag", {}, window, WM_SIZE, SIZE_MAXSHOW, 0, 0,
         {Event(EVT_WINDOW_RESIZED, 0)}, {}, [&] { EXPECT_EQ(record->sized, 1); }},
        {"WM_SIZE restored after maximising", {}, window, WM_SIZE, SIZE_RESTORED, 0, 0,
         {Event(EVT_WINDOW_RESTORED, 0), Event(EVT_WINDOW_RESIZED, 0)}, {},
         [&] { EXPECT_EQ(record->sized, 0); }},
        {"WM_CLOSE on the window posts and leaves it open", {}, window, WM_CLOSE, 0, 0, 0,
         {Event(EVT_CLOSE_WINDOW, 2)}, {}, [&] {
             EXPECT_TRUE(IsWindow(window));
             EXPECT_NE(ObjectGet(WindowTable, 2), nullptr);
         }},
        {"WM_CLOSE on a child", {}, child, WM_CLOSE, 0, 0, 0, NONE, {}, {}},
    });
}

TEST_F(WindowProcTest, CloseRequestThroughTheSystemLeavesTheWindowOpen)
{
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(Posts, std::vector<Posted>{Event(EVT_CLOSE_WINDOW, 2)});
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(WindowProcTest, Activation)
{
    WindowDestroyMark going;
    // Another window of this thread: any process can name it in "KX_Focus".
    HWND outside = CreateWindowExA(0, "Static", "outside", WS_POPUP, 0, 0, 10, 10, nullptr,
                                   nullptr, InstanceHandle, nullptr);
    RunSteps({
        {"WM_ACTIVATE activated returns to the remembered control",
         [&] {
             SetPropA(window, "KX_Focus", button);
             SetFocus(child);
         },
         window, WM_ACTIVATE, WA_ACTIVE, 0, 1, {Event(EVT_WINDOW_ACTIVATED, 0)}, {},
         [&] { EXPECT_EQ(GetFocus(), button); }},
        {"WM_ACTIVATE activated with a stale remembered control",
         [&] { SetPropA(window, "KX_Focus", (HANDLE)0x7FFF0); }, window, WM_ACTIVATE,
         WA_CLICKACTIVE, 0, 1, {Event(EVT_WINDOW_ACTIVATED, 0)}, {}, {}},
        {"WM_ACTIVATE activated with a remembered window outside this one",
         [&] {
             SetPropA(window, "KX_Focus", outside);
             SetFocus(child);
         },
         window, WM_ACTIVATE, WA_ACTIVE, 0, 1, {Event(EVT_WINDOW_ACTIVATED, 0)}, {},
         [&] { EXPECT_EQ(GetFocus(), child); }},
        {"WM_ACTIVATE deactivated (low word 0, minimised) remembers the focus",
         [&] { SetFocus(child); }, window, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0, 1,
         {Event(EVT_WINDOW_DEACTIVATED, 0)}, {"KeyboardCues " + Hex(window) + " hide"},
         [&] { EXPECT_EQ(GetPropA(window, "KX_Focus"), (HANDLE)GetFocus()); }},
        {"WM_NCDESTROY of a window that is not going keeps the remembered control",
         [&] { SetPropA(window, "KX_Focus", button); }, window, WM_NCDESTROY, 0, 0, 0, NONE, {},
         [&] { EXPECT_EQ(GetPropA(window, "KX_Focus"), (HANDLE)button); }},
        {"WM_NCDESTROY as the window goes removes the remembered control",
         [&] { WindowDestroyMarkEnter(&going, window); }, window, WM_NCDESTROY, 0, 0, 1, NONE, {},
         [&] {
             WindowDestroyMarkLeave(&going);
             EXPECT_EQ(GetPropA(window, "KX_Focus"), nullptr);
         }},
    });
    DestroyWindow(outside);
}

// A destruction message nobody's DestroyWindow sent reaches no default
// handling either: that would drop the window's title.
TEST_F(WindowProcTest, ForgedDestructionKeepsTheTitle)
{
    for (UINT message : {WM_DESTROY, WM_NCDESTROY}) {
        EXPECT_EQ(SendMessageA(window, message, 0, 0), 0);
        char title[16] = {};
        EXPECT_GT(SendMessageA(window, WM_GETTEXT, sizeof title, (LPARAM)title), 0) << message;
    }
}

TEST_F(WindowProcTest, EraseBackground)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 400, 300);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    auto wp = reinterpret_cast<WPARAM>(dc);
    COLORREF face = GetSysColor(COLOR_BTNFACE);

    RunSteps({
        {"WM_ERASEBKGND without a colour: the class brush paints", {}, window, WM_ERASEBKGND, wp,
         0, 1, {Event(EVT_BACKGROUND_ERASED, 0)}, {},
         [&] { EXPECT_EQ(PixelAfterErase(window, dc), face); }},
        {"WM_ERASEBKGND with a colour", [&] { WindowSetColor(2, RGB(1, 2, 3)); }, window,
         WM_ERASEBKGND, wp, 0, 1, {Event(EVT_BACKGROUND_ERASED, 0)}, {},
         [&] { EXPECT_EQ(PixelAfterErase(window, dc), RGB(1, 2, 3)); }},
        {"WM_ERASEBKGND after the colour was removed", [&] { WindowSetColor(2, -1); }, window,
         WM_ERASEBKGND, wp, 0, 1, {Event(EVT_BACKGROUND_ERASED, 0)}, {},
         [&] { EXPECT_EQ(PixelAfterErase(window, dc), face); }},
    });
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

TEST_F(WindowProcTest, SysColorChangeReachesTheChildren)
{
    EXPECT_EQ(WindowProc(window, WM_SYSCOLORCHANGE, 0, 0), DefWindowProcA(window, WM_SYSCOLORCHANGE, 0, 0));
    EXPECT_EQ(std::count(ChildMessages.begin(), ChildMessages.end(), (UINT)WM_SYSCOLORCHANGE), 1);
    EXPECT_EQ(Posts, NONE);
}

TEST_F(WindowProcTest, TrackingLimits)
{
    struct LimitsCase {
        const char* label;
        uint16_t limits[4];
        bool tool;
        POINT minimum, maximum;  // expected, from (-5, -6) and (-7, -8)
    } cases[] = {
        {"no limits, tool window: minimum width 1", {0, 0, 0, 0}, true, {1, -6}, {-7, -8}},
        {"no limits, ordinary window", {0, 0, 0, 0}, false, {-5, -6}, {-7, -8}},
        {"every limit", {50, 60, 700, 800}, true, {50, 60}, {700, 800}},
        {"minimum height and maximum width only", {0, 60, 700, 0}, false, {-5, 60}, {700, -8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        HWND target = window;
        WindowRecord* r = record;
        if (!c.tool) {
            target = reinterpret_cast<HWND>(WindowOpen(3, 0, 0, 100, 100, "plain", 0x10000008));
            r = static_cast<WindowRecord*>(ObjectGet(WindowTable, 3));
        }
        r->minimumWidth = c.limits[0];
        r->minimumHeight = c.limits[1];
        r->maximumWidth = c.limits[2];
        r->maximumHeight = c.limits[3];
        MINMAXINFO info = {};
        info.ptMinTrackSize = {-5, -6};
        info.ptMaxTrackSize = {-7, -8};
        EXPECT_EQ(WindowProc(target, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
        EXPECT_EQ(info.ptMinTrackSize.x, c.minimum.x);
        EXPECT_EQ(info.ptMinTrackSize.y, c.minimum.y);
        EXPECT_EQ(info.ptMaxTrackSize.x, c.maximum.x);
        EXPECT_EQ(info.ptMaxTrackSize.y, c.maximum.y);
        WindowClose(3);
    }
}

TEST_F(WindowProcTest, Commands)
{
    auto notifyAnswers = [](LRESULT answer) { return [answer] { NotifyAnswer = answer; }; };
    std::string notifyButton = "GadgetNotify " + Hex(button);
    std::string notifyNone = "GadgetNotify " + Hex(nullptr);
    auto buttonParam = reinterpret_cast<LPARAM>(button);
    RunSteps({
        {"click on a gadget", {}, window, WM_COMMAND, MAKEWPARAM(4, BN_CLICKED), buttonParam, 0,
         {Event(EVT_GADGET, 4, 2, 0)}, {notifyButton}, {}},
        {"other notification of a gadget: its code is the type", {}, window, WM_COMMAND,
         MAKEWPARAM(4, BN_DOUBLECLICKED), buttonParam, 0,
         {Event(EVT_GADGET, 4, 2, BN_DOUBLECLICKED)}, {notifyButton}, {}},
        {"the identifier is read from the control, not from wParam", {}, window, WM_COMMAND,
         MAKEWPARAM(77, 0), buttonParam, 0, {Event(EVT_GADGET, 4, 2, 0)}, {notifyButton}, {}},
        {"the gadget kind handled it", notifyAnswers(0), window, WM_COMMAND,
         MAKEWPARAM(4, BN_CLICKED), buttonParam, 0, NONE, {notifyButton}, {}},
        {"a control with the menu identifier", {}, window, WM_COMMAND, MAKEWPARAM(123, 9),
         reinterpret_cast<LPARAM>(menuControl), 0, {Event(EVT_MENU_COMMAND, 123)},
         {"GadgetNotify " + Hex(menuControl)}, {}},
        {"a menu", {}, window, WM_COMMAND, 321, 0, 0, {Event(EVT_MENU_COMMAND, 321)},
         {notifyNone}, {}},
        {"Tab", {}, window, WM_COMMAND, MAKEWPARAM(64001, 1), 0, 0, NONE,
         {notifyNone, "TabNavigate forward"}, {}},
        {"Shift+Tab", {}, window, WM_COMMAND, MAKEWPARAM(64002, 1), 0, 0, NONE,
         {notifyNone, "TabNavigate backward"}, {}},
        {"another accelerator", {}, window, WM_COMMAND, MAKEWPARAM(500, 1), 0, 0,
         {Event(EVT_MENU_COMMAND, 500)}, {notifyNone}, {}},
        {"a click reaching a child's procedure names the parent window", {}, child, WM_COMMAND,
         MAKEWPARAM(4, 0), buttonParam, 0, {Event(EVT_GADGET, 4, 2, 0)}, {notifyButton}, {}},
    });
}

TEST_F(WindowProcTest, ControlNotificationsGoToTheGadgetKind)
{
    const UINT messages[] = {WM_HSCROLL, WM_VSCROLL, WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX,
                             WM_CTLCOLORBTN, WM_CTLCOLORSTATIC, 13120};
    for (UINT message : messages) {
        SCOPED_TRACE(message);
        Flush();
        NotifyAnswer = 55;
        EXPECT_EQ(WindowProc(window, message, 3, reinterpret_cast<LPARAM>(button)), 55);
        EXPECT_EQ(NotifyControl, button);
        EXPECT_EQ(NotifyMessage, message);
        EXPECT_EQ(Posts, NONE);
    }

    NMHDR header = {button, 4, 0};
    auto notify = reinterpret_cast<LPARAM>(&header);
    RunSteps({
        {"WM_NOTIFY answered by the kind", [] { NotifyAnswer = 77; }, window, WM_NOTIFY, 4, notify,
         77, NONE, {"GadgetNotify " + Hex(button)}, {}},
        {"WM_NOTIFY not handled goes to the default procedure", {}, window, WM_NOTIFY, 4, notify,
         0, NONE, {"GadgetNotify " + Hex(button)}, {}},
        {"WM_NOTIFY without a header", {}, window, WM_NOTIFY, 4, 0, 0, NONE,
         {"GadgetNotify " + Hex(nullptr)}, {}},
    });
}

TEST_F(WindowProcTest, MouseTimerAndTray)
{
    RunSteps({
        {"WM_LBUTTONUP", {}, window, WM_LBUTTONUP, 0, 0, 0, {Event(EVT_LEFT_BUTTON_UP, 0)}, {}, {}},
        {"WM_LBUTTONDBLCLK", {}, window, WM_LBUTTONDBLCLK, 0, 0, 0,
         {Event(EVT_LEFT_DOUBLE_CLICK, 0)}, {}, {}},
        {"WM_RBUTTONUP", {}, window, WM_RBUTTONUP, 0, 0, 0, {Event(EVT_RIGHT_BUTTON_UP, 0)}, {}, {}},
        {"WM_LBUTTONUP on a child finds the window's number", {}, child, WM_LBUTTONUP, 0, 0, 0,
         {Event(EVT_LEFT_BUTTON_UP, 0)}, {}, {}},
        {"WM_TIMER", {}, window, WM_TIMER, 7, 0, 0, {Event(EVT_TIMER_TICK, 7)}, {}, {}},
    });

    struct TrayCase {
        LPARAM mouse;
        std::vector<Posted> events;
    } trays[] = {
        {WM_LBUTTONDOWN, {Event(EVT_TRAY_ICON, 42, 2, 0)}},
        {WM_RBUTTONDOWN, {Event(EVT_TRAY_ICON, 42, 2, 1)}},
        {WM_LBUTTONDBLCLK, {Event(EVT_TRAY_ICON, 42, 2, 2)}},
        {WM_RBUTTONDBLCLK, {Event(EVT_TRAY_ICON, 42, 2, 3)}},
        {WM_MOUSEMOVE, NONE},
        {WM_LBUTTONUP, NONE},
    };
    for (const TrayCase& c : trays) {
        SCOPED_TRACE(c.mouse);
        Flush();
        EXPECT_EQ(WindowProc(window, 12501, 42, c.mouse), 0);
        EXPECT_EQ(Posts, c.events);
        MSG msg;
        EXPECT_TRUE(PeekMessageA(&msg, window, WM_NULL, WM_NULL, PM_REMOVE)) << "WM_NULL posted";
        EXPECT_FALSE(PeekMessageA(&msg, window, WM_NULL, WM_NULL, PM_REMOVE)) << "only one";
    }
}

TEST_F(WindowProcTest, UnknownMessagesReachTheDefaultProcedure)
{
    EXPECT_EQ(WindowProc(window, WM_GETTEXTLENGTH, 0, 0), 7);  // "Norvane"
    char text[16] = {};
    EXPECT_EQ(WindowProc(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text)), 7);
    EXPECT_STREQ(text, "Norvane");
    EXPECT_EQ(WindowProc(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("other")), TRUE);
    EXPECT_EQ(WindowProc(window, WM_GETTEXTLENGTH, 0, 0), 5);
    EXPECT_EQ(Posts, NONE);
    EXPECT_EQ(Calls, std::vector<std::string>{});
}

// Without its number, or with one set by someone else (any process can set
// the property), a window's messages touch no record.
TEST_F(WindowProcTest, WithoutTheNumberNothingTouchesTheRecord)
{
    const struct {
        const char* what;
        HANDLE value;  // null: removed
    } numbers[] = {
        {"removed", nullptr}, {"a wild address", (HANDLE)(uintptr_t)0x41414141},
        {"-1", (HANDLE)-1}, {"the most negative number", (HANDLE)(uintptr_t)INTPTR_MIN},
        {"a number of no open window", (HANDLE)9},
        {"another window's handle", button},
    };
    for (const auto& number : numbers) {
        SCOPED_TRACE(number.what);
        NumberlessMessages(number.value);
    }
}

void WindowProcTest::NumberlessMessages(HANDLE number)
{
    ASSERT_EQ(WindowSetColor(2, RGB(9, 9, 9)), 1);
    record->sized = 0;
    if (number)
        SetPropA(window, "KX_WindowID", number);
    else
        RemovePropA(window, "KX_WindowID");
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 400, 300);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    COLORREF face = GetSysColor(COLOR_BTNFACE);

    RunSteps({
        {"WM_SIZE", {}, window, WM_SIZE, SIZE_MINIMIZED, 0, 1, NONE, {},
         [&] { EXPECT_EQ(record->sized, 0); }},
        {"WM_MOVE", {}, window, WM_MOVE, 0, 0, 0, NONE, {}, {}},
        {"WM_CLOSE", {}, window, WM_CLOSE, 0, 0, 0, NONE, {}, {}},
        {"WM_ACTIVATE", {}, window, WM_ACTIVATE, WA_ACTIVE, 0, 1,
         {Event(EVT_WINDOW_ACTIVATED, 0, -1)}, {}, {}},
        {"WM_ERASEBKGND: the class brush, not the record's", {}, window, WM_ERASEBKGND,
         reinterpret_cast<WPARAM>(dc), 0, 1, {Event(EVT_BACKGROUND_ERASED, 0, -1)}, {},
         [&] { EXPECT_EQ(PixelAfterErase(window, dc), face); }},
        {"WM_LBUTTONUP", {}, window, WM_LBUTTONUP, 0, 0, 0,
         {Event(EVT_LEFT_BUTTON_UP, 0, -1)}, {}, {}},
        {"WM_COMMAND", {}, window, WM_COMMAND, 0, reinterpret_cast<LPARAM>(button), 0,
         {Event(EVT_GADGET, 4, -1, 0)}, {"GadgetNotify " + Hex(button)}, {}},
        {"WM_TIMER goes to the default procedure", {}, window, WM_TIMER, 7, 0, 0, NONE, {}, {}},
    });
    MINMAXINFO info = {};
    info.ptMinTrackSize = {-5, -6};
    record->minimumWidth = 50;
    WindowProc(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_NE(info.ptMinTrackSize.x, 50) << "no record, no limits";

    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    record->minimumWidth = 0;
    SetPropA(window, "KX_WindowID", (HANDLE)3);
}

// Opening: the container is set before the number, and every event posted
// while the window is created, placed and shown carries window -1.
TEST(WindowOpenTest, EventsDuringOpeningCarryNoNumber)
{
    ServiceReady();
    Flush();
    auto window = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 300, 200, "Norvane", 5));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Calls, std::vector<std::string>{"GadgetContainerSet " + Hex(window)});
    EXPECT_FALSE(PropertyAtContainerSet) << "the number is set after the container";
    EXPECT_EQ((intptr_t)GetPropA(window, "KX_WindowID"), 3);
    EXPECT_FALSE(Posts.empty()) << "showing activates and erases";
    for (const Posted& posted : Posts) {
        EXPECT_EQ(std::get<2>(posted), -1) << "event " << std::get<0>(posted);
        EXPECT_NE(std::get<0>(posted), EVT_WINDOW_MOVED);
        EXPECT_NE(std::get<0>(posted), EVT_WINDOW_RESIZED);
    }

    Flush();
    WindowClose(2);
    // Destroying deactivates (cues hidden); the purges come after it.
    ASSERT_GE(Calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(Calls.end() - 2, Calls.end()),
              (std::vector<std::string>{"EventPurgeWindow 2", "EventBindingsPurgeWindow 2"}));
    for (const Posted& posted : Posts)
        EXPECT_EQ(std::get<2>(posted), -1) << "closing: event " << std::get<0>(posted);
    EXPECT_FALSE(IsWindow(window));

    Flush();
    ASSERT_NE(WindowOpen(2, 0, 0, 300, 200, "Norvane", 0x1000000D), 0);
    EXPECT_EQ(Calls, std::vector<std::string>{}) << "WINDOW_NO_CONTAINER";
    WindowClose(2);
}

// Failures while opening leave nothing behind: no window, class or record.
typedef HWND(WINAPI* CreateWindowExARoutine)(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int,
                                              HWND, HMENU, HINSTANCE, LPVOID);
typedef HACCEL(WINAPI* CreateAcceleratorTableARoutine)(LPACCEL, int);
typedef LPVOID(WINAPI* HeapAllocRoutine)(HANDLE, DWORD, SIZE_T);

HeapAllocRoutine RealHeapAlloc;
SIZE_T FailingSize;
HWND LastCreated;
CreateWindowExARoutine RealCreateWindowExA;

HWND WINAPI FailingCreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU,
                                   HINSTANCE, LPVOID)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HWND WINAPI NotingCreateWindowExA(DWORD e, LPCSTR c, LPCSTR t, DWORD s, int x, int y, int w, int h,
                                  HWND p, HMENU m, HINSTANCE i, LPVOID v)
{
    LastCreated = RealCreateWindowExA(e, c, t, s, x, y, w, h, p, m, i, v);
    return LastCreated;
}

HACCEL WINAPI FailingCreateAcceleratorTableA(LPACCEL, int)
{
    return nullptr;
}

LPVOID WINAPI SizeFailingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    if (heap == MainHeap && size == FailingSize)
        return nullptr;
    return RealHeapAlloc(heap, flags, size);
}

bool ClassRegistered(const char* name)
{
    WNDCLASSA info;
    return GetClassInfoA(InstanceHandle, name, &info) != 0;
}

TEST(WindowOpenTest, FailuresLeaveNothingBehind)
{
    ServiceReady();
    RealCreateWindowExA = (CreateWindowExARoutine)__imp_CreateWindowExA;
    RealHeapAlloc = (HeapAllocRoutine)__imp_HeapAlloc;
    {
        SCOPED_TRACE("the window cannot be created");
        Flush();
        ImportSlotScope failing(&__imp_CreateWindowExA, (void*)FailingCreateWindowExA);
        EXPECT_EQ(WindowOpen(2, 0, 0, 300, 200, "Norvane", 5), 0);
        EXPECT_FALSE(ClassRegistered("WindowClass_2"));
        EXPECT_EQ(ObjectGet(WindowTable, 2), nullptr);
        EXPECT_EQ(Calls, std::vector<std::string>{});
    }
    {
        SCOPED_TRACE("no accelerator table");
        Flush();
        ImportSlotScope noting(&__imp_CreateWindowExA, (void*)NotingCreateWindowExA);
        ImportSlotScope failing(&__imp_CreateAcceleratorTableA, (void*)FailingCreateAcceleratorTableA);
        EXPECT_EQ(WindowOpen(2, 0, 0, 300, 200, "Norvane", 0x10000005), 0);
        EXPECT_FALSE(IsWindow(LastCreated));
        EXPECT_FALSE(ClassRegistered("WindowClass_2"));
        EXPECT_EQ(ObjectGet(WindowTable, 2), nullptr);
    }
    {
        SCOPED_TRACE("no memory for the accelerator entries");
        Flush();
        ImportSlotScope noting(&__imp_CreateWindowExA, (void*)NotingCreateWindowExA);
        FailingSize = 12;
        ImportSlotScope failing(&__imp_HeapAlloc, (void*)SizeFailingHeapAlloc);
        EXPECT_EQ(WindowOpen(2, 0, 0, 300, 200, "Norvane", 0x10000005), 0);
        EXPECT_FALSE(IsWindow(LastCreated));
        EXPECT_FALSE(ClassRegistered("WindowClass_2"));
        EXPECT_EQ(ObjectGet(WindowTable, 2), nullptr);
    }
    {
        SCOPED_TRACE("no memory for the record of a new number");
        Flush();
        LastCreated = nullptr;
        ImportSlotScope noting(&__imp_CreateWindowExA, (void*)NotingCreateWindowExA);
        FailingSize = sizeof(WindowRecord);
        ImportSlotScope failing(&__imp_HeapAlloc, (void*)SizeFailingHeapAlloc);
        EXPECT_EQ(WindowOpen(40, 0, 0, 300, 200, "Norvane", 0x10000005), 0);
        EXPECT_EQ(LastCreated, nullptr) << "nothing created";
        EXPECT_FALSE(ClassRegistered("WindowClass_40"));
    }
    // And the same number opens normally afterwards.
    EXPECT_NE(WindowOpen(2, 0, 0, 300, 200, "Norvane", 0x10000005), 0);
    EXPECT_NE(WindowAccelerators(2), nullptr);
    WindowClose(2);
}

}  // namespace
