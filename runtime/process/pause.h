// Pauses at 1 ms timer resolution.
#pragma once

#include <stdint.h>

extern "C" {

// 0 until the first Pause of the process, then 1. Read and written without a
// lock: overlapping first pauses may each request the resolution, which is
// harmless because every request is the same and none is withdrawn.
extern int32_t TimerResolutionRaised;

// Sleeps the calling thread for milliseconds (handed to Sleep unchanged),
// raising the system timer resolution to 1 ms on the first call.
void Pause(uint32_t milliseconds);

}
