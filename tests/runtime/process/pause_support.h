// Counts timeBeginPeriod calls by replacing this program's import of it; the
// real routine still runs behind the count.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "import_slot.h"

IMPORT_SLOT(timeBeginPeriod, 4);

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

// Installs the counter for the rest of the process.
inline void TimerPeriodCountStart()
{
    RealTimeBeginPeriod = (MMRESULT(WINAPI*)(UINT))ImportSlotSwap(
        &__imp_timeBeginPeriod, (void*)CountingTimeBeginPeriod);
}
