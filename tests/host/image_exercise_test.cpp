// The exercise sequences as they stand in the PE32 image: the blocks of the
// entry routine and the whole worker routine, compared byte for byte with
// the model of atom_model.h.
#include <algorithm>
#include <map>
#include <cstring>

#include "image_fixture.h"

using image::BlockMatch;
using image::Token;

namespace {

std::string At(uint32_t va)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", va);
    return buf;
}

bool StartsWith(const image::Bytes& code, size_t at, const image::Bytes& pattern)
{
    return at + pattern.size() <= code.size() && std::equal(pattern.begin(), pattern.end(), code.begin() + long(at));
}

// Every block that opens with Marker; GprClear(eax) must be one whole form.
void ExpectOnlyWholeBlocks(const std::vector<BlockMatch>& blocks, const char* routine)
{
    for (const BlockMatch& b : blocks)
        EXPECT_NE(b.form, "") << routine << ": block at " << At(b.address) << " " << b.mismatch;
}

const image::Bytes& PauseGuardBytes()
{
    static const image::Bytes b = model::Encode(model::PauseGuard());
    return b;
}

TEST_F(ImageTest, MainSequenceHoldsTheStartupFullBlockAndTheFinalShortBlock)
{
    Routine r = RoutineNamed("MainSequence");
    ASSERT_FALSE(r.bytes.empty());
    auto blocks = image::FindBlocks(r.bytes, r.start);
    ExpectOnlyWholeBlocks(blocks, "MainSequence");
    auto tokens = image::Scan(r.bytes, r.start, Map());

    std::vector<const BlockMatch*> full8, finalShort, repeat, shorts;
    for (const BlockMatch& b : blocks) {
        if (b.form == "FullBlock(8)") full8.push_back(&b);
        if (b.form == "RepeatBlock") repeat.push_back(&b);
        if (b.form == "ShortBlock") {
            shorts.push_back(&b);
            // The repetition's short block is followed at once by PauseGuard.
            if (!StartsWith(r.bytes, b.address + b.length - r.start, PauseGuardBytes())) finalShort.push_back(&b);
        }
        EXPECT_NE(b.form, "FullBlock(4)") << "a worker-sized block in MainSequence at " << At(b.address);
    }
    ASSERT_EQ(full8.size(), 1u) << "start-up FullBlock(8)";
    ASSERT_EQ(finalShort.size(), 1u) << "final ShortBlock (one not followed by PauseGuard)";
    EXPECT_EQ(repeat.size(), 1u) << "RepeatBlock of the repetition";
    EXPECT_EQ(shorts.size(), 2u) << "ShortBlock of the repetition and before the end";

    // The start-up block runs before the first launch.
    auto launch = std::find_if(tokens.begin(), tokens.end(), [](const Token& t) { return t.isCall && t.callee == "LaunchWorkers"; });
    ASSERT_NE(launch, tokens.end()) << "no call to LaunchWorkers";
    EXPECT_LT(full8[0]->address, launch->address);

    // The final short block leads into the end path.
    auto next = std::find_if(tokens.begin(), tokens.end(),
                             [&](const Token& t) { return t.isCall && t.address > finalShort[0]->address; });
    ASSERT_NE(next, tokens.end()) << "nothing called after the final ShortBlock";
    EXPECT_TRUE(next->callee == "EndPath" || next->callee == "ProcessEnd")
        << "after the final ShortBlock comes " << next->Text() << " at " << At(next->address);
}

