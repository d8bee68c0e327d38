// The statement forms of the atoms and blocks (GprClear(eax); FullBlock(4);
// ...) inside ordinary compiled functions, shared by the i386 harness and
// the port's tests. What they check is the clobber list: the compiler must
// save what the sequences destroy and keep no value in it across them.
//
// FormLive* first pins many values in registers with an empty assembler
// statement (so the compiler cannot compute them after the sequence), runs
// the sequence, then combines the values; FormReference computes the same
// without a sequence. A clobber missing from the list lets the compiler keep
// a value in a register the sequence clears, and the two results differ.
#include <stdint.h>

#include "exercise/blocks.h"

#define FORM_NOINLINE __attribute__((noinline))

extern "C" {

FORM_NOINLINE uintptr_t FormFullBlock4(uintptr_t) { FullBlock(4); return 0; }
FORM_NOINLINE uintptr_t FormRepeatBlock(uintptr_t) { RepeatBlock(); return 0; }
FORM_NOINLINE uintptr_t FormShortBlock(uintptr_t) { ShortBlock(); return 0; }
FORM_NOINLINE uintptr_t FormCycle(uintptr_t) { ExerciseCycle(); return 0; }

FORM_NOINLINE uintptr_t FormAtoms(uintptr_t)
{
    Marker();
    FourClears();
    EspClear();
    FpuPair();
    SavedClearEdi();
    SavedClearEsi();
    SavedClearEbp();
    FpuLoop(16384);
    MmxClear(6);
    MmxExit();
    XmmClear(6);
    XmmClear(7);
    PauseGuard();
    return 0;
}

#if EXERCISE_X64
#define FORM_LIVE_VALUES                                                                   \
    uintptr_t a0 = x * 3 + 1, a1 = x * 5 + 2, a2 = x ^ 0x55, a3 = x + 7, a4 = x * 11,      \
              a5 = x >> 3, a6 = x * x, a7 = ~x;                                            \
    double d0 = double(x) * 0.5, d1 = double(x) + 1.25, d2 = double(x) * 3.0,              \
           d3 = double(x) - 2.0, d4 = double(x) * 0.25, d5 = double(x) + 8.5,              \
           d6 = double(x) * 1.5, d7 = double(x) + 0.75, d8 = double(x) * 2.5,              \
           d9 = double(x) - 0.5;                                                           \
    asm volatile("" : "+r"(a0), "+r"(a1), "+r"(a2), "+r"(a3), "+r"(a4), "+r"(a5),          \
                 "+r"(a6), "+r"(a7));                                                      \
    asm volatile("" : "+x"(d0), "+x"(d1), "+x"(d2), "+x"(d3), "+x"(d4), "+x"(d5),          \
                 "+x"(d6), "+x"(d7), "+x"(d8), "+x"(d9));
#define FORM_COMBINE                                                                       \
    (a0 + 3 * a1 + 5 * a2 + 7 * a3 + 11 * a4 + 13 * a5 + 17 * a6 + 19 * a7 +              \
     uintptr_t(d0 + 2 * d1 + 3 * d2 + 4 * d3 + 5 * d4 + 6 * d5 + 7 * d6 + 8 * d7 +        \
               9 * d8 + 10 * d9))
#else
// i386: four values fill the registers the sequences must leave alone
// (ebx is saved by the compiler because it is clobbered).
#define FORM_LIVE_VALUES                                                                   \
    uintptr_t a0 = x * 3 + 1, a1 = x * 5 + 2, a2 = x ^ 0x55, a3 = x + 7;                   \
    asm volatile("" : "+r"(a0), "+r"(a1), "+r"(a2), "+r"(a3));
#define FORM_COMBINE (a0 + 3 * a1 + 5 * a2 + 7 * a3)
#endif

FORM_NOINLINE uintptr_t FormReference(uintptr_t x)
{
    FORM_LIVE_VALUES
    return FORM_COMBINE;
}

FORM_NOINLINE uintptr_t FormLiveAcrossShortBlock(uintptr_t x)
{
    FORM_LIVE_VALUES
    ShortBlock();
    return FORM_COMBINE;
}

FORM_NOINLINE uintptr_t FormLiveAcrossFullBlock(uintptr_t x)
{
    FORM_LIVE_VALUES
    FullBlock(4);
    return FORM_COMBINE;
}

FORM_NOINLINE uintptr_t FormLiveAcrossAtoms(uintptr_t x)
{
    FORM_LIVE_VALUES
    GprClear(eax);
    EspClear();
    SavedClearEbp();
    MmxClear(7);
    MmxExit();
    XmmClear(7);
    FpuLoop(16384);
    FourClears();
    return FORM_COMBINE;
}

}
