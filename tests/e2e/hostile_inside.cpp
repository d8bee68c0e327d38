// The control window built with the runtime as the program builds it, then
// random window-system messages from its own thread:
//   hostile_inside SEED COUNT LOG
//
// After start-up (every service, as the program starts them) it loads the
// two fonts, opens window 2, colours it and makes the three buttons with
// their fonts. It posts the forged cases of hostile_messages.h and sends or
// posts the destruction cases, one at a time, and takes each through
// EventWait. Then it sends (SendMessageA, straight
// into the procedures) and posts COUNT random messages to window 2, its
// buttons and the hidden window, with valid structures wherever a message
// carries a pointer, and takes what was posted through EventWait every 64
// posts. No event the program acts on may arise (a click of 4, 8 or 16, or
// a close request), the window must stay usable, and the timer procedure
// that posted WM_TIMER messages name must never run. Then it waits for a
// real click on the run button, releases the buttons, fonts and window in
// the program's order, runs the end routines and exits with code 0. Lines
// in LOG, flushed at once so that a script can follow:
//   forged WHAT: survived   made-up values only the system should hand over
//   fuzz SEED SENT POSTED REFUSED EXCLUDED MS
//   ready X Y          the run button's centre on the screen
//   event CODE SOURCE  each click or close request after ready
//   released
//   fault TEXT         (exit code 1), followed by the recent messages
// Exit code 3 when no click came within 120 s.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "runtime/process/globals.h"
#include "runtime/process/process_start.h"
#include "runtime/window/event.h"
#include "runtime/window/font.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"
#include "tests/e2e/hostile_messages.h"

constexpr int PUMP_EVERY = 64;
constexpr DWORD CLICK_LIMIT_MS = 120000;

static HANDLE Log;
static HostileTarget Targets[HOSTILE_TARGETS];
static std::vector<HostileMessage> Recent;
static int TimerProcedureCalls;
static unsigned char RandomBuffer[HOSTILE_BUFFER_SIZE];
static unsigned char ZeroBuffer[HOSTILE_BUFFER_SIZE];

static void LogLine(const char* format, ...)
{
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    DWORD written;
    WriteFile(Log, line, (DWORD)length, &written, nullptr);
    FlushFileBuffers(Log);
}

static int Fault(const char* what)
{
    static const char* const names[HOSTILE_TARGETS] = {"window", "button4", "button8", "button16",
                                                      "eventwindow"};
    LogLine("fault %s\n", what);
    for (const HostileMessage& m : Recent)
        LogLine("  %s %s 0x%x 0x%llx 0x%llx%s\n", m.send ? "send" : "post", names[m.target],
                m.message, (unsigned long long)m.wParam, (unsigned long long)m.lParam,
                m.pointer ? " (pointers)" : "");
    return 1;
}

static void CALLBACK TimerProcedure(HWND, UINT, UINT_PTR, DWORD) { ++TimerProcedureCalls; }

