// Exercise atoms: the smallest fixed instruction sequences of the program.
//
// Each atom is a piece of assembler text (Intel syntax) and is placed in line
// by the statement macros at the bottom of this file or by blocks.h. Nothing
// here is called; there are no inputs and no results.
//
// Register contract of every atom (32-bit form):
//   - esp, ebp, esi, edi are unchanged on exit (EspClear parks esp in eax,
//     SavedClear pushes and pops its register, FpuPair pushes and pops eax);
//   - eax, ebx, ecx, edx may be cleared; flags are clobbered;
//   - the MMX or XMM register an atom names holds 0 on exit; MmxClear leaves
//     the x87 unit in MMX state until the next MmxExit (emms).
//
// The 64-bit port runs the same instruction lists with these mappings:
//   - the 32-bit clears stay 32-bit (xor eax,eax also clears the upper half);
//   - EspClear saves and restores the whole stack pointer with 64-bit moves
//     (mov rax,rsp / mov rsp,rax); its clears act on esp, so rsp is 0 there;
//   - FpuPair and SavedClear push and pop the 64-bit register (rax, rdi, rsi,
//     rbp); the pushes and pops have the same one-byte encodings;
//   - FpuLoop's "dec eax" has no one-byte form in 64-bit mode and becomes
//     FF C8, so its backward branch is 75 F6 instead of 75 F7;
//   - xmm6 and xmm7 are callee-saved under the Win64 ABI: the clobber list
//     below makes the compiler save them around in-line atoms, and the worker
//     routine saves them itself.
#pragma once

#if defined(__x86_64__)
#define EXERCISE_X64 1
#else
#define EXERCISE_X64 0
#endif

// Marker: nop; nop                                        90 90
#define ATOM_MARKER \
    "nop\n"         \
    "nop\n"

// GprClear(r): xor; xor; and; or; xor on r                31 /r 31 /r 21 /r 09 /r 31 /r
#define ATOM_GPR_CLEAR(r)     \
    "xor " r ", " r "\n"     \
    "xor " r ", " r "\n"     \
    "and " r ", " r "\n"     \
    "or " r ", " r "\n"      \
    "xor " r ", " r "\n"

#if EXERCISE_X64
#define ATOM_STACK_POINTER "rsp"
#define ATOM_STACK_SAVE "rax"
#else
#define ATOM_STACK_POINTER "esp"
#define ATOM_STACK_SAVE "eax"
#endif

// EspClear: esp is held at 0 for five clears and two fnop; nothing in between
// touches memory.                                          89 E0, 31 E4 ×2, 21 E4, 09 E4, 31 E4, D9 D0 ×2, 89 C4
#define ATOM_ESP_CLEAR                                    \
    "mov " ATOM_STACK_SAVE ", " ATOM_STACK_POINTER "\n"   \
    ATOM_GPR_CLEAR_ESP                                    \
    "fnop\n"                                              \
    "fnop\n"                                              \
    "mov " ATOM_STACK_POINTER ", " ATOM_STACK_SAVE "\n"
#define ATOM_GPR_CLEAR_ESP ATOM_GPR_CLEAR("esp")

// FpuPair: push eax; fnop; fnop; pop eax (eax unchanged)   50, D9 D0, D9 D0, 58
#define ATOM_FPU_PAIR                 \
    "push " ATOM_STACK_SAVE "\n"      \
    "fnop\n"                          \
    "fnop\n"                          \
    "pop " ATOM_STACK_SAVE "\n"

// SavedClear(r): r kept on the stack while it is cleared.
//   edi: 57 … 5F   esi: 56 … 5E   ebp: 55 … 5D
#if EXERCISE_X64
#define ATOM_SAVED_WIDE(r32, r64) r64
#else
#define ATOM_SAVED_WIDE(r32, r64) r32
#endif
#define ATOM_SAVED_CLEAR(r32, r64)              \
    "push " ATOM_SAVED_WIDE(r32, r64) "\n"      \
    ATOM_GPR_CLEAR(r32)                         \
    "fnop\n"                                    \
    "fnop\n"                                    \
    "pop " ATOM_SAVED_WIDE(r32, r64) "\n"

// FpuLoop(k): count-down loop, body fnop; nop; fnop; nop; dec eax; jne.
//   B8 imm32, D9 D0, 90, D9 D0, 90, 48, 75 F7   (port: FF C8, 75 F6)
// Leaves eax at 0 after exactly k passes.
#define ATOM_FPU_LOOP(k)     \
    "mov eax, " #k "\n"      \
    "1:\n"                   \
    "fnop\n"                 \
    "nop\n"                  \
    "fnop\n"                 \
    "nop\n"                  \
    "dec eax\n"              \
    "jne 1b\n"

// MmxClear(k): pxor ×3; pand; por; pxor on mmk             0F EF /r ×3, 0F DB /r, 0F EB /r, 0F EF /r
#define ATOM_MMX_CLEAR(k)             \
    "pxor mm" #k ", mm" #k "\n"      \
    "pxor mm" #k ", mm" #k "\n"      \
    "pxor mm" #k ", mm" #k "\n"      \
    "pand mm" #k ", mm" #k "\n"      \
    "por mm" #k ", mm" #k "\n"       \
    "pxor mm" #k ", mm" #k "\n"

