// Pauses at 1 ms timer resolution.
//
// timeBeginPeriod is an ordinary import, so the multimedia library is loaded
// with the image, on the main thread, before anything runs: the first pause,
// which may be a time-critical worker's, does no loader work. The 1 ms
// request lasts as long as the process; timeEndPeriod is never called.
#include "runtime/process/pause.h"

#include <windows.h>
#include <mmsystem.h>

extern "C" {

int32_t TimerResolutionRaised;

void Pause(uint32_t milliseconds)
{
    // The request comes before the first sleep, so that sleep already runs at
    // 1 ms resolution.
    if (TimerResolutionRaised == 0) {
        timeBeginPeriod(1);
        TimerResolutionRaised = 1;
    }
    Sleep(milliseconds);
}

}
