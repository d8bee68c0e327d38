// The worker routine is written whole in assembler: its bytes are part of
// the program's behaviour (page alignment with an int3 gap, push ebx first,
// five FullBlock(4) streams, one pause call, ret 4), so no compiler-made
// prologue, epilogue or spill may appear in it.
#include "exercise/worker.h"

#include "exercise/blocks.h"
#include "runtime/process/pause.h"

extern "C" {
int32_t WorkerPauseMs;
}

#define WORKER_SYMBOL_TEXT(name) #name
#define WORKER_SYMBOL(name) WORKER_SYMBOL_TEXT(name)

#if EXERCISE_X64
// Win64: rbx and xmm6/xmm7 are callee-saved and the blocks clear them; the
// call to Pause needs 32 bytes of shadow space and a 16-byte aligned stack.
asm(".text\n"
    ".p2align 12, 0xCC\n"
    ".globl WorkerRoutine\n"
    ".def WorkerRoutine; .scl 2; .type 32; .endef\n"
    "WorkerRoutine:\n"
    EXERCISE_TEXT(
    "push rbx\n"
    "sub rsp, 64\n"
    "movdqu xmmword ptr [rsp + 32], xmm6\n"
    "movdqu xmmword ptr [rsp + 48], xmm7\n"
    ATOM_FULL_BLOCK(4)
    ATOM_PAUSE_GUARD
    "mov ecx, dword ptr [rip + WorkerPauseMs]\n"
    "call Pause\n"
    ATOM_FULL_BLOCK(4)
    ATOM_FULL_BLOCK(4)
    ATOM_FULL_BLOCK(4)
    ATOM_FULL_BLOCK(4)
    "movdqu xmm6, xmmword ptr [rsp + 32]\n"
    "movdqu xmm7, xmmword ptr [rsp + 48]\n"
    "add rsp, 64\n"
    "xor eax, eax\n"
    "pop rbx\n"
    "ret\n")
    // The rest of the routine's page is int3 too, rather than the
    // assembler's no-op padding.
    ".p2align 12, 0xCC\n");
#else
// stdcall: the one argument is removed by the callee (ret 4); ebx is saved
// because the blocks clear it. Pause is cdecl: the caller drops its argument.
asm(".text\n"
    ".p2align 12, 0xCC\n"
    ".globl " WORKER_SYMBOL(__USER_LABEL_PREFIX__) "WorkerRoutine@4\n"
    WORKER_SYMBOL(__USER_LABEL_PREFIX__) "WorkerRoutine@4:\n"
    EXERCISE_TEXT(
    "push ebx\n"
    ATOM_FULL_BLOCK(4)
    ATOM_PAUSE_GUARD
    "push dword ptr [" WORKER_SYMBOL(__USER_LABEL_PREFIX__) "WorkerPauseMs]\n"
    "call " WORKER_SYMBOL(__USER_LABEL_PREFIX__) "Pause\n"
    "add esp, 4\n"
    ATOM_FULL_BLOCK(4)
    ATOM_FULL_BLOCK(4)
    ATOM_FULL_BLOCK(4)
    ATOM_FULL_BLOCK(4)
    "xor eax, eax\n"
    "pop ebx\n"
    "ret 4\n")
    // The rest of the routine's page is int3 too, rather than the
    // assembler's no-op padding.
    ".p2align 12, 0xCC\n");
#endif