// Blocks stand only where the program places them: FullBlock(8) at start-up,
// the repetition's ShortBlock and RepeatBlock, the final ShortBlock, the
// control window's ShortBlock on exit, and five FullBlock(4) in the worker.
TEST_F(ImageTest, EveryBlockInTheCodeIsWholeAndWherePlaced)
{
    std::map<std::string, std::vector<std::string>> where;  // form -> routines
    for (const image::Section& s : Pe().sections) {
        if (s.name != ".text") continue;
        uint32_t va = Pe().imageBase + s.rva;
        image::Bytes code = Pe().Read(va, std::min(s.virtualSize, s.rawSize));
        ASSERT_FALSE(code.empty());
        auto blocks = image::FindBlocks(code, va);
        ExpectOnlyWholeBlocks(blocks, ".text");
        for (const BlockMatch& b : blocks) {
            // The routine holding it: the nearest map symbol at or below.
            const image::MapSymbol* owner = nullptr;
            for (const image::MapSymbol& m : Map().symbols)
                if (m.outputSection == ".text" && m.address <= b.address && (!owner || m.address > owner->address))
                    owner = &m;
            where[b.form].push_back(owner ? owner->name : "?");
        }
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(where["FullBlock(8)"], V{"MainSequence"});
    EXPECT_EQ(where["RepeatBlock"], V{"MainSequence"});
    EXPECT_EQ(where["FullBlock(4)"], V(5, "WorkerRoutine"));
    V shorts = where["ShortBlock"];
    std::sort(shorts.begin(), shorts.end());
    EXPECT_EQ(shorts, (V{"ControlWindowPhase", "MainSequence", "MainSequence"}));
    EXPECT_EQ(where[""].size(), 0u);
}

// Every pause the program's own code makes is preceded by PauseGuard, with
// no other atom or call in between (the argument set-up may stand there).
TEST_F(ImageTest, EveryPauseCallStandsRightAfterPauseGuard)
{
    for (const char* name : {"MainSequence", "WorkerRoutine", "LaunchWorkers"}) {
        SCOPED_TRACE(name);
        Routine r = RoutineNamed(name);
        auto tokens = image::Scan(r.bytes, r.start, Map());
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (!tokens[i].isCall || tokens[i].callee != "Pause") continue;
            ASSERT_GT(i, 0u) << "pause at " << At(tokens[i].address) << " has nothing before it";
            EXPECT_EQ(tokens[i - 1].Text(), "GprClear(ecx)") << "before the pause at " << At(tokens[i].address);
        }
    }
}

// The assembler's no-op forms, which it uses to pad code to an alignment
// (IA-32 and x86-64).
bool EndsInNoOpPadding(const image::Bytes& code)
{
    static const char* const forms[] = {
        "90", "66 90", "0F 1F 00", "0F 1F 40 00", "0F 1F 44 00 00", "66 0F 1F 44 00 00",
        "0F 1F 80 00 00 00 00", "0F 1F 84 00 00 00 00 00", "66 0F 1F 84 00 00 00 00 00",
        "66 2E 0F 1F 84 00 00 00 00 00", "8D 76 00", "8D 74 26 00", "8D B6 00 00 00 00",
        "8D B4 26 00 00 00 00", "8D BC 27 00 00 00 00", "89 F6", "8D 36"};
    for (const char* form : forms) {
        image::Bytes f = model::ParseHex(form);
        if (code.size() >= f.size() && std::equal(f.begin(), f.end(), code.end() - long(f.size()))) return true;
    }
    return false;
}

// Everything between the last instruction of the code in front of the
// routine's page and the routine is int3: walking back from the routine, the
// int3 run reaches into the code piece before it, and what ends there is an
// instruction, not no-op padding.
TEST_P(BothImagesTest, WorkerRoutineStartsOnAPageAfterInt3Fill)
{
    auto worker = Map().Address("WorkerRoutine");
    ASSERT_TRUE(worker) << "WorkerRoutine is not named exactly once in the map";
    EXPECT_EQ(*worker % 4096, 0u) << At(*worker);

    // The code piece before it: the last input piece of .text that ends at or
    // before the routine (the routine's own piece when it starts later).
    uint32_t previousStart = 0, previousEnd = 0;
    for (const image::InputSection& in : Map().inputs)
        if (in.outputSection == ".text" && in.size && in.address + in.size <= *worker &&
            in.address + in.size > previousEnd) {
            previousStart = in.address;
            previousEnd = in.address + in.size;
        }
    if (const image::InputSection* own = Map().InputContaining(*worker); own && own->address < *worker) {
        previousStart = previousEnd;
        previousEnd = own->address;
    }
    ASSERT_GT(previousEnd, 0u) << "no code before WorkerRoutine";
    ASSERT_LT(previousEnd, *worker) << "no gap in front of WorkerRoutine";
    image::Bytes code = Pe().Read(previousStart, *worker - previousStart);
    ASSERT_EQ(code.size(), *worker - previousStart);
    size_t run = code.size();
    while (run > 0 && code[run - 1] == 0xCC) --run;
    uint32_t runStart = previousStart + uint32_t(run);
    EXPECT_LE(runStart, previousEnd) << "gap byte " << model::Hex({code[run - 1]}) << " at " << At(runStart - 1)
                                     << "; the code piece before ends at " << At(previousEnd);
    image::Bytes last(code.begin(), code.begin() + long(run));
    EXPECT_FALSE(EndsInNoOpPadding(last)) << "no-op padding in front of the int3 run at " << At(runStart) << ": "
                                          << model::Hex(image::Bytes(last.end() - long(std::min<size_t>(run, 12)), last.end()));
}

