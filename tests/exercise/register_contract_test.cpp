// The register contract of the 64-bit port's atoms and blocks, run natively
// (under Wine here). Each case is one assembler routine built from the
// product's own text (exercise/atoms.h, exercise/blocks.h): it saves the C
// environment, seeds every register (rax..r15 with distinct values whose
// upper halves are not zero, x87 values in all eight registers with every tag
// valid, so mm0..mm7 are not zero, and xmm0..xmm15), runs the sequence
// between <case>_begin and <case>_end, and saves the general registers and an
// fxsave image before anything else runs.
//
// The sequences run on a private stack placed as high as the system allows
// (above 4 GB when it can be), so that a stack pointer saved or restored with
// 32-bit moves would show.
//
// The port's mapping: the clears stay 32-bit and so zero the whole register;
// EspClear keeps the whole rsp in rax; FpuPair and SavedClear push and pop
// rax, rdi, rsi and rbp whole; FpuLoop decrements with FF C8.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "atom_model.h"
#include "exercise/blocks.h"

// Only the assembler text is used here; the statement forms would shadow the
// model's functions of the same names.
#undef Marker
#undef GprClear
#undef EspClear
#undef FpuPair
#undef FpuLoop
#undef MmxClear
#undef MmxExit
#undef XmmClear
#undef RegisterSweep
#undef ExerciseCycle
#undef FullBlock
#undef RepeatBlock
#undef ShortBlock
#undef PauseGuard

extern "C" {
alignas(16) uint8_t PortSeedFx[512];
alignas(16) uint8_t PortAfterFx[512];
alignas(16) uint8_t PortHostFx[512];
uint64_t PortSeedGpr[16];  // rax rcx rdx rbx rsp rbp rsi rdi r8..r15 (ModRM order); rsp unused
uint64_t PortAfterGpr[16];
uint64_t PortBeforeRsp;
uint64_t PortHostRsp;
uint64_t PortCaseStack;  // top of the private stack, or 0 to stay on the thread's stack
uint32_t PortTraceOn;
double PortProbe[4] = {1.5, 2.25, 10.0, 0.5};
double PortProbeOut;
uint16_t PortProbeStatus;
}

// (1.5 * 2.25 + 10) / 0.5 = 26.75 exactly; on a full x87 stack the first load
// overflows and the result is not a number.
#define PORT_X87_PROBE                              \
    "fld qword ptr [rip + PortProbe]\n"             \
    "fmul qword ptr [rip + PortProbe + 8]\n"        \
    "fadd qword ptr [rip + PortProbe + 16]\n"       \
    "fdiv qword ptr [rip + PortProbe + 24]\n"       \
    "fstp qword ptr [rip + PortProbeOut]\n"         \
    "fnstsw word ptr [rip + PortProbeStatus]\n"

#define PORT_SAVE(reg, slot) "mov qword ptr [rip + PortAfterGpr + " #slot " * 8], " #reg "\n"
#define PORT_SEED(reg, slot) "mov " #reg ", qword ptr [rip + PortSeedGpr + " #slot " * 8]\n"