// MmxExit: emms                                            0F 77
#define ATOM_MMX_EXIT "emms\n"

// XmmClear(k): pxor ×2; pand; por; pxor on xmmk (SSE2 integer forms)
//                                                          66 0F EF /r ×2, 66 0F DB /r, 66 0F EB /r, 66 0F EF /r
#define ATOM_XMM_CLEAR(k)             \
    "pxor xmm" #k ", xmm" #k "\n"    \
    "pxor xmm" #k ", xmm" #k "\n"    \
    "pand xmm" #k ", xmm" #k "\n"    \
    "por xmm" #k ", xmm" #k "\n"     \
    "pxor xmm" #k ", xmm" #k "\n"

// RegisterSweep: 17 atoms, 97 instructions, 180 bytes in the 32-bit form.
#define ATOM_REGISTER_SWEEP                 \
    ATOM_GPR_CLEAR("eax")                   \
    ATOM_ESP_CLEAR                          \
    ATOM_GPR_CLEAR("eax")                   \
    ATOM_FPU_PAIR                           \
    ATOM_SAVED_CLEAR("edi", "rdi")          \
    ATOM_GPR_CLEAR("eax")                   \
    ATOM_FPU_PAIR                           \
    ATOM_SAVED_CLEAR("esi", "rsi")          \
    ATOM_GPR_CLEAR("eax")                   \
    ATOM_FPU_PAIR                           \
    ATOM_SAVED_CLEAR("ebp", "rbp")          \
    ATOM_GPR_CLEAR("eax")                   \
    ATOM_FPU_PAIR                           \
    ATOM_GPR_CLEAR("eax")                   \
    ATOM_GPR_CLEAR("ebx")                   \
    ATOM_GPR_CLEAR("ecx")                   \
    ATOM_GPR_CLEAR("edx")

// ---------------------------------------------------------------------------
// Placing atoms in C++ code.
//
// Everything an atom may touch is declared clobbered, so the compiler keeps no
// value in eax..edx, the flags, the MMX/x87 registers or the XMM registers
// across it, and "memory" keeps calls and stores on their side of it. The
// MMX and XMM clobbers exist only where the compiler itself may use those
// registers (an i686 build without SSE code generation cannot name them).

#if defined(__MMX__)
#define EXERCISE_MMX_CLOBBERS , "mm0", "mm1", "mm2", "mm3", "mm4", "mm5", "mm6", "mm7"
#else
#define EXERCISE_MMX_CLOBBERS
#endif
#if defined(__SSE__)
#define EXERCISE_XMM_CLOBBERS , "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"
#else
#define EXERCISE_XMM_CLOBBERS
#endif

#define EXERCISE_CLOBBERS                                                          \
    "eax", "ebx", "ecx", "edx", "cc", "memory",                                    \
    "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"            \
    EXERCISE_MMX_CLOBBERS EXERCISE_XMM_CLOBBERS

// Wraps assembler text for in-line placement; the syntax switch is undone so
// the compiler's own AT&T output continues unharmed.
#define EXERCISE_TEXT(text) ".intel_syntax noprefix\n" text ".att_syntax prefix\n"
#define EXERCISE_INLINE(text) asm volatile(EXERCISE_TEXT(text) ::: EXERCISE_CLOBBERS)

// Statement forms, named as the atoms are: GprClear(eax); MmxExit(); ...
#define Marker() EXERCISE_INLINE(ATOM_MARKER)
#define GprClear(r) EXERCISE_INLINE(ATOM_GPR_CLEAR(#r))
#define EspClear() EXERCISE_INLINE(ATOM_ESP_CLEAR)
#define FpuPair() EXERCISE_INLINE(ATOM_FPU_PAIR)
#define SavedClearEdi() EXERCISE_INLINE(ATOM_SAVED_CLEAR("edi", "rdi"))
#define SavedClearEsi() EXERCISE_INLINE(ATOM_SAVED_CLEAR("esi", "rsi"))
#define SavedClearEbp() EXERCISE_INLINE(ATOM_SAVED_CLEAR("ebp", "rbp"))
#define FpuLoop(k) EXERCISE_INLINE(ATOM_FPU_LOOP(k))
#define MmxClear(k) EXERCISE_INLINE(ATOM_MMX_CLEAR(k))
#define MmxExit() EXERCISE_INLINE(ATOM_MMX_EXIT)
#define XmmClear(k) EXERCISE_INLINE(ATOM_XMM_CLEAR(k))
#define RegisterSweep() EXERCISE_INLINE(ATOM_REGISTER_SWEEP)

// Four clears: GprClear of eax, ebx, ecx and edx, in that order.
#define FourClears()  \
    GprClear(eax);    \
    GprClear(ebx);    \
    GprClear(ecx);    \
    GprClear(edx)
