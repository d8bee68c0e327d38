// The register contract of the exercise sequences, executed: a static i386
// Linux program run under qemu-i386, built from the product's own assembler
// text (exercise/atoms.h, exercise/blocks.h).
//
// Every case is one assembler routine, because the sequences clobber eax..edx
// and the stack pointer and no compiler-made code may run between seeding,
// the sequence and saving. A case routine
//   1. saves the C environment (callee-saved registers, x87/SSE state, esp);
//   2. seeds every register: fxrstor loads x87 values with all eight tags
//      valid (so mm0..mm7 hold non-zero mantissas) and non-zero xmm0..xmm7;
//      the general registers get distinct non-zero values;
//   3. optionally sets the trap flag, runs the sequence between the labels
//      <case>_begin and <case>_end, and saves the general registers and an
//      fxsave image without touching the stack;
//   4. runs a short x87 computation (meaningful only where the x87 stack
//      should be empty again) and restores the C environment.
//
// The expected register image is folded from the independent model of
// atom_model.h with the effects the atoms are defined to have (GprClear(r)
// zeroes r, FpuLoop zeroes eax, EspClear leaves the stack pointer in eax,
// MmxClear(k) zeroes mmk and puts the x87 unit in MMX state, MmxExit empties
// it, XmmClear(k) zeroes xmmk; nothing else changes).
//
// Counting is done by single-stepping in a second run: a SIGTRAP handler on
// an alternate stack (EspClear runs with esp = 0) counts the instructions
// executed between the labels, the arrivals at the first fnop of an FpuLoop
// body (so the body ran exactly that many times) and the emms executed. No
// timing is involved.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <ucontext.h>
#include <unistd.h>

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
alignas(16) uint8_t SeedFx[512];
alignas(16) uint8_t AfterFx[512];
alignas(16) uint8_t HostFx[512];
uint32_t SeedGpr[8];   // indexed by model::Reg (eax ecx edx ebx esp ebp esi edi); esp unused
uint32_t AfterGpr[8];
uint32_t BeforeEsp;
uint32_t HostEsp;
uint32_t TraceOn;
double ProbeA = 1.5, ProbeB = 2.25, ProbeC = 10.0, ProbeD = 0.5;
double ProbeOut;
uint16_t ProbeStatus;
}

// (1.5 * 2.25 + 10) / 0.5 = 26.75, exact in binary; on a full x87 stack the
// first load overflows and the result is not a number.
#define HARNESS_X87_PROBE                     \
    "fld qword ptr [ProbeA]\n"                \
    "fmul qword ptr [ProbeB]\n"               \
    "fadd qword ptr [ProbeC]\n"               \
    "fdiv qword ptr [ProbeD]\n"               \
    "fstp qword ptr [ProbeOut]\n"             \
    "fnstsw word ptr [ProbeStatus]\n"

#define HARNESS_CASE(name, text)                                                         \
    asm(".text\n"                                                                        \
        ".globl " #name "\n"                                                             \
        ".globl " #name "_begin\n"                                                       \
        ".globl " #name "_end\n"                                                         \
        #name ":\n"                                                                      \
        ".intel_syntax noprefix\n"                                                       \
        "push ebp\n push ebx\n push esi\n push edi\n"                                    \
        "fxsave [HostFx]\n"                                                              \
        "mov dword ptr [HostEsp], esp\n"                                                 \
        "fxrstor [SeedFx]\n"                                                             \
        "mov eax, dword ptr [SeedGpr + 0]\n"                                             \
        "mov ecx, dword ptr [SeedGpr + 4]\n"                                             \
        "mov edx, dword ptr [SeedGpr + 8]\n"                                             \
        "mov ebx, dword ptr [SeedGpr + 12]\n"                                            \
        "mov ebp, dword ptr [SeedGpr + 20]\n"                                            \
        "mov esi, dword ptr [SeedGpr + 24]\n"                                            \
        "mov edi, dword ptr [SeedGpr + 28]\n"                                            \
        "mov dword ptr [BeforeEsp], esp\n"                                               \
        "cmp dword ptr [TraceOn], 0\n"                                                   \
        "je 2f\n"                                                                        \
        "pushfd\n or dword ptr [esp], 0x100\n popfd\n"                                   \
        "2:\n"                                                                           \
        #name "_begin:\n"                                                                \
        text                                                                             \
        #name "_end:\n"                                                                  \
        "mov dword ptr [AfterGpr + 0], eax\n"                                            \
        "mov dword ptr [AfterGpr + 4], ecx\n"                                            \
        "mov dword ptr [AfterGpr + 8], edx\n"                                            \
        "mov dword ptr [AfterGpr + 12], ebx\n"                                           \
        "mov dword ptr [AfterGpr + 16], esp\n"                                           \
        "mov dword ptr [AfterGpr + 20], ebp\n"                                           \
        "mov dword ptr [AfterGpr + 24], esi\n"                                           \
        "mov dword ptr [AfterGpr + 28], edi\n"                                           \
        "fxsave [AfterFx]\n"                                                             \
        HARNESS_X87_PROBE                                                                \
        "mov esp, dword ptr [HostEsp]\n"                                                 \
        "pushfd\n and dword ptr [esp], 0xFFFFFEFF\n popfd\n"                             \
        "fxrstor [HostFx]\n"                                                             \
        "pop edi\n pop esi\n pop ebx\n pop ebp\n"                                        \
        "ret\n"                                                                          \
        ".att_syntax prefix\n");                                                         \
    extern "C" void name();                                                              \
    extern "C" const uint8_t name##_begin[], name##_end[];

