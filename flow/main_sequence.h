// The entry routine, the program's shared integers and its end path.
#pragma once

#include <stdint.h>

extern "C" {

// 1 once the user chose the repeating run; never reset. Main thread only.
extern int32_t RepeatFlag;

// Process entry: starts the services, registers the worker routine under
// "Norvane()", runs FullBlock(8), then launches the workers once, or again
// and again with a 2097152 ms pause while RepeatFlag is 1. Never returns: the
// process ends with exit code 0.
[[noreturn]] void MainSequence(void);

}

// The end path: ProcessEnd, StringServiceEnd, HeapDestroy of the main heap,
// ExitProcess(0). Runs no exercise block itself.
[[noreturn]] void EndPath();

// The pause between repetitions: 2^21 ms, 34 min 57.152 s.
constexpr uint32_t REPEAT_PAUSE_MS = 2097152;
