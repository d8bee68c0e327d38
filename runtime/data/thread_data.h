// Per-thread data: one zero-filled block per thread, divided into segments
// that services reserve during start-up.
#pragma once

#include <stdint.h>

typedef void (*SegmentRoutine)(void* segment);

// Reserves a segment of size bytes (rounded up to 4) and returns its offset.
// Set-up runs at once on the calling thread's new segment and on each later
// thread's first ThreadDataGet; clean-up runs when such a thread's block is
// released. Either may be null. Main thread, start-up only.
uint32_t ThreadDataRegister(uint32_t size, SegmentRoutine setUp, SegmentRoutine cleanUp);

// The calling thread's segment at offset; makes the thread's block on first use.
void* ThreadDataGet(uint32_t offset);

// Runs every clean-up on its segment of block, then frees block.
void ThreadDataRelease(void* block);

// After the calling thread has ended, function(argument) is called once on a
// watcher thread.
void ThreadExitNotify(void (*function)(void* argument), void* argument);
