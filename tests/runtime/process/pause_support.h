// Counts timeBeginPeriod calls by replacing the entry the runtime looked up
// for it; the real routine still runs behind the count.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "runtime/process/system_library.h"

struct TimerPeriodCalls {
    std::atomic<int> count;
    std::atomic<UINT> lastPeriod;
};
inline TimerPeriodCalls TimerPeriodCalled;
inline MMRESULT(WINAPI* RealTimeBeginPeriod)(UINT);

inline MMRESULT WINAPI CountingTimeBeginPeriod(UINT period)
{
    ++TimerPeriodCalled.count;
    TimerPeriodCalled.lastPeriod = period;
    return RealTimeBeginPeriod(period);
}

// Looks the entry up as the entry routine does, then installs the counter
// for the rest of the process.
inline void TimerPeriodCountStart()
{
    SystemImportsInit();
    RealTimeBeginPeriod = TimeBeginPeriodEntry;
    TimeBeginPeriodEntry = CountingTimeBeginPeriod;
}
