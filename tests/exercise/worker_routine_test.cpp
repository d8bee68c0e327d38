// The 64-bit port's worker routine called directly, as a thread start would
// call it: from assembler that seeds every callee-saved register of the
// Win64 convention (rbx, rbp, rdi, rsi, r12-r15, xmm6-xmm15) and compares
// them, rsp included, after the return.
//
// Pause is replaced in this program by a recording stand-in (the runtime's
// pause is not linked: nothing else here refers to it). The stand-in does
// what any callee may: it writes all over its 32-byte shadow space and
// clobbers the volatile registers, so a worker that kept something there
// would show it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "atom_model.h"
#include "exercise/worker.h"

extern "C" {
uint64_t WorkerSeed[8];     // rbx rbp rdi rsi r12 r13 r14 r15
uint64_t WorkerAfter[8];
alignas(16) uint8_t WorkerSeedXmm[10 * 16];   // xmm6..xmm15
alignas(16) uint8_t WorkerAfterXmm[10 * 16];
alignas(16) uint8_t WorkerHostXmm[10 * 16];
alignas(16) uint8_t WorkerAfterFx[512];
uint64_t WorkerResult;
uint64_t WorkerRspBefore, WorkerRspAfter;
uint64_t PauseEntryRsp;
uint32_t PauseArgument;
uint32_t PauseCalls;
// Calls routine(argument) with every callee-saved register seeded.
void CallSeeded(uint64_t (*routine)(uint64_t), uint64_t argument);

// The statement forms in ordinary compiled functions (statement_forms.cpp).
uint64_t FormFullBlock4(uint64_t);
uint64_t FormRepeatBlock(uint64_t);
uint64_t FormShortBlock(uint64_t);
uint64_t FormCycle(uint64_t);
uint64_t FormAtoms(uint64_t);
uint64_t FormReference(uint64_t);
uint64_t FormLiveAcrossShortBlock(uint64_t);
uint64_t FormLiveAcrossFullBlock(uint64_t);
uint64_t FormLiveAcrossAtoms(uint64_t);
}

// The stand-in Pause: records its argument and entry rsp, then behaves like
// the worst legal callee.
asm(".text\n"
    ".globl Pause\n"
    "Pause:\n"
    ".intel_syntax noprefix\n"
    "mov qword ptr [rip + PauseEntryRsp], rsp\n"
    "mov dword ptr [rip + PauseArgument], ecx\n"
    "add dword ptr [rip + PauseCalls], 1\n"
    "movabs rax, 0xBADC0FFEE0DDF00D\n"
    "mov qword ptr [rsp + 8], rax\n mov qword ptr [rsp + 16], rax\n"
    "mov qword ptr [rsp + 24], rax\n mov qword ptr [rsp + 32], rax\n"
    "mov rcx, rax\n mov rdx, rax\n mov r8, rax\n mov r9, rax\n mov r10, rax\n mov r11, rax\n"
    "movq xmm0, rax\n movq xmm1, rax\n movq xmm2, rax\n movq xmm3, rax\n movq xmm4, rax\n movq xmm5, rax\n"
    "movq mm0, rax\n movq mm5, rax\n emms\n"
    "ret\n"
    ".att_syntax prefix\n");

