// The worker routine: the program's only thread routine.
#pragma once

#include <windows.h>
#include <stdint.h>

extern "C" {

// Pause inside every worker, in milliseconds. Written (always to 256) by each
// launch before its first worker starts; read by the workers.
extern int32_t WorkerPauseMs;

// Thread routine (Win32 form): FullBlock(4); PauseGuard; Pause(WorkerPauseMs)
// read at that moment; FullBlock(4) four more times; result 0. The argument is
// not read. Preserves every callee-saved register of its ABI. In the PE32
// image it starts on a 4096-byte boundary with int3 (CC) filling the gap.
DWORD WINAPI WorkerRoutine(LPVOID argument);

}
