#include "runtime/process/pause.h"

#include <windows.h>
#include <mmsystem.h>

extern "C" {

int32_t TimerResolutionRaised;

void Pause(uint32_t milliseconds)
{
    // The request comes before the first sleep, so that sleep already runs at
    // 1 ms resolution; timeEndPeriod is never called.
    if (TimerResolutionRaised == 0) {
        timeBeginPeriod(1);
        TimerResolutionRaised = 1;
    }
    Sleep(milliseconds);
}

}
