// A window for tests with real X input: event_input_probe LOG CLOSES [fuzz]
//
// Opens window 2 "Norvane input probe" with buttons 4, 8 and 16 as the
// control window does, and calls EventWait in a loop, writing one line per
// result to LOG (flushed at once, so a script can follow it):
//   ready                       the window is up
//   button G X Y                centre of button G relative to the window's outer rectangle
//   wait CODE SOURCE TYPE       a non-zero EventWait result, with EventSource and the current type
//   focus G                     the focus moved to gadget G (0: the window itself, -1: elsewhere)
//   open VISIBLE                after each EVT_CLOSE_WINDOW: whether window 2 is still shown
//   fuzz SEED SENT POSTED       with "fuzz": the random messages run before "ready"
// It exits after CLOSES close events (code 0), or after 90 s (code 3).
#include <stdio.h>
#include <stdlib.h>

#include "runtime/data/keyed_map.h"
#include "runtime/process/globals.h"
#include "tests/runtime/window/event_message_fuzz.h"
#include "tests/runtime/window/event_test_support.h"

static HANDLE Log;

static void LogLine(const char* format, long long a = 0, long long b = 0, long long c = 0)
{
    char line[128];
    int length = snprintf(line, sizeof line, format, a, b, c);
    DWORD written;
    WriteFile(Log, line, (DWORD)length, &written, nullptr);
    FlushFileBuffers(Log);
}

static const ObjectNumber GADGETS[] = {4, 8, 16};

static long long FocusGadget(HWND window, HWND* buttons)
{
    HWND focus = GetFocus();
    if (focus == window)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (focus == buttons[i])
            return GADGETS[i];
    return -1;
}

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    InstanceHandle = GetModuleHandleA(nullptr);
    MainHeap = HeapCreate(0, 4096, 0);
    Log = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (Log == INVALID_HANDLE_VALUE)
        return 2;
    int closesToExit = atoi(argv[2]);
    bool fuzz = argc > 3 && strcmp(argv[3], "fuzz") == 0;

    WindowServicesStart();
    HWND window = (HWND)WindowOpen(WINDOW_MAIN, 0, 0, 300, 200, "Norvane input probe", 5);
    HWND buttons[3] = {
        (HWND)ButtonCreate(4, 20, 20, 256, 60, "Run norvane"),
        (HWND)ButtonCreate(8, 20, 100, 256, 40, "Repeat the run every 34min"),
        (HWND)ButtonCreate(16, 230, 155, 50, 35, "EXIT"),
    };
    if (!window || !buttons[0] || !buttons[1] || !buttons[2])
        return 4;
    RECT outer;
    GetWindowRect(window, &outer);
    for (int i = 0; i < 3; ++i) {
        RECT r;
        GetWindowRect(buttons[i], &r);
        LogLine("button %lld %lld %lld\n", GADGETS[i], (r.left + r.right) / 2 - outer.left,
                (r.top + r.bottom) / 2 - outer.top);
    }
    if (fuzz) {
        std::vector<FuzzTarget> targets = {{window, true}, {PostEventWindow, true}};
        for (HWND button : buttons)
            targets.push_back({button, false});
        const uint32_t seed = 20261207;
        FuzzCounts counts = FuzzMessages(seed, 10000, targets, PostEventMessage, [] {
            EventPump();
            EventQueueTakeAll();
        });
        ReleaseCapture();
        LogLine("fuzz %lld %lld %lld\n", seed, counts.sent, counts.posted);
    }
    EventPump();
    EventQueueTakeAll();
    LogLine("ready\n");

    long long focus = FocusGadget(window, buttons);
    LogLine("focus %lld\n", focus);
    int closes = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 90000) {
        int32_t code = EventWait(250);
        if (code != 0)
            LogLine("wait %lld %lld %lld\n", code, EventSource(), EventQueueGet()->currentType);
        long long now = FocusGadget(window, buttons);
        if (now != focus) {
            focus = now;
            LogLine("focus %lld\n", focus);
        }
        if (code == EVT_CLOSE_WINDOW) {
            LogLine("open %lld\n", IsWindow(window) && IsWindowVisible(window));
            if (++closes >= closesToExit) {
                WindowClose(WINDOW_MAIN);
                CloseHandle(Log);
                return 0;
            }
        }
    }
    CloseHandle(Log);
    return 3;
}
