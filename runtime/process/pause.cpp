// Pauses at 1 ms timer resolution.
//
// The multimedia library that sets the resolution is loaded at the first
// pause, not with the image: it brings several more system libraries with it
// and the control window has no use for them, so the window appears sooner
// and the process stays smaller until the first run. It stays loaded — the
// 1 ms request lasts as long as the process, and timeEndPeriod is never
// called. Without the library the pauses still work, at the system's
// default resolution.
#include "runtime/process/pause.h"

#include <windows.h>
#include <mmsystem.h>

extern "C" {

int32_t TimerResolutionRaised;

typedef MMRESULT(WINAPI* TimeBeginPeriodEntry)(UINT period);

static void TimerResolutionRaise()
{
    HMODULE winmm = LoadLibraryA("winmm.dll");
    if (!winmm)
        return;
    auto begin = reinterpret_cast<TimeBeginPeriodEntry>(
        reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod")));
    if (begin)
        begin(1);
}

void Pause(uint32_t milliseconds)
{
    // The request comes before the first sleep, so that sleep already runs at
    // 1 ms resolution.
    if (TimerResolutionRaised == 0) {
        TimerResolutionRaise();
        TimerResolutionRaised = 1;
    }
    Sleep(milliseconds);
}

}