#define PORT_CASE(name, text)                                                              \
    asm(".text\n"                                                                          \
        ".globl " #name "\n"                                                               \
        ".globl " #name "_begin\n"                                                         \
        ".globl " #name "_end\n"                                                           \
        #name ":\n"                                                                        \
        ".intel_syntax noprefix\n"                                                         \
        "push rbx\n push rbp\n push rdi\n push rsi\n"                                       \
        "push r12\n push r13\n push r14\n push r15\n"                                      \
        "fxsave [rip + PortHostFx]\n"                                                      \
        "mov qword ptr [rip + PortHostRsp], rsp\n"                                         \
        "mov rax, qword ptr [rip + PortCaseStack]\n"                                       \
        "test rax, rax\n jz 3f\n mov rsp, rax\n 3:\n"                                      \
        "fxrstor [rip + PortSeedFx]\n"                                                     \
        PORT_SEED(rax, 0) PORT_SEED(rcx, 1) PORT_SEED(rdx, 2) PORT_SEED(rbx, 3)            \
        PORT_SEED(rbp, 5) PORT_SEED(rsi, 6) PORT_SEED(rdi, 7) PORT_SEED(r8, 8)             \
        PORT_SEED(r9, 9) PORT_SEED(r10, 10) PORT_SEED(r11, 11) PORT_SEED(r12, 12)          \
        PORT_SEED(r13, 13) PORT_SEED(r14, 14) PORT_SEED(r15, 15)                           \
        "mov qword ptr [rip + PortBeforeRsp], rsp\n"                                       \
        "cmp dword ptr [rip + PortTraceOn], 0\n"                                           \
        "je 2f\n"                                                                          \
        "pushfq\n or qword ptr [rsp], 0x100\n popfq\n"                                     \
        "2:\n"                                                                             \
        #name "_begin:\n"                                                                  \
        text                                                                               \
        #name "_end:\n"                                                                    \
        PORT_SAVE(rax, 0) PORT_SAVE(rcx, 1) PORT_SAVE(rdx, 2) PORT_SAVE(rbx, 3)            \
        PORT_SAVE(rsp, 4) PORT_SAVE(rbp, 5) PORT_SAVE(rsi, 6) PORT_SAVE(rdi, 7)            \
        PORT_SAVE(r8, 8) PORT_SAVE(r9, 9) PORT_SAVE(r10, 10) PORT_SAVE(r11, 11)            \
        PORT_SAVE(r12, 12) PORT_SAVE(r13, 13) PORT_SAVE(r14, 14) PORT_SAVE(r15, 15)        \
        "fxsave [rip + PortAfterFx]\n"                                                     \
        PORT_X87_PROBE                                                                     \
        "mov rsp, qword ptr [rip + PortHostRsp]\n"                                         \
        "pushfq\n and qword ptr [rsp], -257\n popfq\n"                                     \
        "fxrstor [rip + PortHostFx]\n"                                                     \
        "pop r15\n pop r14\n pop r13\n pop r12\n"                                          \
        "pop rsi\n pop rdi\n pop rbp\n pop rbx\n"                                          \
        "ret\n"                                                                            \
        ".att_syntax prefix\n");                                                           \
    extern "C" void name();                                                                \
    extern "C" const uint8_t name##_begin[], name##_end[];

PORT_CASE(PortMarker, ATOM_MARKER)
PORT_CASE(PortGprEax, ATOM_GPR_CLEAR("eax"))
PORT_CASE(PortGprEbx, ATOM_GPR_CLEAR("ebx"))
PORT_CASE(PortGprEcx, ATOM_GPR_CLEAR("ecx"))
PORT_CASE(PortGprEdx, ATOM_GPR_CLEAR("edx"))
PORT_CASE(PortEspClear, ATOM_ESP_CLEAR)
PORT_CASE(PortFpuPair, ATOM_FPU_PAIR)
PORT_CASE(PortSavedEdi, ATOM_SAVED_CLEAR("edi", "rdi"))
PORT_CASE(PortSavedEsi, ATOM_SAVED_CLEAR("esi", "rsi"))
PORT_CASE(PortSavedEbp, ATOM_SAVED_CLEAR("ebp", "rbp"))
PORT_CASE(PortLoop16384, ATOM_FPU_LOOP(16384))
PORT_CASE(PortLoop32768, ATOM_FPU_LOOP(32768))
PORT_CASE(PortMmx0, ATOM_MMX_CLEAR(0))
PORT_CASE(PortMmx3, ATOM_MMX_CLEAR(3))
PORT_CASE(PortMmx7, ATOM_MMX_CLEAR(7))
PORT_CASE(PortMmxExit, ATOM_MMX_EXIT)
PORT_CASE(PortMmx0Exit, ATOM_MMX_CLEAR(0) ATOM_MMX_EXIT)
PORT_CASE(PortMmx1Exit, ATOM_MMX_CLEAR(1) ATOM_MMX_EXIT)
PORT_CASE(PortMmx2Exit, ATOM_MMX_CLEAR(2) ATOM_MMX_EXIT)
PORT_CASE(PortMmx3Exit, ATOM_MMX_CLEAR(3) ATOM_MMX_EXIT)
PORT_CASE(PortMmx4Exit, ATOM_MMX_CLEAR(4) ATOM_MMX_EXIT)
PORT_CASE(PortMmx5Exit, ATOM_MMX_CLEAR(5) ATOM_MMX_EXIT)
PORT_CASE(PortMmx6Exit, ATOM_MMX_CLEAR(6) ATOM_MMX_EXIT)
PORT_CASE(PortMmx7Exit, ATOM_MMX_CLEAR(7) ATOM_MMX_EXIT)
PORT_CASE(PortXmm0, ATOM_XMM_CLEAR(0))
PORT_CASE(PortXmm1, ATOM_XMM_CLEAR(1))
PORT_CASE(PortXmm2, ATOM_XMM_CLEAR(2))
PORT_CASE(PortXmm3, ATOM_XMM_CLEAR(3))
PORT_CASE(PortXmm4, ATOM_XMM_CLEAR(4))
PORT_CASE(PortXmm5, ATOM_XMM_CLEAR(5))
PORT_CASE(PortXmm6, ATOM_XMM_CLEAR(6))
PORT_CASE(PortXmm7, ATOM_XMM_CLEAR(7))
PORT_CASE(PortSweep, ATOM_REGISTER_SWEEP)
PORT_CASE(PortCycle, ATOM_EXERCISE_CYCLE)
PORT_CASE(PortFullBlock8, ATOM_FULL_BLOCK(8))
PORT_CASE(PortFullBlock4, ATOM_FULL_BLOCK(4))
PORT_CASE(PortRepeatBlock, ATOM_REPEAT_BLOCK)
PORT_CASE(PortShortBlock, ATOM_SHORT_BLOCK)
PORT_CASE(PortPauseGuard, ATOM_PAUSE_GUARD)

