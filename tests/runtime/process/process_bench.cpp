// Figures for the process services, printed, never asserted:
//   cmake --build build/win64 --target runtime_process_bench
//   tests/support/wine-run.sh build/win64 build/win64/tests/runtime/process/runtime_process_bench.exe
#include <windows.h>

#include <stdio.h>

#include "runtime/process/globals.h"
#include "runtime/process/pause.h"
#include "runtime/process/processors.h"
#include "runtime/process/thread.h"
#include "runtime/process/truncate.h"

static double NowMs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

static DWORD WINAPI RoutineReturn(LPVOID)
{
    return 0;
}

int main()
{
    MainHeap = HeapCreate(0, 4096, 0);
    ThreadServiceInit();

    const int truncations = 10000000;
    volatile double x = 2.7;
    int64_t sum = 0;
    double start = NowMs();
    for (int i = 0; i < truncations; ++i)
        sum += TruncateToInteger(x);
    printf("TruncateToInteger: %.2f ns per call (sum %lld)\n",
           (NowMs() - start) * 1e6 / truncations, (long long)sum);

    const int counts = 100000;
    start = NowMs();
    for (int i = 0; i < counts; ++i)
        sum += CountProcessors(i & 1);
    printf("CountProcessors: %.2f us per call; system %d, process %d\n",
           (NowMs() - start) * 1e3 / counts, CountProcessors(0), CountProcessors(1));

    const int threads = 200;
    start = NowMs();
    for (int i = 0; i < threads; ++i)
        ThreadWait(ThreadCreate(RoutineReturn, 0), INFINITE);
    printf("ThreadCreate + ThreadWait: %.3f ms per thread (%d threads)\n",
           (NowMs() - start) / threads, threads);
    ThreadReleaseAll();

    const uint32_t durations[] = {0, 1, 10, 256};
    for (uint32_t ms : durations) {
        const int pauses = ms >= 256 ? 4 : 50;
        start = NowMs();
        for (int i = 0; i < pauses; ++i)
            Pause(ms);
        printf("Pause(%u): %.3f ms on average\n", ms, (NowMs() - start) / pauses);
    }
    return 0;
}