HARNESS_CASE(CaseMarker, ATOM_MARKER)
HARNESS_CASE(CaseGprEax, ATOM_GPR_CLEAR("eax"))
HARNESS_CASE(CaseGprEbx, ATOM_GPR_CLEAR("ebx"))
HARNESS_CASE(CaseGprEcx, ATOM_GPR_CLEAR("ecx"))
HARNESS_CASE(CaseGprEdx, ATOM_GPR_CLEAR("edx"))
HARNESS_CASE(CaseEspClear, ATOM_ESP_CLEAR)
HARNESS_CASE(CaseFpuPair, ATOM_FPU_PAIR)
HARNESS_CASE(CaseSavedEdi, ATOM_SAVED_CLEAR("edi", "rdi"))
HARNESS_CASE(CaseSavedEsi, ATOM_SAVED_CLEAR("esi", "rsi"))
HARNESS_CASE(CaseSavedEbp, ATOM_SAVED_CLEAR("ebp", "rbp"))
HARNESS_CASE(CaseLoop16384, ATOM_FPU_LOOP(16384))
HARNESS_CASE(CaseLoop32768, ATOM_FPU_LOOP(32768))
HARNESS_CASE(CaseMmx0, ATOM_MMX_CLEAR(0))
HARNESS_CASE(CaseMmx1, ATOM_MMX_CLEAR(1))
HARNESS_CASE(CaseMmx2, ATOM_MMX_CLEAR(2))
HARNESS_CASE(CaseMmx3, ATOM_MMX_CLEAR(3))
HARNESS_CASE(CaseMmx4, ATOM_MMX_CLEAR(4))
HARNESS_CASE(CaseMmx5, ATOM_MMX_CLEAR(5))
HARNESS_CASE(CaseMmx6, ATOM_MMX_CLEAR(6))
HARNESS_CASE(CaseMmx7, ATOM_MMX_CLEAR(7))
HARNESS_CASE(CaseMmxExit, ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx0Exit, ATOM_MMX_CLEAR(0) ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx1Exit, ATOM_MMX_CLEAR(1) ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx2Exit, ATOM_MMX_CLEAR(2) ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx3Exit, ATOM_MMX_CLEAR(3) ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx4Exit, ATOM_MMX_CLEAR(4) ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx5Exit, ATOM_MMX_CLEAR(5) ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx6Exit, ATOM_MMX_CLEAR(6) ATOM_MMX_EXIT)
HARNESS_CASE(CaseMmx7Exit, ATOM_MMX_CLEAR(7) ATOM_MMX_EXIT)
HARNESS_CASE(CaseXmm0, ATOM_XMM_CLEAR(0))
HARNESS_CASE(CaseXmm1, ATOM_XMM_CLEAR(1))
HARNESS_CASE(CaseXmm2, ATOM_XMM_CLEAR(2))
HARNESS_CASE(CaseXmm3, ATOM_XMM_CLEAR(3))
HARNESS_CASE(CaseXmm4, ATOM_XMM_CLEAR(4))
HARNESS_CASE(CaseXmm5, ATOM_XMM_CLEAR(5))
HARNESS_CASE(CaseXmm6, ATOM_XMM_CLEAR(6))
HARNESS_CASE(CaseXmm7, ATOM_XMM_CLEAR(7))
HARNESS_CASE(CaseSweep, ATOM_REGISTER_SWEEP)
HARNESS_CASE(CaseCycle, ATOM_EXERCISE_CYCLE)
HARNESS_CASE(CaseFullBlock8, ATOM_FULL_BLOCK(8))
HARNESS_CASE(CaseFullBlock4, ATOM_FULL_BLOCK(4))
HARNESS_CASE(CaseRepeatBlock, ATOM_REPEAT_BLOCK)
HARNESS_CASE(CaseShortBlock, ATOM_SHORT_BLOCK)
HARNESS_CASE(CasePauseGuard, ATOM_PAUSE_GUARD)