namespace {

using namespace model;

const Form PORT{true};

struct Case {
    const char* name;
    void (*run)();
    const uint8_t* begin;
    const uint8_t* end;
    Sequence seq;
};

#define CASE(fn, seq) Case{#fn, fn, fn##_begin, fn##_end, seq}

std::vector<Case> Cases()
{
    auto mmxExit = [](int k) { return Sequence{MmxClear(k, PORT), MmxExit(PORT)}; };
    return {
        CASE(PortMarker, {Marker(PORT)}),
        CASE(PortGprEax, {GprClear(EAX, PORT)}),
        CASE(PortGprEbx, {GprClear(EBX, PORT)}),
        CASE(PortGprEcx, {GprClear(ECX, PORT)}),
        CASE(PortGprEdx, {GprClear(EDX, PORT)}),
        CASE(PortEspClear, {EspClear(PORT)}),
        CASE(PortFpuPair, {FpuPair(PORT)}),
        CASE(PortSavedEdi, {SavedClear(EDI, PORT)}),
        CASE(PortSavedEsi, {SavedClear(ESI, PORT)}),
        CASE(PortSavedEbp, {SavedClear(EBP, PORT)}),
        CASE(PortLoop16384, {FpuLoop(16384, PORT)}),
        CASE(PortLoop32768, {FpuLoop(32768, PORT)}),
        CASE(PortMmx0, {MmxClear(0, PORT)}),
        CASE(PortMmx3, {MmxClear(3, PORT)}),
        CASE(PortMmx7, {MmxClear(7, PORT)}),
        CASE(PortMmxExit, {MmxExit(PORT)}),
        CASE(PortMmx0Exit, mmxExit(0)),
        CASE(PortMmx1Exit, mmxExit(1)),
        CASE(PortMmx2Exit, mmxExit(2)),
        CASE(PortMmx3Exit, mmxExit(3)),
        CASE(PortMmx4Exit, mmxExit(4)),
        CASE(PortMmx5Exit, mmxExit(5)),
        CASE(PortMmx6Exit, mmxExit(6)),
        CASE(PortMmx7Exit, mmxExit(7)),
        CASE(PortXmm0, {XmmClear(0, PORT)}),
        CASE(PortXmm1, {XmmClear(1, PORT)}),
        CASE(PortXmm2, {XmmClear(2, PORT)}),
        CASE(PortXmm3, {XmmClear(3, PORT)}),
        CASE(PortXmm4, {XmmClear(4, PORT)}),
        CASE(PortXmm5, {XmmClear(5, PORT)}),
        CASE(PortXmm6, {XmmClear(6, PORT)}),
        CASE(PortXmm7, {XmmClear(7, PORT)}),
        CASE(PortSweep, RegisterSweep(PORT)),
        CASE(PortCycle, ExerciseCycle(PORT)),
        CASE(PortFullBlock8, FullBlock(8, PORT)),
        CASE(PortFullBlock4, FullBlock(4, PORT)),
        CASE(PortRepeatBlock, RepeatBlock(PORT)),
        CASE(PortShortBlock, ShortBlock(PORT)),
        CASE(PortPauseGuard, PauseGuard(PORT)),
    };
}

uint64_t SeedMantissa(int k) { return 0x8000000000000000ull | (0x0101010101010101ull * uint64_t(k + 1)) | 0x10; }
uint8_t SeedXmmByte(int k, int j) { return uint8_t(0x11 * (k + 1) + j) | 1; }

void Seed()
{
    std::memset(PortSeedFx, 0, sizeof PortSeedFx);
    uint16_t fcw = 0x037F;
    std::memcpy(&PortSeedFx[0], &fcw, 2);
    PortSeedFx[4] = 0xFF;  // abridged tag word: all eight registers valid
    uint32_t mxcsr = 0x1F80;
    std::memcpy(&PortSeedFx[24], &mxcsr, 4);
    for (int k = 0; k < 8; ++k) {
        uint64_t m = SeedMantissa(k);
        uint16_t exponent = uint16_t(0x3FFF + k);
        std::memcpy(&PortSeedFx[32 + 16 * k], &m, 8);
        std::memcpy(&PortSeedFx[32 + 16 * k + 8], &exponent, 2);
    }
    for (int k = 0; k < 16; ++k)
        for (int j = 0; j < 16; ++j) PortSeedFx[160 + 16 * k + j] = SeedXmmByte(k, j);
    for (int r = 0; r < 16; ++r) PortSeedGpr[r] = 0x1122334455667788ull * uint64_t(r + 1) + 0x0F0E0D0C0B0A0908ull;
}

struct Expected {
    uint64_t gpr[16];
    bool mmxZero[8] = {}, xmmZero[16] = {};
    bool x87Empty = false;
};

// The defined effects of the atoms on the port's registers.
Expected Fold(const Sequence& seq, uint64_t rspBefore)
{
    Expected e;
    std::memcpy(e.gpr, PortSeedGpr, sizeof e.gpr);
    e.gpr[ESP] = rspBefore;
    for (const Atom& a : seq) {
        switch (a.kind) {
        case AtomKind::GprClear: e.gpr[a.arg] = 0; break;
        case AtomKind::FpuLoop: e.gpr[EAX] = 0; break;
        case AtomKind::EspClear: e.gpr[EAX] = rspBefore; break;
        case AtomKind::MmxClear: e.mmxZero[a.arg] = true; e.x87Empty = false; break;
        case AtomKind::MmxExit: e.x87Empty = true; break;
        case AtomKind::XmmClear: e.xmmZero[a.arg] = true; break;
        default: break;
        }
    }
    return e;
}

const char* const GPR_NAMES[16] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
                                   "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};

uint64_t Mm(int k) { uint64_t v; std::memcpy(&v, &PortAfterFx[32 + 16 * k], 8); return v; }

bool XmmIs(int k, bool zero)
{
    for (int j = 0; j < 16; ++j)
        if (PortAfterFx[160 + 16 * k + j] != (zero ? 0 : SeedXmmByte(k, j))) return false;
    return true;
}

class PortRegisters : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Seed();
        // A private stack as high as the system gives one.
        const SIZE_T size = 1 << 16;
        stack = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE));
        if (stack) PortCaseStack = (reinterpret_cast<uint64_t>(stack) + size - 64) & ~uint64_t(15);
    }
    static void TearDownTestSuite()
    {
        PortCaseStack = 0;
        if (stack) VirtualFree(stack, 0, MEM_RELEASE);
        stack = nullptr;
    }
    static inline uint8_t* stack = nullptr;
};

