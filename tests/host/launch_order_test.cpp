// The order of atoms and calls inside LaunchWorkers in the PE32 image. The
// atoms carry "memory" clobbers so that the compiler keeps every call and
// store on its side of them; this test reads the optimised code and fails if
// a call crossed an atom, an atom is missing, or one too many stands there.
//
// Atoms are found by their exact bytes, calls by E8 targets that the map
// names. Calls that the compiler may lay out after the routine's return
// (noreturn calls and rarely taken branches) are accepted there only if a
// jump from the right place in the sequence leads to them.
#include <algorithm>
#include <cstring>

#include "image_fixture.h"

using image::Token;

namespace {

struct Step {
    const char* text;
    bool mayBeOutOfLine;
};

// The launch, step by step. Beyond the atoms and calls of the launch itself
// the code holds two more calls:
//   - ControlWindowPhase: the control window phase is a routine of its own,
//     called only while RepeatFlag is 0, so the compiler may place the call
//     after the return;
//   - EndPath: the end path, taken when the worker table could not be made
//     and when a worker is not running after its creation; it does not return,
//     so the compiler may move it behind the return and share one call.
const Step EXPECTED[] = {
    {"call TruncateToInteger", false},  // unit <- truncation of 1.0
    {"MmxExit", false},
    {"GprClear(eax)", false},           // then WorkerPauseMs <- 256
    {"call ArrayCreate", false},        // the worker table
    {"call EndPath", true},             // no table
    {"GprClear(eax)", false},           // n <- 1
    {"GprClear(eax)", false},           // i <- 1
    {"GprClear(eax)", false},           // level <- 32
    {"call CountProcessors", false},
    {"call ControlWindowPhase", true},  // while RepeatFlag is 0
    // Start loop.
    {"GprClear(eax)", false},
    {"GprClear(eax)", false},
    {"GprClear(ebx)", false},
    {"GprClear(ecx)", false},
    {"GprClear(edx)", false},
    {"call SymbolLookup", false},
    {"call ThreadCreate", false},
    {"call ThreadIsRunning", false},
    {"call EndPath", true},             // a worker that is not running
    {"GprClear(eax)", false},
    {"GprClear(ebx)", false},
    {"GprClear(ecx)", false},
    {"GprClear(edx)", false},
    {"call ThreadPriority", false},
    // After the loop.
    {"GprClear(ecx)", false},           // PauseGuard
    {"call Pause", false},
    {"call ThreadWait", false},         // wait loop
    {"call ArrayFree", false},
};

std::string List(const std::vector<Token>& tokens)
{
    std::string s;
    for (const Token& t : tokens) {
        char at[16];
        std::snprintf(at, sizeof at, "0x%08X ", t.address);
        s += "\n  " + std::string(at) + t.Text();
    }
    return s;
}

// Targets of the jumps (Jcc rel8/rel32, jmp rel8/rel32) that could start in
// [from, to). Every byte is tried as an opcode: a stray match would also have
// to hit the one small region the caller asks about.
std::vector<uint32_t> JumpTargets(const image::Bytes& code, uint32_t va, uint32_t from, uint32_t to)
{
    std::vector<uint32_t> out;
    for (uint32_t a = from; a < to; ++a) {
        size_t p = a - va;
        uint8_t b = code[p];
        if ((b >= 0x70 && b <= 0x7F) || b == 0xEB) {
            if (p + 2 <= code.size()) out.push_back(a + 2 + uint32_t(int32_t(int8_t(code[p + 1]))));
        } else if (b == 0xE9 || (b == 0x0F && p + 1 < code.size() && code[p + 1] >= 0x80 && code[p + 1] <= 0x8F)) {
            size_t len = b == 0xE9 ? 5 : 6;
            if (p + len <= code.size()) {
                int32_t rel;
                std::memcpy(&rel, &code[p + len - 4], 4);
                out.push_back(a + uint32_t(len) + uint32_t(rel));
            }
        }
    }
    return out;
}

TEST_F(ImageTest, LaunchWorkersKeepsEveryCallBetweenItsAtoms)
{
    Routine r = RoutineNamed("LaunchWorkers");
    ASSERT_FALSE(r.bytes.empty());
    EXPECT_TRUE(image::FindBlocks(r.bytes, r.start).empty()) << "LaunchWorkers runs no block";
    // Padding nops after a call that does not return read as Marker; the
    // launch has no Marker of its own.
    std::vector<Token> tokens;
    for (const Token& t : image::Scan(r.bytes, r.start, Map()))
        if (t.isCall || t.atom.kind != model::AtomKind::Marker) tokens.push_back(t);
    SCOPED_TRACE("atoms and calls found:" + List(tokens));

    struct OutOfLine {
        const char* text;
        uint32_t gapFrom, gapTo;  // where the jump to it must start
    };
    std::vector<OutOfLine> pending;
    size_t t = 0;
    const size_t steps = sizeof EXPECTED / sizeof EXPECTED[0];
    for (size_t s = 0; s < steps; ++s) {
        const Step& step = EXPECTED[s];
        if (t < tokens.size() && tokens[t].Text() == step.text) {
            ++t;
            continue;
        }
        ASSERT_TRUE(step.mayBeOutOfLine) << "step " << s << ": expected " << step.text << ", found "
                                         << (t < tokens.size() ? tokens[t].Text() : "the end of the routine");
        // The jump to it starts after the previous step and before the next.
        ASSERT_GT(t, 0u);
        uint32_t from = tokens[t - 1].address + tokens[t - 1].length;
        uint32_t to = t < tokens.size() ? tokens[t].address : r.end;
        pending.push_back({step.text, from, to});
    }
    // What follows the last step: only the calls laid out behind the return.
    std::vector<Token> tail(tokens.begin() + long(t), tokens.end());
    for (const Token& x : tail)
        EXPECT_TRUE(std::any_of(pending.begin(), pending.end(), [&](const OutOfLine& o) { return x.Text() == o.text; }))
            << x.Text() << " after the last step of the launch";
    for (const OutOfLine& o : pending) {
        SCOPED_TRACE(o.text);
        bool reached = false;
        for (size_t i = 0; i < tail.size() && !reached; ++i) {
            if (tail[i].Text() != o.text) continue;
            // Landing anywhere between the token before it and the call reaches it.
            const Token& before = i > 0 ? tail[i - 1] : tokens[t - 1];
            for (uint32_t target : JumpTargets(r.bytes, r.start, o.gapFrom, o.gapTo))
                reached = reached || (target >= before.address + before.length && target <= tail[i].address);
        }
        EXPECT_TRUE(reached) << "no jump between 0x" << std::hex << o.gapFrom << " and 0x" << o.gapTo
                             << " leads to it";
    }
}

}  // namespace