// The statement forms compiled as ordinary functions (statement_forms.cpp)
// and a caller that seeds the cdecl callee-saved registers around them.
extern "C" {
uintptr_t FormFullBlock4(uintptr_t);
uintptr_t FormRepeatBlock(uintptr_t);
uintptr_t FormShortBlock(uintptr_t);
uintptr_t FormCycle(uintptr_t);
uintptr_t FormAtoms(uintptr_t);
uintptr_t FormReference(uintptr_t);
uintptr_t FormLiveAcrossShortBlock(uintptr_t);
uintptr_t FormLiveAcrossFullBlock(uintptr_t);
uintptr_t FormLiveAcrossAtoms(uintptr_t);
uint32_t CallSeed[4];   // ebx esi edi ebp
uint32_t CallAfter[4];
uint32_t CallEspBefore, CallEspAfter, CallResult;
uintptr_t CallSeeded(uintptr_t (*form)(uintptr_t), uintptr_t argument);
}

asm(".text\n"
    ".globl CallSeeded\n"
    "CallSeeded:\n"
    ".intel_syntax noprefix\n"
    "push ebp\n push ebx\n push esi\n push edi\n"
    "mov eax, dword ptr [esp + 20]\n"   // form
    "mov ecx, dword ptr [esp + 24]\n"   // argument
    "mov ebx, dword ptr [CallSeed + 0]\n"
    "mov esi, dword ptr [CallSeed + 4]\n"
    "mov edi, dword ptr [CallSeed + 8]\n"
    "mov ebp, dword ptr [CallSeed + 12]\n"
    "push ecx\n"
    "mov dword ptr [CallEspBefore], esp\n"
    "call eax\n"
    "mov dword ptr [CallEspAfter], esp\n"
    "add esp, 4\n"
    "mov dword ptr [CallResult], eax\n"
    "mov dword ptr [CallAfter + 0], ebx\n"
    "mov dword ptr [CallAfter + 4], esi\n"
    "mov dword ptr [CallAfter + 8], edi\n"
    "mov dword ptr [CallAfter + 12], ebp\n"
    "pop edi\n pop esi\n pop ebx\n pop ebp\n"
    "ret\n"
    ".att_syntax prefix\n");

