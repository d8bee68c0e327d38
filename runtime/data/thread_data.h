// Per-thread data: one zero-filled block per thread, divided into segments
// that services reserve during start-up.
#pragma once

#include <stdint.h>

#include "runtime/data/thread_exit.h"

typedef void (*SegmentRoutine)(void* segment);

// Reserves a segment of size bytes (rounded up to 4) and returns its offset,
// the total size before it. Set-up runs at once on the calling thread's new
// segment and on each later thread's first ThreadDataGet; clean-up runs when
// such a thread's block is released. Either may be null. Main thread,
// start-up only, before any other thread uses the service.
uint32_t ThreadDataRegister(uint32_t size, SegmentRoutine setUp, SegmentRoutine cleanUp);

// False once a registration could not get the thread-local slot, the memory
// to grow the registering thread's block or its segment record: the block
// then no longer holds every segment, and start-up cannot go on.
bool ThreadDataComplete();

// Bytes of the fallback block below.
constexpr uint32_t THREAD_DATA_FALLBACK_SIZE = 4096;

// The calling thread's segment at offset. A thread's first call makes its
// block (zero-filled, set-ups run newest registration first) and asks for
// the block's release after the thread ends.
// When that block cannot be allocated, the thread is given the process's
// fallback block instead: static, zero-filled, set up once on first use,
// shared by every thread in that state and never cleaned up or freed, so the
// callers, which do not check the result, keep working (threads sharing it
// also share their per-thread state). Null only before any registration,
// when the thread-local slot could not be had, or when the registered
// segments exceed THREAD_DATA_FALLBACK_SIZE.
void* ThreadDataGet(uint32_t offset);

// Runs every clean-up on its segment of block (newest registration first),
// then frees block. Null is ignored.
void ThreadDataRelease(void* block);
