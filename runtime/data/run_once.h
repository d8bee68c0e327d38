// One-time initialisation shared by several threads.
#pragma once

#include <stdint.h>

// The state word of one RunOnce routine: zero before the first call, then
// owned by RunOnce. Pointer-sized because the system's one-time object that
// may live in it is.
typedef intptr_t RunOnceState;

// Runs routine exactly once per state word, however many threads call;
// every caller returns only after the routine has completed. Uses the
// system's one-time initialisation when kernel32 has it.
void RunOnce(volatile RunOnceState* state, void (*routine)());

// The path RunOnce takes when the system has no one-time initialisation:
// the state word as 0 untouched, 1 running, 2 done. A state word must be
// used by one of the two paths only. Exposed for tests.
void RunOnceFallback(volatile RunOnceState* state, void (*routine)());