TEST_F(PortRegisters, CasesRunOnAStackAbove4GB)
{
    ASSERT_NE(stack, nullptr);
    EXPECT_GT(PortCaseStack, 0xFFFFFFFFull) << "the contract below cannot tell 32-bit stack moves from 64-bit ones";
}

TEST_F(PortRegisters, EveryAtomAndBlockKeepsTheContract)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        Bytes want = Encode(c.seq);
        ASSERT_EQ(Hex(Bytes(c.begin, c.end)).substr(0, 3 * 64), Hex(want).substr(0, 3 * 64)) << "first bytes";
        ASSERT_TRUE(size_t(c.end - c.begin) == want.size() && std::memcmp(c.begin, want.data(), want.size()) == 0)
            << "the port's bytes differ from the model";

        PortTraceOn = 0;
        c.run();
        Expected e = Fold(c.seq, PortBeforeRsp);
        for (int r = 0; r < 16; ++r)
            EXPECT_EQ(PortAfterGpr[r], e.gpr[r]) << GPR_NAMES[r] << std::hex << " (seeded 0x" << PortSeedGpr[r] << ")";
        for (int k = 0; k < 8; ++k) EXPECT_EQ(Mm(k), e.mmxZero[k] ? 0 : SeedMantissa(k)) << "mm" << k;
        for (int k = 0; k < 16; ++k)
            EXPECT_TRUE(XmmIs(k, e.xmmZero[k])) << "xmm" << k << (e.xmmZero[k] ? " not zero" : " changed");
        uint16_t fsw;
        std::memcpy(&fsw, &PortAfterFx[2], 2);
        EXPECT_EQ((fsw >> 11) & 7, 0) << "x87 top of stack";
        EXPECT_EQ(PortAfterFx[4], e.x87Empty ? 0x00 : 0xFF) << "x87 tag word (abridged)";
        if (e.x87Empty) {
            EXPECT_EQ(PortProbeOut, 26.75) << "x87 arithmetic after the MMX state was left";
            EXPECT_EQ(PortProbeStatus & 0x41, 0) << "x87 invalid operation or stack fault";
        }
    }
}