// Takes everything queued; null when no event the program acts on came.
static const char* Pump()
{
    while (int32_t code = EventWait(0)) {
        ObjectNumber source = EventSource();
        if (code == EVT_CLOSE_WINDOW)
            return "a close request arose";
        if (code == EVT_GADGET && (source == 4 || source == 8 || source == 16))
            return "a click arose";
    }
    return nullptr;
}

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    uint64_t seed = _strtoui64(argv[1], nullptr, 10);
    int count = atoi(argv[2]);
    Log = CreateFileA(argv[3], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (Log == INVALID_HANDLE_VALUE)
        return 2;

    InstanceHandle = GetModuleHandleA(nullptr);
    MainHeap = HeapCreate(0, 4096, 0);
    if (!ProcessStart())
        return Fault("the services did not start");
    ObjectNumber smallFont = FontLoad(ANY_NUMBER, "Arial", 12, FONT_PROOF_QUALITY);
    ObjectNumber largeFont = FontLoad(ANY_NUMBER, "Arial", 14, FONT_PROOF_QUALITY);
    HWND window = (HWND)WindowOpen(WINDOW_MAIN, 0, 0, 300, 200, "Norvane",
                                   WINDOW_CENTRE_SCREEN | WINDOW_TOOL_STYLE);
    WindowSetColor(WINDOW_MAIN, 1);
    HWND run = (HWND)ButtonCreate(4, 20, 20, 256, 60, "Run norvane");
    GadgetSetFont(4, (intptr_t)FontHandle(largeFont));
    HWND repeat = (HWND)ButtonCreate(8, 20, 100, 256, 40, "Repeat the run every 34min");
    GadgetSetFont(8, (intptr_t)FontHandle(largeFont));
    HWND exit = (HWND)ButtonCreate(16, 230, 155, 50, 35, "EXIT");
    GadgetSetFont(16, (intptr_t)FontHandle(smallFont));
    Targets[0] = {window, HOSTILE_WINDOW};
    Targets[1] = {run, HOSTILE_BUTTON};
    Targets[2] = {repeat, HOSTILE_BUTTON};
    Targets[3] = {exit, HOSTILE_BUTTON};
    Targets[4] = {PostEventWindow, HOSTILE_EVENT_WINDOW};
    for (const HostileTarget& t : Targets)
        if (!t.window)
            return Fault("the control window could not be built");
    if (const char* fault = Pump())
        return Fault(fault);

    HostileBuffers buffers = {RandomBuffer, ZeroBuffer};
    HostileGenerator generator(seed, Targets, PostEventMessage, buffers, TimerProcedure);
    HWND own =
        CreateWindowA("STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    generator.PointerMessagesLearn(own);
    DestroyWindow(own);

    std::vector<HostileForgedCase> forged(std::begin(HOSTILE_FORGED), std::end(HOSTILE_FORGED));
    forged.insert(forged.end(), std::begin(HOSTILE_LIFECYCLE), std::end(HOSTILE_LIFECYCLE));
    const HostileTexts texts = HostileTextsRead(Targets);
    for (const HostileForgedCase& c : forged) {
        LPARAM lParam = c.lParam == HOSTILE_TIMER_PROCEDURE ? (LPARAM)TimerProcedure : c.lParam;
        if (c.send)
            SendMessageA(Targets[c.target].window, c.message, c.wParam, lParam);
        else
            PostMessageA(Targets[c.target].window, c.message, c.wParam, lParam);
        const char* fault = Pump();
        if (!fault)
            fault = HostileCaseFault(Targets, texts);
        if (!fault && TimerProcedureCalls)
            fault = "the timer procedure ran";
        if (fault) {
            LogLine("forged %s: %s\n", c.what, fault);
            return 1;
        }
        LogLine("forged %s: survived\n", c.what);
    }

    int sent = 0, posted = 0, refused = 0, excluded = 0, postedSincePump = 0;
    DWORD start = GetTickCount();
    for (int i = 0; i < count; ++i) {
        HostileMessage m = generator.Next();
        if (generator.Excluded(m)) {
            ++excluded;
            continue;
        }
        Recent.push_back(m);
        HWND target = Targets[m.target].window;
        if (m.send) {
            SendMessageA(target, m.message, m.wParam, m.lParam);
            ++sent;
        } else if (PostMessageA(target, m.message, m.wParam, m.lParam)) {
            ++posted;
            ++postedSincePump;
        } else {
            ++refused;
        }
        if (postedSincePump == PUMP_EVERY || i + 1 == count) {
            postedSincePump = 0;
            const char* fault = Pump();
            if (!fault)
                fault = HostileWindowFault(Targets);
            if (!fault && TimerProcedureCalls)
                fault = "a posted WM_TIMER ran the procedure it named";
            if (fault)
                return Fault(fault);
            Recent.clear();
        }
    }
    LogLine("fuzz %llu %d %d %d %d %lu\n", (unsigned long long)seed, sent, posted, refused,
            excluded, (unsigned long)(GetTickCount() - start));

    RECT button;
    GetWindowRect(run, &button);
    LogLine("ready %ld %ld\n", (button.left + button.right) / 2, (button.top + button.bottom) / 2);
    start = GetTickCount();
    for (;;) {
        if (GetTickCount() - start > CLICK_LIMIT_MS)
            return 3;
        int32_t code = EventWait(250);
        ObjectNumber source = EventSource();
        if (code == EVT_GADGET || code == EVT_CLOSE_WINDOW)
            LogLine("event %d %lld\n", code, (long long)source);
        if (code == EVT_CLOSE_WINDOW || (code == EVT_GADGET && (source == 8 || source == 16)))
            return Fault("an event other than the run button's click");
        if (code == EVT_GADGET && source == 4)
            break;
    }
    GadgetFree(4);
    GadgetFree(8);
    GadgetFree(16);
    FontFree(smallFont);
    FontFree(largeFont);
    WindowClose(WINDOW_MAIN);
    LogLine("released\n");
    ProcessEnd();
    CloseHandle(Log);
    HeapDestroy(MainHeap);
    ExitProcess(0);
}