// CallSeeded(routine, argument): seeds, calls routine(argument) with 32
// bytes of shadow space on a 16-byte aligned stack, saves what came back.
asm(".text\n"
    ".globl CallSeeded\n"
    "CallSeeded:\n"
    ".intel_syntax noprefix\n"
    "mov rax, rcx\n"
    "mov rcx, rdx\n"
    "push rbx\n push rbp\n push rdi\n push rsi\n push r12\n push r13\n push r14\n push r15\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 0], xmm6\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 16], xmm7\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 32], xmm8\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 48], xmm9\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 64], xmm10\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 80], xmm11\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 96], xmm12\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 112], xmm13\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 128], xmm14\n"
    "movdqu xmmword ptr [rip + WorkerHostXmm + 144], xmm15\n"
    "mov rbx, qword ptr [rip + WorkerSeed + 0]\n"
    "mov rbp, qword ptr [rip + WorkerSeed + 8]\n"
    "mov rdi, qword ptr [rip + WorkerSeed + 16]\n"
    "mov rsi, qword ptr [rip + WorkerSeed + 24]\n"
    "mov r12, qword ptr [rip + WorkerSeed + 32]\n"
    "mov r13, qword ptr [rip + WorkerSeed + 40]\n"
    "mov r14, qword ptr [rip + WorkerSeed + 48]\n"
    "mov r15, qword ptr [rip + WorkerSeed + 56]\n"
    "movdqu xmm6, xmmword ptr [rip + WorkerSeedXmm + 0]\n"
    "movdqu xmm7, xmmword ptr [rip + WorkerSeedXmm + 16]\n"
    "movdqu xmm8, xmmword ptr [rip + WorkerSeedXmm + 32]\n"
    "movdqu xmm9, xmmword ptr [rip + WorkerSeedXmm + 48]\n"
    "movdqu xmm10, xmmword ptr [rip + WorkerSeedXmm + 64]\n"
    "movdqu xmm11, xmmword ptr [rip + WorkerSeedXmm + 80]\n"
    "movdqu xmm12, xmmword ptr [rip + WorkerSeedXmm + 96]\n"
    "movdqu xmm13, xmmword ptr [rip + WorkerSeedXmm + 112]\n"
    "movdqu xmm14, xmmword ptr [rip + WorkerSeedXmm + 128]\n"
    "movdqu xmm15, xmmword ptr [rip + WorkerSeedXmm + 144]\n"
    // Entry rsp is 8 mod 16; eight pushes keep it so; 40 more make it 0.
    "sub rsp, 40\n"
    "mov qword ptr [rip + WorkerRspBefore], rsp\n"
    "call rax\n"
    "mov qword ptr [rip + WorkerRspAfter], rsp\n"
    "mov qword ptr [rip + WorkerResult], rax\n"
    "mov qword ptr [rip + WorkerAfter + 0], rbx\n"
    "mov qword ptr [rip + WorkerAfter + 8], rbp\n"
    "mov qword ptr [rip + WorkerAfter + 16], rdi\n"
    "mov qword ptr [rip + WorkerAfter + 24], rsi\n"
    "mov qword ptr [rip + WorkerAfter + 32], r12\n"
    "mov qword ptr [rip + WorkerAfter + 40], r13\n"
    "mov qword ptr [rip + WorkerAfter + 48], r14\n"
    "mov qword ptr [rip + WorkerAfter + 56], r15\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 0], xmm6\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 16], xmm7\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 32], xmm8\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 48], xmm9\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 64], xmm10\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 80], xmm11\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 96], xmm12\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 112], xmm13\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 128], xmm14\n"
    "movdqu xmmword ptr [rip + WorkerAfterXmm + 144], xmm15\n"
    "fxsave [rip + WorkerAfterFx]\n"
    "add rsp, 40\n"
    "movdqu xmm6, xmmword ptr [rip + WorkerHostXmm + 0]\n"
    "movdqu xmm7, xmmword ptr [rip + WorkerHostXmm + 16]\n"
    "movdqu xmm8, xmmword ptr [rip + WorkerHostXmm + 32]\n"
    "movdqu xmm9, xmmword ptr [rip + WorkerHostXmm + 48]\n"
    "movdqu xmm10, xmmword ptr [rip + WorkerHostXmm + 64]\n"
    "movdqu xmm11, xmmword ptr [rip + WorkerHostXmm + 80]\n"
    "movdqu xmm12, xmmword ptr [rip + WorkerHostXmm + 96]\n"
    "movdqu xmm13, xmmword ptr [rip + WorkerHostXmm + 112]\n"
    "movdqu xmm14, xmmword ptr [rip + WorkerHostXmm + 128]\n"
    "movdqu xmm15, xmmword ptr [rip + WorkerHostXmm + 144]\n"
    "pop r15\n pop r14\n pop r13\n pop r12\n pop rsi\n pop rdi\n pop rbp\n pop rbx\n"
    "ret\n"
    ".att_syntax prefix\n");

