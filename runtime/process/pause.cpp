// Pauses at 1 ms timer resolution.
//
// timeBeginPeriod is looked up by the entry routine before anything else
// runs (system_library.h), so the first pause, which may be a time-critical
// worker's, does no loader work. Without the multimedia library the pause
// only sleeps. The 1 ms request lasts as long as the process; timeEndPeriod
// is never called.
#include "runtime/process/pause.h"

#include <windows.h>

#include "runtime/process/system_library.h"

extern "C" {

int32_t TimerResolutionRaised;

void Pause(uint32_t milliseconds)
{
    // The request comes before the first sleep, so that sleep already runs at
    // 1 ms resolution.
    if (TimerResolutionRaised == 0) {
        if (TimeBeginPeriodEntry)
            TimeBeginPeriodEntry(1);
        TimerResolutionRaised = 1;
    }
    Sleep(milliseconds);
}

}