TEST_F(ImageTest, WorkerRoutineIsFiveFullBlocksWithOneGuardedPause)
{
    Routine r = RoutineNamed("WorkerRoutine");
    ASSERT_FALSE(r.bytes.empty());
    auto pause = Map().Address("Pause");
    auto pauseMs = Map().Address("WorkerPauseMs");
    ASSERT_TRUE(pause && pauseMs) << "Pause and WorkerPauseMs must be named once in the map";

    ASSERT_EQ(r.bytes[0], 0x53) << "push ebx first";
    auto blocks = image::FindBlocks(r.bytes, r.start);
    ExpectOnlyWholeBlocks(blocks, "WorkerRoutine");
    ASSERT_EQ(blocks.size(), 5u) << "full blocks in the worker";
    for (const BlockMatch& b : blocks) ASSERT_EQ(b.form, "FullBlock(4)") << At(b.address);
    EXPECT_EQ(blocks[0].address, r.start + 1) << "the first block follows push ebx";

    // Between the first and the second block: PauseGuard, then the argument
    // read from WorkerPauseMs and exactly one call, to Pause.
    size_t guardAt = blocks[0].address + blocks[0].length - r.start;
    ASSERT_TRUE(StartsWith(r.bytes, guardAt, PauseGuardBytes())) << "PauseGuard after the first block";
    size_t callFrom = guardAt + PauseGuardBytes().size(), callTo = blocks[1].address - r.start;
    image::Bytes between(r.bytes.begin() + long(callFrom), r.bytes.begin() + long(callTo));
    auto tokens = image::Scan(between, r.start + uint32_t(callFrom), Map());
    std::vector<uint32_t> callTargets;
    for (const Token& t : tokens) {
        ASSERT_TRUE(t.isCall) << "atom " << t.Text() << " between PauseGuard and the pause";
        size_t at = t.address - r.start - callFrom;
        ASSERT_EQ(between[at], 0xE8) << "indirect call to " << t.callee;
        uint32_t rel;
        std::memcpy(&rel, &between[at + 1], 4);
        callTargets.push_back(t.address + 5 + rel);
    }
    ASSERT_EQ(callTargets.size(), 1u) << "calls between the first two blocks: " << model::Hex(between);
    EXPECT_EQ(callTargets[0], *pause) << "the call goes to " << At(callTargets[0]) << ", Pause is at " << At(*pause);
    const uint8_t* ms = reinterpret_cast<const uint8_t*>(&*pauseMs);
    EXPECT_NE(std::search(between.begin(), between.end(), ms, ms + 4), between.end())
        << "the pause length is not read from WorkerPauseMs (" << At(*pauseMs) << "): " << model::Hex(between);

    // Blocks two to five follow one another directly; then result 0, pop
    // ebx, ret 4.
    for (size_t i = 1; i + 1 < blocks.size(); ++i)
        EXPECT_EQ(blocks[i + 1].address, blocks[i].address + blocks[i].length) << "block " << i + 2;
    size_t tail = blocks[4].address + blocks[4].length - r.start;
    ASSERT_LE(tail + 6, r.bytes.size());
    image::Bytes end(r.bytes.begin() + long(tail), r.bytes.begin() + long(tail) + 6);
    EXPECT_TRUE(end == model::ParseHex("31 C0 5B C2 04 00") || end == model::ParseHex("33 C0 5B C2 04 00"))
        << "after the last block: " << model::Hex(end) << " (expected xor eax,eax; pop ebx; ret 4)";
}

}  // namespace
