// The model's encoder against the literal encodings of the atom table, and
// the composition of sweep, cycle and blocks. The image tests compare the
// built image with this model, so a fault here would hide faults there.
#include <gtest/gtest.h>

#include "atom_model.h"

using namespace model;

namespace {

struct EncodingCase {
    const char* name;
    Atom atom;
    const char* hex;
    size_t insns;
};

std::string MmxHex(const char* m)
{
    std::string s;
    for (const char* op : {"EF", "EF", "EF", "DB", "EB", "EF"}) s += std::string("0F ") + op + " " + m + " ";
    return s;
}

std::string XmmHex(const char* m)
{
    std::string s;
    for (const char* op : {"EF", "EF", "DB", "EB", "EF"}) s += std::string("66 0F ") + op + " " + m + " ";
    return s;
}

TEST(AtomEncoding, EveryAtomHasTheTableBytes)
{
    const char* modrm[] = {"C0", "C9", "D2", "DB", "E4", "ED", "F6", "FF"};
    std::vector<EncodingCase> cases = {
        {"Marker", Marker(), "90 90", 2},
        {"GprClear(eax)", GprClear(EAX), "31 C0 31 C0 21 C0 09 C0 31 C0", 5},
        {"GprClear(ebx)", GprClear(EBX), "31 DB 31 DB 21 DB 09 DB 31 DB", 5},
        {"GprClear(ecx)", GprClear(ECX), "31 C9 31 C9 21 C9 09 C9 31 C9", 5},
        {"GprClear(edx)", GprClear(EDX), "31 D2 31 D2 21 D2 09 D2 31 D2", 5},
        {"EspClear", EspClear(), "89 E0 31 E4 31 E4 21 E4 09 E4 31 E4 D9 D0 D9 D0 89 C4", 9},
        {"FpuPair", FpuPair(), "50 D9 D0 D9 D0 58", 4},
        {"SavedClear(edi)", SavedClear(EDI), "57 31 FF 31 FF 21 FF 09 FF 31 FF D9 D0 D9 D0 5F", 9},
        {"SavedClear(esi)", SavedClear(ESI), "56 31 F6 31 F6 21 F6 09 F6 31 F6 D9 D0 D9 D0 5E", 9},
        {"SavedClear(ebp)", SavedClear(EBP), "55 31 ED 31 ED 21 ED 09 ED 31 ED D9 D0 D9 D0 5D", 9},
        {"FpuLoop(16384)", FpuLoop(16384), "B8 00 40 00 00 D9 D0 90 D9 D0 90 48 75 F7", 7},
        {"FpuLoop(32768)", FpuLoop(32768), "B8 00 80 00 00 D9 D0 90 D9 D0 90 48 75 F7", 7},
        {"MmxExit", MmxExit(), "0F 77", 1},
        // The port: whole stack pointer moves, two-byte decrement.
        {"port EspClear", EspClear({true}), "48 89 E0 31 E4 31 E4 21 E4 09 E4 31 E4 D9 D0 D9 D0 48 89 C4", 9},
        {"port FpuLoop(16384)", FpuLoop(16384, {true}), "B8 00 40 00 00 D9 D0 90 D9 D0 90 FF C8 75 F6", 7},
        {"port SavedClear(ebp)", SavedClear(EBP, {true}), "55 31 ED 31 ED 21 ED 09 ED 31 ED D9 D0 D9 D0 5D", 9},
    };
    std::vector<std::string> hexes;
    for (int k = 0; k < 8; ++k) {
        hexes.push_back(MmxHex(modrm[k]));
        hexes.push_back(XmmHex(modrm[k]));
    }
    for (int k = 0; k < 8; ++k) {
        cases.push_back({"MmxClear(k)", MmxClear(k), hexes[2 * k].c_str(), 6});
        cases.push_back({"XmmClear(k)", XmmClear(k), hexes[2 * k + 1].c_str(), 5});
    }
    for (const EncodingCase& c : cases) {
        SCOPED_TRACE(c.name + std::string(" / ") + c.atom.Name());
        EXPECT_EQ(Hex(c.atom.Encoding()), Hex(ParseHex(c.hex)));
        EXPECT_EQ(c.atom.insns.size(), c.insns);
    }
}

TEST(AtomEncoding, SweepIsSeventeenAtomsOf97InstructionsIn180Bytes)
{
    Sequence s = RegisterSweep();
    std::vector<std::string> names;
    for (const Atom& a : s) names.push_back(a.Name());
    EXPECT_EQ(names, (std::vector<std::string>{
                         "GprClear(eax)", "EspClear", "GprClear(eax)", "FpuPair", "SavedClear(edi)", "GprClear(eax)",
                         "FpuPair", "SavedClear(esi)", "GprClear(eax)", "FpuPair", "SavedClear(ebp)", "GprClear(eax)",
                         "FpuPair", "GprClear(eax)", "GprClear(ebx)", "GprClear(ecx)", "GprClear(edx)"}));
    EXPECT_EQ(s.size(), 17u);
    EXPECT_EQ(InsnCount(s), 97u);
    EXPECT_EQ(Encode(s).size(), 180u);
}

TEST(AtomEncoding, CycleClearsMmxInOrderThenOneEmmsThenXmmInOrder)
{
    Sequence cycle = ExerciseCycle();
    Sequence sweep = RegisterSweep();
    std::vector<std::string> between;
    size_t i = 0, sweeps = 0;
    // Walk the cycle as "sweep, other atom" pairs; every sweep must be whole.
    while (i < cycle.size()) {
        for (size_t j = 0; j < sweep.size(); ++j, ++i) {
            ASSERT_LT(i, cycle.size());
            ASSERT_EQ(cycle[i].Name(), sweep[j].Name()) << "sweep " << sweeps << " atom " << j;
        }
        ++sweeps;
        if (i < cycle.size()) between.push_back(cycle[i++].Name());
    }
    EXPECT_EQ(sweeps, 18u);
    EXPECT_EQ(between, (std::vector<std::string>{"MmxClear(0)", "MmxClear(1)", "MmxClear(2)", "MmxClear(3)",
                                                 "MmxClear(4)", "MmxClear(5)", "MmxClear(6)", "MmxClear(7)", "MmxExit",
                                                 "XmmClear(0)", "XmmClear(1)", "XmmClear(2)", "XmmClear(3)",
                                                 "XmmClear(4)", "XmmClear(5)", "XmmClear(6)", "XmmClear(7)"}));
    EXPECT_EQ(Encode(cycle).size(), 18u * 180 + 8 * 18 + 2 + 8 * 20);
}

TEST(AtomEncoding, BlocksOpenAndCloseAsTheTableSays)
{
    struct BlockCase {
        const char* name;
        Sequence block;
        std::vector<std::string> opening;
        int cycles;
    };
    const std::vector<std::string> five = {"Marker", "GprClear(eax)", "GprClear(ebx)", "GprClear(ecx)",
                                           "GprClear(edx)", "GprClear(eax)", "FpuLoop(16384)"};
    const BlockCase cases[] = {
        {"FullBlock(8)", FullBlock(8), five, 8},
        {"FullBlock(4)", FullBlock(4), five, 4},
        {"RepeatBlock", RepeatBlock(), {"Marker", "GprClear(eax)", "FpuLoop(16384)"}, 8},
    };
    const size_t cycleAtoms = ExerciseCycle().size();
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.block.size(), c.opening.size() + c.cycles * cycleAtoms + 1);
        for (size_t i = 0; i < c.opening.size(); ++i) EXPECT_EQ(c.block[i].Name(), c.opening[i]);
        EXPECT_EQ(c.block.back().Name(), "FpuLoop(32768)");
        EXPECT_EQ(LoopPasses(c.block), 16384u + 32768u);
        EXPECT_EQ(Count(c.block, AtomKind::MmxExit), c.cycles);
        EXPECT_EQ(Count(c.block, AtomKind::FpuLoop), 2);
        // Marker, 10 bytes per clear, 14 per loop, 3546 per cycle.
        EXPECT_EQ(Encode(c.block).size(), 2 + (c.opening.size() - 2) * 10 + 14 + c.cycles * 3546u + 14);
    }
    Sequence shortBlock = ShortBlock();
    EXPECT_EQ(Encode(shortBlock), Encode(Concat({{Marker()}, RegisterSweep()})));
    for (AtomKind k : {AtomKind::MmxClear, AtomKind::MmxExit, AtomKind::XmmClear, AtomKind::FpuLoop})
        EXPECT_EQ(Count(shortBlock, k), 0);
    EXPECT_EQ(Hex(Encode(PauseGuard())), Hex(GprClear(ECX).Encoding()));
}

}  // namespace
