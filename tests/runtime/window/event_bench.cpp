// Event queue figures (benchmark/run.sh): nanoseconds per operation for a
// post and take at queue depth 1, a post coalesced at the tail, a burst of
// 1000 distinct posts then 1000 takes, one posted message fetched and
// dispatched by EventWait(0), and one event through the hidden window.
#include <stdio.h>

#include "runtime/process/globals.h"
#include "tests/runtime/window/window_services.h"

static double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1e9 / (double)frequency.QuadPart;
}

template <typename Body>
static void Measure(const char* name, int rounds, int operationsPerRound, Body body)
{
    body();  // warm: the pool's chunks exist afterwards
    double start = Now();
    for (int i = 0; i < rounds; ++i)
        body();
    double perOperation = (Now() - start) / ((double)rounds * operationsPerRound);
    printf("%-46s %10.1f ns\n", name, perOperation);
}

int main()
{
    InstanceHandle = GetModuleHandleA(nullptr);
    MainHeap = HeapCreate(0, 4096, 0);
    WindowServicesStart();
    HWND window = (HWND)WindowOpen(WINDOW_MAIN, 0, 0, 300, 200, "bench", 5 | WINDOW_START_HIDDEN);
    while (EventWait(0) != 0) {
    }
    EventQueueDrain();

    Measure("EventPost + EventNext, depth 1", 200000, 1, [] {
        EventPost(EVT_GADGET, 4, 2, 0);
        EventNext();
    });
    Measure("EventPost coalesced at the tail", 200000, 1, [] { EventPost(EVT_BACKGROUND_ERASED, 0, 2, 0); });
    EventQueueDrain();
    Measure("1000 distinct posts, then 1000 takes (per event)", 200, 1000, [] {
        for (int i = 0; i < 1000; ++i)
            EventPost(EVT_GADGET, i, 2, 0);
        while (EventNext() != 0) {
        }
    });
    Measure("PostMessageA + EventWait(0) on window 2", 20000, 1, [window] {
        PostMessageA(window, WM_USER + 1, 0, 0);
        EventWait(0);
    });
    Measure("EventPostMessage + two EventWait(0)", 20000, 1, [] {
        EventPostMessage(EVT_GADGET, 4, 2, 0, nullptr);
        EventWait(0);
        EventWait(0);
    });
    WindowClose(WINDOW_MAIN);
    return 0;
}
