// Exercise cycles and blocks, composed from the atoms of atoms.h.
//
// ExerciseCycle: sweep, mm0, sweep, mm1, ..., sweep, mm7, sweep, emms,
// sweep, xmm0, ..., sweep, xmm7, sweep: 18 sweeps and 17 other atoms.
//
// Blocks are placed in line. Cycles within a block are laid out one after
// another (the assembler's .rept writes r complete copies); the only loops
// are the two FpuLoop atoms at the start and end of full and repeat blocks.
// Blocks take no locks, make no calls and touch no memory but the stack slots
// of FpuPair and SavedClear.
#pragma once

#include "exercise/atoms.h"

#define ATOM_EXERCISE_CYCLE                                  \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(0)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(1)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(2)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(3)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(4)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(5)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(6)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_CLEAR(7)                    \
    ATOM_REGISTER_SWEEP ATOM_MMX_EXIT                        \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(0)                    \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(1)                    \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(2)                    \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(3)                    \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(4)                    \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(5)                    \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(6)                    \
    ATOM_REGISTER_SWEEP ATOM_XMM_CLEAR(7)                    \
    ATOM_REGISTER_SWEEP

// r complete cycles, one after another.
#define ATOM_CYCLES(r) ".rept " #r "\n" ATOM_EXERCISE_CYCLE ".endr\n"

// FullBlock(r): Marker; clears eax, ebx, ecx, edx, eax; FpuLoop(16384);
// r cycles; FpuLoop(32768). Used with r = 8 at start-up and r = 4 by workers.
#define ATOM_FULL_BLOCK(r)        \
    ATOM_MARKER                   \
    ATOM_GPR_CLEAR("eax")         \
    ATOM_GPR_CLEAR("ebx")         \
    ATOM_GPR_CLEAR("ecx")         \
    ATOM_GPR_CLEAR("edx")         \
    ATOM_GPR_CLEAR("eax")         \
    ATOM_FPU_LOOP(16384)          \
    ATOM_CYCLES(r)                \
    ATOM_FPU_LOOP(32768)

// RepeatBlock: as FullBlock(8) but opened by a single GprClear(eax).
#define ATOM_REPEAT_BLOCK         \
    ATOM_MARKER                   \
    ATOM_GPR_CLEAR("eax")         \
    ATOM_FPU_LOOP(16384)          \
    ATOM_CYCLES(8)                \
    ATOM_FPU_LOOP(32768)

// ShortBlock: Marker; RegisterSweep. No MMX, XMM or loop instructions.
#define ATOM_SHORT_BLOCK          \
    ATOM_MARKER                   \
    ATOM_REGISTER_SWEEP

// PauseGuard: the GprClear(ecx) that stands right before every pause.
#define ATOM_PAUSE_GUARD ATOM_GPR_CLEAR("ecx")

#define ExerciseCycle() EXERCISE_INLINE(ATOM_EXERCISE_CYCLE)
#define FullBlock(r) EXERCISE_INLINE(ATOM_FULL_BLOCK(r))
#define RepeatBlock() EXERCISE_INLINE(ATOM_REPEAT_BLOCK)
#define ShortBlock() EXERCISE_INLINE(ATOM_SHORT_BLOCK)
#define PauseGuard() EXERCISE_INLINE(ATOM_PAUSE_GUARD)
