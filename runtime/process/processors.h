// The processor count, from the Win32 affinity masks.
#pragma once

#include "runtime/base.h"

// Set bits among bits 0 to 31 of mask, tested one position after the other.
constexpr int32_t CountMaskBits(uint32_t mask)
{
    int32_t count = 0;
    for (int bit = 0; bit < 32; ++bit)
        count += (mask >> bit) & 1;
    return count;
}

// which 0: the processors of the system (the system affinity mask); any other
// value: those this process may run on (the process affinity mask). Only
// bits 0 to 31 count, so the result is 0 to 32; 1 when the masks cannot be read.
int32_t CountProcessors(int32_t which);

// CountProcessors for the masks of any process handle; CountProcessors is
// this with GetCurrentProcess(). Lets a caller reach the failure answer with a
// handle that cannot be queried.
int32_t CountProcessorsOf(HANDLE process, int32_t which);