// --- FpuLoop passes, counted by single-stepping ------------------------------
//
// Only a loop is stepped: the exception is delivered on the stack of the
// stepped code, and EspClear holds rsp at 0. The case runs on the thread's
// own stack for the same reason. Each step costs some 40 us under Wine, so
// only FpuLoop(16384) is stepped; FpuLoop(32768) is the same text with
// another count, and its bytes (the count included) are compared above.

volatile uintptr_t StepBegin, StepEnd;
uint64_t StepExecuted, StepPasses;
uint8_t LoopBody[10];

LONG CALLBACK OnSingleStep(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_SINGLE_STEP) return EXCEPTION_CONTINUE_SEARCH;
    uintptr_t rip = info->ContextRecord->Rip;
    if (rip > StepBegin && rip <= StepEnd) {
        ++StepExecuted;
        StepPasses += std::memcmp(reinterpret_cast<const void*>(rip), LoopBody, sizeof LoopBody) == 0;
        // Keep stepping to the end label, whether or not the system cleared the flag.
        if (rip < StepEnd) info->ContextRecord->EFlags |= 0x100;
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(PortFpuLoop, BodyRunsExactlyKTimesAndLeavesEaxZero)
{
    Bytes loop = FpuLoop(1, PORT).Encoding();
    ASSERT_EQ(loop.size(), 5 + sizeof LoopBody);
    std::memcpy(LoopBody, loop.data() + 5, sizeof LoopBody);
    Seed();
    PVOID handler = AddVectoredExceptionHandler(1, OnSingleStep);
    ASSERT_NE(handler, nullptr);
    struct { void (*run)(); const uint8_t *begin, *end; uint32_t k; } loops[] = {
        {PortLoop16384, PortLoop16384_begin, PortLoop16384_end, 16384},
    };
    for (auto& l : loops) {
        SCOPED_TRACE(l.k);
        StepBegin = reinterpret_cast<uintptr_t>(l.begin);
        StepEnd = reinterpret_cast<uintptr_t>(l.end);
        StepExecuted = StepPasses = 0;
        PortCaseStack = 0;
        PortTraceOn = 1;
        l.run();
        PortTraceOn = 0;
        // mov eax,k runs before the first trap; each pass then arrives at the
        // body's first fnop.
        EXPECT_EQ(StepPasses, l.k);
        EXPECT_EQ(StepExecuted, FpuLoop(l.k, PORT).Executed());
        EXPECT_EQ(PortAfterGpr[EAX], 0u);
    }
    RemoveVectoredExceptionHandler(handler);
}

}  // namespace
