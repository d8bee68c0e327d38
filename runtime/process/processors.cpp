// The masks arrive pointer-sized (64 bits in the port); only the 32 bits a
// PE32 process sees are counted, so both builds give the same answer on the
// same machine. A failed read answers 1, the one processor every process has.
#include "runtime/process/processors.h"

#if RUNTIME_PE32
static_assert(sizeof(DWORD_PTR) == 4, "a PE32 process reads 32-bit masks");
#endif
static_assert(CountMaskBits(0) == 0);
static_assert(CountMaskBits(0x3) == 2);
static_assert(CountMaskBits(0x80000001u) == 2);
static_assert(CountMaskBits(0xFFFFFFFFu) == 32);

int32_t CountProcessorsOf(HANDLE process, int32_t which)
{
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    if (!GetProcessAffinityMask(process, &processMask, &systemMask))
        return 1;
    return CountMaskBits((uint32_t)(which == 0 ? systemMask : processMask));
}

int32_t CountProcessors(int32_t which)
{
    return CountProcessorsOf(GetCurrentProcess(), which);
}
