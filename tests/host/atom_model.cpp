// The encoder behind the model: one routine per instruction form, each
// building its bytes from opcode and ModRM fields rather than from a copied
// byte string, so the literal encodings of the atom table can be checked
// against it.
#include "atom_model.h"

#include <cstdio>

namespace model {

namespace {

uint8_t ModRmRegReg(uint8_t reg, uint8_t rm) { return uint8_t(0xC0 | (reg << 3) | rm); }

// xor/and/or r32, r32 in the "r/m, reg" direction: 31, 21, 09.
Insn Alu(const char* op, uint8_t opcode, Reg r)
{
    return {std::string(op) + " " + RegName(r) + "," + RegName(r), {opcode, ModRmRegReg(r, r)}};
}

Insn Nop() { return {"nop", {0x90}}; }
Insn Fnop() { return {"fnop", {0xD9, 0xD0}}; }
Insn Push(Reg r) { return {std::string("push ") + RegName(r), {uint8_t(0x50 + r)}}; }
Insn Pop(Reg r) { return {std::string("pop ") + RegName(r), {uint8_t(0x58 + r)}}; }

// mov dst, src (89 /r: ModRM.reg = source, ModRM.rm = destination).
Insn Mov(Reg dst, Reg src, Form f)
{
    Insn i{std::string("mov ") + RegName(dst) + "," + RegName(src), {}};
    if (f.port) i.bytes.push_back(0x48);  // REX.W: the whole stack pointer
    i.bytes.push_back(0x89);
    i.bytes.push_back(ModRmRegReg(src, dst));
    return i;
}

std::vector<Insn> ClearFive(Reg r)
{
    return {Alu("xor", 0x31, r), Alu("xor", 0x31, r), Alu("and", 0x21, r), Alu("or", 0x09, r), Alu("xor", 0x31, r)};
}

Insn Packed(bool xmm, const char* op, uint8_t opcode, int k)
{
    Insn i{std::string(op) + (xmm ? " xmm" : " mm") + std::to_string(k), {}};
    if (xmm) i.bytes.push_back(0x66);
    i.bytes.push_back(0x0F);
    i.bytes.push_back(opcode);
    i.bytes.push_back(ModRmRegReg(uint8_t(k), uint8_t(k)));
    return i;
}

void Append(std::vector<Insn>& to, const std::vector<Insn>& from) { to.insert(to.end(), from.begin(), from.end()); }

}  // namespace

const char* RegName(Reg r)
{
    static const char* const names[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
    return names[r];
}

std::string Atom::Name() const
{
    switch (kind) {
    case AtomKind::Marker: return "Marker";
    case AtomKind::GprClear: return std::string("GprClear(") + RegName(Reg(arg)) + ")";
    case AtomKind::EspClear: return "EspClear";
    case AtomKind::FpuPair: return "FpuPair";
    case AtomKind::SavedClear: return std::string("SavedClear(") + RegName(Reg(arg)) + ")";
    case AtomKind::FpuLoop: return "FpuLoop(" + std::to_string(arg) + ")";
    case AtomKind::MmxClear: return "MmxClear(" + std::to_string(arg) + ")";
    case AtomKind::MmxExit: return "MmxExit";
    case AtomKind::XmmClear: return "XmmClear(" + std::to_string(arg) + ")";
    }
    return "?";
}

Bytes Atom::Encoding() const
{
    Bytes out;
    for (const Insn& i : insns) out.insert(out.end(), i.bytes.begin(), i.bytes.end());
    return out;
}

uint64_t Atom::Executed() const
{
    if (kind == AtomKind::FpuLoop) return 1 + uint64_t(insns.size() - 1) * uint32_t(arg);
    return insns.size();
}

Atom Marker(Form) { return {AtomKind::Marker, 0, {Nop(), Nop()}}; }

Atom GprClear(Reg r, Form) { return {AtomKind::GprClear, r, ClearFive(r)}; }

Atom EspClear(Form f)
{
    Atom a{AtomKind::EspClear, ESP, {Mov(EAX, ESP, f)}};
    Append(a.insns, ClearFive(ESP));
    Append(a.insns, {Fnop(), Fnop(), Mov(ESP, EAX, f)});
    return a;
}

Atom FpuPair(Form) { return {AtomKind::FpuPair, EAX, {Push(EAX), Fnop(), Fnop(), Pop(EAX)}}; }

Atom SavedClear(Reg r, Form)
{
    Atom a{AtomKind::SavedClear, r, {Push(r)}};
    Append(a.insns, ClearFive(r));
    Append(a.insns, {Fnop(), Fnop(), Pop(r)});
    return a;
}

Atom FpuLoop(uint32_t k, Form f)
{
    Insn load{"mov eax," + std::to_string(k), {0xB8, uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)}};
    Insn dec = f.port ? Insn{"dec eax", {0xFF, 0xC8}} : Insn{"dec eax", {0x48}};
    std::vector<Insn> body = {Fnop(), Nop(), Fnop(), Nop(), dec};
    // The branch goes back to the first fnop: minus the body and its own two bytes.
    int back = 2;
    for (const Insn& i : body) back += int(i.bytes.size());
    Insn jne{"jne", {0x75, uint8_t(-back)}};
    Atom a{AtomKind::FpuLoop, int(k), {load}};
    Append(a.insns, body);
    a.insns.push_back(jne);
    return a;
}

Atom MmxClear(int k, Form)
{
    return {AtomKind::MmxClear, k,
            {Packed(false, "pxor", 0xEF, k), Packed(false, "pxor", 0xEF, k), Packed(false, "pxor", 0xEF, k),
             Packed(false, "pand", 0xDB, k), Packed(false, "por", 0xEB, k), Packed(false, "pxor", 0xEF, k)}};
}

Atom MmxExit(Form) { return {AtomKind::MmxExit, 0, {{"emms", {0x0F, 0x77}}}}; }

Atom XmmClear(int k, Form)
{
    return {AtomKind::XmmClear, k,
            {Packed(true, "pxor", 0xEF, k), Packed(true, "pxor", 0xEF, k), Packed(true, "pand", 0xDB, k),
             Packed(true, "por", 0xEB, k), Packed(true, "pxor", 0xEF, k)}};
}

Sequence RegisterSweep(Form f)
{
    return {GprClear(EAX, f), EspClear(f),        GprClear(EAX, f),   FpuPair(f),       SavedClear(EDI, f),
            GprClear(EAX, f), FpuPair(f),         SavedClear(ESI, f), GprClear(EAX, f), FpuPair(f),
            SavedClear(EBP, f), GprClear(EAX, f), FpuPair(f),         GprClear(EAX, f), GprClear(EBX, f),
            GprClear(ECX, f), GprClear(EDX, f)};
}

Sequence ExerciseCycle(Form f)
{
    Sequence s;
    auto sweep = [&] { Sequence w = RegisterSweep(f); s.insert(s.end(), w.begin(), w.end()); };
    for (int k = 0; k < 8; ++k) { sweep(); s.push_back(MmxClear(k, f)); }
    sweep();
    s.push_back(MmxExit(f));
    for (int k = 0; k < 8; ++k) { sweep(); s.push_back(XmmClear(k, f)); }
    sweep();
    return s;
}

Sequence FullBlock(int r, Form f)
{
    Sequence s = {Marker(f), GprClear(EAX, f), GprClear(EBX, f), GprClear(ECX, f), GprClear(EDX, f),
                  GprClear(EAX, f), FpuLoop(16384, f)};
    for (int i = 0; i < r; ++i) { Sequence c = ExerciseCycle(f); s.insert(s.end(), c.begin(), c.end()); }
    s.push_back(FpuLoop(32768, f));
    return s;
}

Sequence RepeatBlock(Form f)
{
    Sequence s = {Marker(f), GprClear(EAX, f), FpuLoop(16384, f)};
    for (int i = 0; i < 8; ++i) { Sequence c = ExerciseCycle(f); s.insert(s.end(), c.begin(), c.end()); }
    s.push_back(FpuLoop(32768, f));
    return s;
}

Sequence ShortBlock(Form f) { return Concat({{Marker(f)}, RegisterSweep(f)}); }

Sequence PauseGuard(Form f) { return {GprClear(ECX, f)}; }

Bytes Encode(const Sequence& s)
{
    Bytes out;
    for (const Atom& a : s) { Bytes b = a.Encoding(); out.insert(out.end(), b.begin(), b.end()); }
    return out;
}

size_t InsnCount(const Sequence& s)
{
    size_t n = 0;
    for (const Atom& a : s) n += a.insns.size();
    return n;
}

uint64_t Executed(const Sequence& s)
{
    uint64_t n = 0;
    for (const Atom& a : s) n += a.Executed();
    return n;
}

uint64_t LoopPasses(const Sequence& s)
{
    uint64_t n = 0;
    for (const Atom& a : s)
        if (a.kind == AtomKind::FpuLoop) n += uint32_t(a.arg);
    return n;
}

int Count(const Sequence& s, AtomKind kind)
{
    int n = 0;
    for (const Atom& a : s) n += a.kind == kind;
    return n;
}

Sequence Concat(std::initializer_list<Sequence> parts)
{
    Sequence s;
    for (const Sequence& p : parts) s.insert(s.end(), p.begin(), p.end());
    return s;
}

std::string Hex(const Bytes& b)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

Bytes ParseHex(const std::string& text)
{
    Bytes out;
    unsigned v = 0;
    int digits = 0;
    for (char c : text) {
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) continue;
        v = v * 16 + unsigned(d);
        if (++digits == 2) { out.push_back(uint8_t(v)); v = 0; digits = 0; }
    }
    return out;
}

}  // namespace model