namespace {

using model::Reg;

struct Case {
    const char* name;
    void (*run)();
    const uint8_t* begin;
    const uint8_t* end;
    model::Sequence seq;
};

#define CASE(fn, seq) {#fn, fn, fn##_begin, fn##_end, seq}

std::vector<Case> Cases()
{
    using namespace model;
    auto mmxExit = [](int k) { return Sequence{MmxClear(k), MmxExit()}; };
    return {
        CASE(CaseMarker, {Marker()}),
        CASE(CaseGprEax, {GprClear(EAX)}),
        CASE(CaseGprEbx, {GprClear(EBX)}),
        CASE(CaseGprEcx, {GprClear(ECX)}),
        CASE(CaseGprEdx, {GprClear(EDX)}),
        CASE(CaseEspClear, {EspClear()}),
        CASE(CaseFpuPair, {FpuPair()}),
        CASE(CaseSavedEdi, {SavedClear(EDI)}),
        CASE(CaseSavedEsi, {SavedClear(ESI)}),
        CASE(CaseSavedEbp, {SavedClear(EBP)}),
        CASE(CaseLoop16384, {FpuLoop(16384)}),
        CASE(CaseLoop32768, {FpuLoop(32768)}),
        CASE(CaseMmx0, {MmxClear(0)}),
        CASE(CaseMmx1, {MmxClear(1)}),
        CASE(CaseMmx2, {MmxClear(2)}),
        CASE(CaseMmx3, {MmxClear(3)}),
        CASE(CaseMmx4, {MmxClear(4)}),
        CASE(CaseMmx5, {MmxClear(5)}),
        CASE(CaseMmx6, {MmxClear(6)}),
        CASE(CaseMmx7, {MmxClear(7)}),
        CASE(CaseMmxExit, {MmxExit()}),
        CASE(CaseMmx0Exit, mmxExit(0)),
        CASE(CaseMmx1Exit, mmxExit(1)),
        CASE(CaseMmx2Exit, mmxExit(2)),
        CASE(CaseMmx3Exit, mmxExit(3)),
        CASE(CaseMmx4Exit, mmxExit(4)),
        CASE(CaseMmx5Exit, mmxExit(5)),
        CASE(CaseMmx6Exit, mmxExit(6)),
        CASE(CaseMmx7Exit, mmxExit(7)),
        CASE(CaseXmm0, {XmmClear(0)}),
        CASE(CaseXmm1, {XmmClear(1)}),
        CASE(CaseXmm2, {XmmClear(2)}),
        CASE(CaseXmm3, {XmmClear(3)}),
        CASE(CaseXmm4, {XmmClear(4)}),
        CASE(CaseXmm5, {XmmClear(5)}),
        CASE(CaseXmm6, {XmmClear(6)}),
        CASE(CaseXmm7, {XmmClear(7)}),
        CASE(CaseSweep, RegisterSweep()),
        CASE(CaseCycle, ExerciseCycle()),
        CASE(CaseFullBlock8, FullBlock(8)),
        CASE(CaseFullBlock4, FullBlock(4)),
        CASE(CaseRepeatBlock, RepeatBlock()),
        CASE(CaseShortBlock, ShortBlock()),
        CASE(CasePauseGuard, PauseGuard()),
    };
}

// --- seeds and the expected image -------------------------------------------

uint64_t SeedMantissa(int k) { return 0x8000000000000000ull | (0x0101010101010101ull * uint64_t(k + 1)) | 0x10; }
uint8_t SeedXmmByte(int k, int j) { return uint8_t(0x11 * (k + 1) + j) | 1; }

void Seed()
{
    std::memset(SeedFx, 0, sizeof SeedFx);
    uint16_t fcw = 0x037F;  // all exceptions masked, extended precision
    std::memcpy(&SeedFx[0], &fcw, 2);
    SeedFx[4] = 0xFF;       // abridged tag word: all eight registers valid
    uint32_t mxcsr = 0x1F80;
    std::memcpy(&SeedFx[24], &mxcsr, 4);
    for (int k = 0; k < 8; ++k) {
        uint64_t m = SeedMantissa(k);
        uint16_t exponent = uint16_t(0x3FFF + k);  // normal numbers 1.x * 2^k
        std::memcpy(&SeedFx[32 + 16 * k], &m, 8);
        std::memcpy(&SeedFx[32 + 16 * k + 8], &exponent, 2);
        for (int j = 0; j < 16; ++j) SeedFx[160 + 16 * k + j] = SeedXmmByte(k, j);
    }
    for (int r = 0; r < 8; ++r) SeedGpr[r] = 0x10203040u * uint32_t(r + 1) + 0x0A0B0C0Du;
}

struct Expected {
    uint32_t gpr[8];
    bool mmxZero[8] = {}, xmmZero[8] = {};
    bool x87Empty = false;  // the tag word after the sequence: empty, or as seeded (all valid)
};

Expected Fold(const model::Sequence& seq, uint32_t espBefore)
{
    Expected e;
    std::memcpy(e.gpr, SeedGpr, sizeof e.gpr);
    e.gpr[model::ESP] = espBefore;
    for (const model::Atom& a : seq) {
        switch (a.kind) {
        case model::AtomKind::GprClear: e.gpr[a.arg] = 0; break;
        case model::AtomKind::FpuLoop: e.gpr[model::EAX] = 0; break;
        case model::AtomKind::EspClear: e.gpr[model::EAX] = espBefore; break;
        case model::AtomKind::MmxClear: e.mmxZero[a.arg] = true; e.x87Empty = false; break;
        case model::AtomKind::MmxExit: e.x87Empty = true; break;
        case model::AtomKind::XmmClear: e.xmmZero[a.arg] = true; break;
        default: break;
        }
    }
    return e;
}

// --- single-step counting --------------------------------------------------

struct Counts {
    uint64_t executed = 0, passes = 0, emms = 0;
};

volatile const uint8_t* TraceBegin;
volatile const uint8_t* TraceEnd;
Counts Traced;
uint8_t LoopBody[9];  // the FpuLoop body after "mov eax, k", from the model

// An instruction is about to run at eip: count loop-body starts and emms.
void Arrive(const uint8_t* eip)
{
    bool body = true;
    for (unsigned i = 0; i < sizeof LoopBody; ++i) body = body && eip[i] == LoopBody[i];
    Traced.passes += body;
    Traced.emms += eip[0] == 0x0F && eip[1] == 0x77;
}

// No library calls and no SSE here: the handler runs between the seeded
// registers and the saved image of the traced run.
void OnTrap(int, siginfo_t*, void* context)
{
    auto* uc = static_cast<ucontext_t*>(context);
    const uint8_t* eip = reinterpret_cast<const uint8_t*>(uc->uc_mcontext.gregs[REG_EIP]);
    // The trap reports the next instruction: one executed instruction per
    // trap that lands after the first and up to the end label.
    if (eip <= TraceBegin || eip > TraceEnd) return;
    ++Traced.executed;
    if (eip < TraceEnd) Arrive(eip);
}

// A sequence that loses the stack pointer or a saved register usually ends
// in a fault: report the case and the tally instead of dying silently.
const char* CurrentCase = "";
int Passed, Failed;

void OnFault(int signal, siginfo_t*, void*)
{
    char buf[200];
    int n = std::snprintf(buf, sizeof buf, "FAIL %s\n    crashed with signal %d\n%d passed, %d failed\n", CurrentCase,
                          signal, Passed, Failed + 1);
    if (write(1, buf, size_t(n)) < 0) _exit(3);
    _exit(1);
}

// --- checks ------------------------------------------------------------------

std::string Failures;

void Check(bool ok, const char* what, unsigned long long expected, unsigned long long actual)
{
    if (ok) return;
    char buf[160];
    std::snprintf(buf, sizeof buf, "\n    %s: expected 0x%llX, got 0x%llX", what, expected, actual);
    Failures += buf;
}

uint64_t Mm(int k) { uint64_t v; std::memcpy(&v, &AfterFx[32 + 16 * k], 8); return v; }
bool XmmIs(int k, bool zero)
{
    for (int j = 0; j < 16; ++j)
        if (AfterFx[160 + 16 * k + j] != (zero ? 0 : SeedXmmByte(k, j))) return false;
    return true;
}

void CheckContract(const Case& c)
{
    TraceOn = 0;
    c.run();
    Expected e = Fold(c.seq, BeforeEsp);
    static const char* const names[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
    for (int r = 0; r < 8; ++r) Check(AfterGpr[r] == e.gpr[r], names[r], e.gpr[r], AfterGpr[r]);
    char what[32];
    for (int k = 0; k < 8; ++k) {
        uint64_t want = e.mmxZero[k] ? 0 : SeedMantissa(k);
        std::snprintf(what, sizeof what, "mm%d", k);
        Check(Mm(k) == want, what, want, Mm(k));
        std::snprintf(what, sizeof what, "xmm%d %s", k, e.xmmZero[k] ? "zero" : "unchanged");
        Check(XmmIs(k, e.xmmZero[k]), what, 0, 0);
    }
    uint16_t fsw;
    std::memcpy(&fsw, &AfterFx[2], 2);
    Check(((fsw >> 11) & 7) == 0, "x87 top of stack", 0, (fsw >> 11) & 7);
    Check(AfterFx[4] == (e.x87Empty ? 0x00 : 0xFF), "x87 tag word (abridged)", e.x87Empty ? 0 : 0xFF, AfterFx[4]);
    if (e.x87Empty) {
        Check(ProbeOut == 26.75, "x87 (1.5 * 2.25 + 10) / 0.5, times 100 (all ones: not a number)", 2675,
              ProbeOut == ProbeOut ? uint64_t(ProbeOut * 100) : ~0ull);
        Check((ProbeStatus & 0x41) == 0, "x87 invalid/stack fault after the computation", 0, ProbeStatus);
    }
}

void CheckCounts(const Case& c)
{
    Traced = {};
    Arrive(c.begin);  // the first instruction runs before any trap
    TraceBegin = c.begin;
    TraceEnd = c.end;
    TraceOn = 1;
    c.run();
    TraceOn = 0;
    Check(Traced.executed == model::Executed(c.seq), "instructions executed", model::Executed(c.seq), Traced.executed);
    Check(Traced.passes == model::LoopPasses(c.seq), "FpuLoop passes", model::LoopPasses(c.seq), Traced.passes);
    uint64_t emms = uint64_t(model::Count(c.seq, model::AtomKind::MmxExit));
    Check(Traced.emms == emms, "emms executed", emms, Traced.emms);
}

}  // namespace

int main()
{
    static uint8_t alternate[1 << 16];
    stack_t ss{};
    ss.ss_sp = alternate;
    ss.ss_size = sizeof alternate;
    struct sigaction sa{};
    sa.sa_sigaction = OnTrap;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    struct sigaction fault{};
    fault.sa_sigaction = OnFault;
    fault.sa_flags = SA_SIGINFO | SA_ONSTACK;
    if (sigaltstack(&ss, nullptr) != 0 || sigaction(SIGTRAP, &sa, nullptr) != 0 ||
        sigaction(SIGSEGV, &fault, nullptr) != 0 || sigaction(SIGBUS, &fault, nullptr) != 0 ||
        sigaction(SIGILL, &fault, nullptr) != 0) {
        std::perror("signal set-up");
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    model::Bytes loop = model::FpuLoop(1).Encoding();
    static_assert(sizeof LoopBody == 9);
    std::memcpy(LoopBody, loop.data() + 5, sizeof LoopBody);

    Seed();
    for (const Case& c : Cases()) {
        CurrentCase = c.name;
        Failures.clear();
        // The bytes between the labels are the model's bytes: what runs here
        // is what the image tests compare.
        model::Bytes want = model::Encode(c.seq);
        bool same = size_t(c.end - c.begin) == want.size() && std::memcmp(c.begin, want.data(), want.size()) == 0;
        Check(same, "bytes between the labels equal the model (length)", want.size(), uint64_t(c.end - c.begin));
        CheckContract(c);
        CheckCounts(c);
        if (Failures.empty()) {
            ++Passed;
            std::printf("PASS %s\n", c.name);
        } else {
            ++Failed;
            std::printf("FAIL %s%s\n", c.name, Failures.c_str());
        }
    }
    // The statement forms in compiled code: callee-saved registers and
    // values the compiler keeps across them survive.
    struct Form { const char* name; uintptr_t (*form)(uintptr_t); bool live; };
    const Form forms[] = {
        {"FormFullBlock4", FormFullBlock4, false},
        {"FormRepeatBlock", FormRepeatBlock, false},
        {"FormShortBlock", FormShortBlock, false},
        {"FormCycle", FormCycle, false},
        {"FormAtoms", FormAtoms, false},
        {"FormLiveAcrossShortBlock", FormLiveAcrossShortBlock, true},
        {"FormLiveAcrossFullBlock", FormLiveAcrossFullBlock, true},
        {"FormLiveAcrossAtoms", FormLiveAcrossAtoms, true},
    };
    static const char* const saved[] = {"ebx", "esi", "edi", "ebp"};
    for (const Form& f : forms) {
        CurrentCase = f.name;
        Failures.clear();
        for (int i = 0; i < 4; ++i) CallSeed[i] = 0x5EED0000u + uint32_t(i) * 0x01010101u;
        const uintptr_t argument = 0x1234567u;
        uintptr_t result = CallSeeded(f.form, argument);
        for (int i = 0; i < 4; ++i) Check(CallAfter[i] == CallSeed[i], saved[i], CallSeed[i], CallAfter[i]);
        Check(CallEspAfter == CallEspBefore, "esp", CallEspBefore, CallEspAfter);
        if (f.live) Check(result == FormReference(argument), "values kept across the sequence", FormReference(argument), result);
        if (Failures.empty()) {
            ++Passed;
            std::printf("PASS %s\n", f.name);
        } else {
            ++Failed;
            std::printf("FAIL %s%s\n", f.name, Failures.c_str());
        }
    }

    std::printf("%d passed, %d failed\n", Passed, Failed);
    return Failed ? 1 : 0;
}
