// An independent model of the exercise sequences, built from the atom tables
// (instruction lists and their encodings) and not from exercise/atoms.h, so
// that a fault in the product's assembler text cannot hide in both.
//
// Every atom is a list of instructions, every instruction a mnemonic and its
// bytes. The encoder knows only the handful of forms the atoms use. The
// 64-bit port form differs in three places: the stack pointer moves of
// EspClear carry a REX.W prefix, and FpuLoop decrements with FF C8 and so
// branches back with 75 F6.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace model {

using Bytes = std::vector<uint8_t>;

// Register numbers as the ModRM byte encodes them.
enum Reg : uint8_t { EAX = 0, ECX = 1, EDX = 2, EBX = 3, ESP = 4, EBP = 5, ESI = 6, EDI = 7 };
const char* RegName(Reg r);

enum class AtomKind { Marker, GprClear, EspClear, FpuPair, SavedClear, FpuLoop, MmxClear, MmxExit, XmmClear };

struct Insn {
    std::string text;
    Bytes bytes;
};

struct Atom {
    AtomKind kind;
    int arg;  // register for GprClear/SavedClear, k for FpuLoop/MmxClear/XmmClear
    std::vector<Insn> insns;

    std::string Name() const;  // e.g. "GprClear(eax)", "MmxClear(3)", "FpuLoop(16384)"
    Bytes Encoding() const;
    // Instructions executed when the atom runs once (FpuLoop: 1 + 6k).
    uint64_t Executed() const;
};

using Sequence = std::vector<Atom>;

struct Form {
    bool port = false;  // the 64-bit port's encodings
};

Atom Marker(Form f = {});
Atom GprClear(Reg r, Form f = {});
Atom EspClear(Form f = {});
Atom FpuPair(Form f = {});
Atom SavedClear(Reg r, Form f = {});
Atom FpuLoop(uint32_t k, Form f = {});
Atom MmxClear(int k, Form f = {});
Atom MmxExit(Form f = {});
Atom XmmClear(int k, Form f = {});

Sequence RegisterSweep(Form f = {});
Sequence ExerciseCycle(Form f = {});
Sequence FullBlock(int r, Form f = {});
Sequence RepeatBlock(Form f = {});
Sequence ShortBlock(Form f = {});
Sequence PauseGuard(Form f = {});

Bytes Encode(const Sequence& s);
size_t InsnCount(const Sequence& s);
uint64_t Executed(const Sequence& s);
// FpuLoop body passes made by one run of s.
uint64_t LoopPasses(const Sequence& s);
int Count(const Sequence& s, AtomKind kind);

Sequence Concat(std::initializer_list<Sequence> parts);
std::string Hex(const Bytes& b);
Bytes ParseHex(const std::string& text);  // "31 C0 31 C0" -> bytes

}  // namespace model