namespace {

const char* const SAVED_NAMES[8] = {"rbx", "rbp", "rdi", "rsi", "r12", "r13", "r14", "r15"};

void SeedWorker()
{
    for (int i = 0; i < 8; ++i) WorkerSeed[i] = 0x0123456789ABCDEFull * uint64_t(i + 3) ^ 0x5A5A5A5A00000000ull;
    for (int i = 0; i < 160; ++i) WorkerSeedXmm[i] = uint8_t(0x37 * i + 11) | 1;
}

TEST(PortWorkerRoutine, ReturnsZeroAndPreservesTheCalleeSavedRegistersForAnyArgument)
{
    struct { uint64_t argument; int32_t pauseMs; } cases[] = {
        {0, 0}, {1, 0}, {0xFFFFFFFFull, 0}, {~0ull, 0}, {0x8000000000000001ull, 0}, {1, 256},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "argument 0x" << std::hex << c.argument << std::dec << ", WorkerPauseMs " << c.pauseMs);
        SeedWorker();
        WorkerPauseMs = c.pauseMs;
        PauseCalls = 0;
        CallSeeded(reinterpret_cast<uint64_t (*)(uint64_t)>(reinterpret_cast<void*>(&WorkerRoutine)), c.argument);

        EXPECT_EQ(uint32_t(WorkerResult), 0u) << "thread exit code";
        EXPECT_EQ(WorkerRspAfter, WorkerRspBefore) << "rsp";
        for (int i = 0; i < 8; ++i) EXPECT_EQ(WorkerAfter[i], WorkerSeed[i]) << SAVED_NAMES[i];
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(std::memcmp(&WorkerAfterXmm[16 * i], &WorkerSeedXmm[16 * i], 16), 0) << "xmm" << i + 6;

        // One pause, of WorkerPauseMs as read at that moment, on an aligned stack.
        EXPECT_EQ(PauseCalls, 1u);
        EXPECT_EQ(PauseArgument, uint32_t(c.pauseMs));
        EXPECT_EQ(PauseEntryRsp % 16, 8u) << "rsp not 16-byte aligned at the call to Pause";
        // Blocks ran after the pause: the registers it dirtied are clear again
        // and the MMX state has been left.
        for (int k = 0; k < 6; ++k) {
            uint8_t zero[16] = {};
            EXPECT_EQ(std::memcmp(&WorkerAfterFx[160 + 16 * k], zero, 16), 0) << "xmm" << k << " after the last block";
        }
        EXPECT_EQ(WorkerAfterFx[4], 0) << "x87 tag word: MMX state left by emms";
    }
}

// The clobber list of the statement forms makes the compiler save rbx and
// xmm6/xmm7 around them and keep no value in what they clear.
TEST(PortStatementForms, PreserveTheCalleeSavedRegistersAndLiveValues)
{
    struct { const char* name; uint64_t (*form)(uint64_t); bool live; } forms[] = {
        {"FullBlock(4)", FormFullBlock4, false},
        {"RepeatBlock", FormRepeatBlock, false},
        {"ShortBlock", FormShortBlock, false},
        {"ExerciseCycle", FormCycle, false},
        {"every atom", FormAtoms, false},
        {"values across ShortBlock", FormLiveAcrossShortBlock, true},
        {"values across FullBlock(4)", FormLiveAcrossFullBlock, true},
        {"values across atoms", FormLiveAcrossAtoms, true},
    };
    const uint64_t argument = 0x0123456789ull;
    for (auto& f : forms) {
        SCOPED_TRACE(f.name);
        SeedWorker();
        CallSeeded(f.form, argument);
        EXPECT_EQ(WorkerRspAfter, WorkerRspBefore) << "rsp";
        for (int i = 0; i < 8; ++i) EXPECT_EQ(WorkerAfter[i], WorkerSeed[i]) << SAVED_NAMES[i];
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(std::memcmp(&WorkerAfterXmm[16 * i], &WorkerSeedXmm[16 * i], 16), 0) << "xmm" << i + 6;
        if (f.live) {
            EXPECT_EQ(WorkerResult, FormReference(argument));
        }
    }
}

TEST(PortWorkerRoutine, IsFiveFullBlocksOfFourCyclesInThePortForm)
{
    // The routine's bytes in this program, searched for the port's FullBlock(4).
    model::Bytes block = model::Encode(model::FullBlock(4, model::Form{true}));
    const uint8_t* code = reinterpret_cast<const uint8_t*>(&WorkerRoutine);
    const size_t span = 5 * block.size() + 4096;
    MEMORY_BASIC_INFORMATION mbi{};
    ASSERT_NE(VirtualQuery(code, &mbi, sizeof mbi), 0u);
    size_t readable = size_t(static_cast<const uint8_t*>(mbi.BaseAddress) + mbi.RegionSize - code);
    ASSERT_GE(readable, span) << "the routine's code is not all in one region";
    int found = 0;
    std::vector<size_t> at;
    for (size_t p = 0; p + block.size() <= span; ++p)
        if (std::memcmp(code + p, block.data(), block.size()) == 0) {
            at.push_back(p);
            ++found;
            p += block.size() - 1;
        }
    ASSERT_EQ(found, 5) << "FullBlock(4) in the port's worker routine";
    EXPECT_EQ(reinterpret_cast<uintptr_t>(code) % 4096, 0u) << "page-aligned start";
    // Four blocks follow one another; only the pause stands between the first two.
    for (int i = 2; i < 5; ++i) EXPECT_EQ(at[i], at[i - 1] + block.size());
    model::Bytes guard = model::Encode(model::PauseGuard(model::Form{true}));
    EXPECT_EQ(std::memcmp(code + at[0] + block.size(), guard.data(), guard.size()), 0) << "PauseGuard after the first block";
}

}  // namespace
