// The worker launch.
#pragma once

#include <stdint.h>

// Runs the control window while RepeatFlag is 0, then starts WorkerRoutine on
// max(1, n - 1) threads for n processors at priority level 32, pauses
// WorkerPauseMs (256 ms), waits up to 32 ms for each worker and returns 0.
// Takes the end path instead when a worker is not running after its creation.
int32_t LaunchWorkers();
