// PE32 and link-map reading for the image tests. Only what the tests need:
// the section table, the data directories, the map's symbol and input
// section lines, and a byte-pattern scanner for atoms and calls.
#include "image_reader.h"

#include <cxxabi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace image {

bool PeImage::Load(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) { *error = "cannot open " + path; return false; }
    file.assign(std::istreambuf_iterator<char>(in), {});
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') { *error = "no MZ header"; return false; }
    peOffset = U32(0x3C);
    if (peOffset + 24 > file.size() || U32(peOffset) != 0x00004550) { *error = "no PE signature"; return false; }
    uint16_t sectionCount = U16(peOffset + 6);
    timestamp = U32(peOffset + 8);
    uint16_t optionalSize = U16(peOffset + 20);
    size_t opt = peOffset + 24;
    machine = U16(peOffset + 4);
    magic = U16(opt);
    if (magic != 0x10B && magic != 0x20B) { *error = "not a PE32 or PE32+ optional header"; return false; }
    subsystem = U16(opt + 68);
    fileCharacteristics = U16(peOffset + 22);
    dllCharacteristics = U16(opt + 70);
    checksumOffset = uint32_t(opt + 64);
    // PE32+ widens the image base and the four stack and heap sizes to 64
    // bits, which moves the data directories by 16 bytes.
    size_t dirs = Plus() ? opt + 108 : opt + 92;
    imageBase = Plus() ? U32(opt + 24) : U32(opt + 28);
    stackReserve = Plus() ? U32(opt + 72) | uint64_t(U32(opt + 76)) << 32 : U32(opt + 72);
    stackCommit = Plus() ? U32(opt + 80) | uint64_t(U32(opt + 84)) << 32 : U32(opt + 76);
    uint32_t dirCount = U32(dirs);
    for (uint32_t i = 0; i < dirCount && i < 16; ++i)
        directories.emplace_back(U32(dirs + 4 + 8 * i), U32(dirs + 8 + 8 * i));
    size_t sec = opt + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i, sec += 40) {
        if (sec + 40 > file.size()) { *error = "truncated section table"; return false; }
        Section s;
        s.name.assign(reinterpret_cast<const char*>(&file[sec]), strnlen(reinterpret_cast<const char*>(&file[sec]), 8));
        s.virtualSize = U32(sec + 8);
        s.rva = U32(sec + 12);
        s.rawSize = U32(sec + 16);
        s.rawOffset = U32(sec + 20);
        s.characteristics = U32(sec + 36);
        sections.push_back(s);
    }
    return true;
}

std::optional<size_t> PeImage::RvaToOffset(uint32_t rva) const
{
    for (const Section& s : sections)
        if (rva >= s.rva && rva - s.rva < s.rawSize)
            return size_t(s.rawOffset) + (rva - s.rva);
    return std::nullopt;
}

Bytes PeImage::Read(uint32_t va, uint32_t size) const
{
    auto at = RvaToOffset(va - imageBase);
    auto last = size ? RvaToOffset(va - imageBase + size - 1) : at;
    if (!at || !last || *last - *at != size_t(size ? size - 1 : 0) || *at + size > file.size()) return {};
    return Bytes(file.begin() + long(*at), file.begin() + long(*at + size));
}

uint32_t PeImage::U32(size_t o) const { uint32_t v = 0; if (o + 4 <= file.size()) std::memcpy(&v, &file[o], 4); return v; }
uint16_t PeImage::U16(size_t o) const { uint16_t v = 0; if (o + 2 <= file.size()) std::memcpy(&v, &file[o], 2); return v; }

std::string PeImage::CString(uint32_t rva) const
{
    auto o = RvaToOffset(rva);
    std::string s;
    if (!o) return s;
    for (size_t i = *o; i < file.size() && file[i]; ++i) s += char(file[i]);
    return s;
}

std::map<std::string, std::vector<std::string>> PeImage::Imports() const
{
    std::map<std::string, std::vector<std::string>> out;
    if (directories.size() < 2 || !directories[1].first) return out;
    size_t entry = Plus() ? 8 : 4;
    for (uint32_t d = directories[1].first;; d += 20) {
        auto o = RvaToOffset(d);
        if (!o || U32(*o + 12) == 0) break;
        std::string dll = CString(U32(*o + 12));
        for (char& c : dll) c = char(std::tolower(uint8_t(c)));
        std::vector<std::string>& names = out[dll];
        // The lookup table, or the address table when there is none.
        uint32_t table = U32(*o) ? U32(*o) : U32(*o + 16);
        for (uint32_t t = table;; t += uint32_t(entry)) {
            auto e = RvaToOffset(t);
            if (!e) break;
            uint64_t v = U32(*e) | (Plus() ? uint64_t(U32(*e + 4)) << 32 : 0);
            if (!v) break;
            uint64_t ordinalFlag = Plus() ? uint64_t(1) << 63 : uint64_t(1) << 31;
            char ordinal[16];
            std::snprintf(ordinal, sizeof ordinal, "#%u", unsigned(v & 0xFFFF));
            names.push_back(v & ordinalFlag ? std::string(ordinal) : CString(uint32_t(v) + 2));
        }
    }
    return out;
}

// ---------------------------------------------------------------------------

std::string CanonicalName(const std::string& raw, bool* import)
{
    std::string n = raw;
    bool imp = false;
    size_t u = n.find_first_not_of('_');
    n = u == std::string::npos ? "" : n.substr(u);
    if (n.rfind("imp_", 0) == 0) {
        imp = true;
        n = n.substr(4);
        u = n.find_first_not_of('_');
        n = u == std::string::npos ? "" : n.substr(u);
    }
    // Mangled C++ (an undemangled map): _Z<digits> or _ZN...
    if (n.size() > 1 && n[0] == 'Z' && (std::isdigit(uint8_t(n[1])) || n[1] == 'N')) {
        int status = 0;
        char* d = abi::__cxa_demangle(("_" + n).c_str(), nullptr, nullptr, &status);
        if (status == 0 && d) n = d;
        std::free(d);
    }
    size_t paren = n.find('(');
    if (paren != std::string::npos) n = n.substr(0, paren);
    size_t at = n.rfind('@');
    if (at != std::string::npos && at + 1 < n.size() && n.find_first_not_of("0123456789", at + 1) == std::string::npos)
        n = n.substr(0, at);
    if (import) *import = imp;
    return n;
}

bool LinkMap::Load(const std::string& path, std::string* error)
{
    std::ifstream in(path);
    if (!in) { *error = "cannot open " + path; return false; }
    std::string line, output, pendingInput;
    bool inMemoryMap = false;
    while (std::getline(in, line)) {
        if (line.rfind("Linker script and memory map", 0) == 0) { inMemoryMap = true; continue; }
        if (!inMemoryMap || line.empty()) continue;
        if (line[0] != ' ') {  // an output section: ".text  0x00401000  0x21200"
            std::istringstream f(line);
            f >> output;
            continue;
        }
        std::istringstream f(line);
        std::vector<std::string> w;
        for (std::string t; f >> t;) w.push_back(t);
        if (w.empty()) continue;
        // An input section whose name was too long shares its line with nothing.
        if (line[1] != ' ' && w.size() == 1) { pendingInput = w[0]; continue; }
        if (line[1] != ' ' && w[0][0] == '.' && w.size() >= 4 && w[1].rfind("0x", 0) == 0) {
            inputs.push_back({output, w[3], uint32_t(std::stoul(w[1], nullptr, 16)), uint32_t(std::stoul(w[2], nullptr, 16))});
            continue;
        }
        if (!pendingInput.empty() && w.size() >= 3 && w[0].rfind("0x", 0) == 0 && w[1].rfind("0x", 0) == 0) {
            inputs.push_back({output, w[2], uint32_t(std::stoul(w[0], nullptr, 16)), uint32_t(std::stoul(w[1], nullptr, 16))});
            pendingInput.clear();
            continue;
        }
        pendingInput.clear();
        // A symbol: "                0x00401040                MainSequence"
        if (w.size() < 2 || w[0].rfind("0x", 0) != 0 || w[1].rfind("0x", 0) == 0) continue;
        size_t nameAt = line.find(w[1], line.find(w[0]) + w[0].size());
        std::string raw = line.substr(nameAt);
        if (raw.find(" = ") != std::string::npos || raw.find("PROVIDE") != std::string::npos || raw[0] == '.' ||
            raw.rfind("LONG ", 0) == 0)
            continue;
        while (!raw.empty() && raw.back() == ' ') raw.pop_back();
        MapSymbol s{uint32_t(std::stoul(w[0], nullptr, 16)), raw, "", output, false};
        s.name = CanonicalName(raw, &s.import);
        symbols.push_back(s);
    }
    if (symbols.empty()) { *error = "no symbols in " + path; return false; }
    return true;
}

std::vector<uint32_t> LinkMap::Find(const std::string& name) const
{
    std::vector<uint32_t> out;
    for (const MapSymbol& s : symbols)
        if (!s.import && s.name == name && std::find(out.begin(), out.end(), s.address) == out.end())
            out.push_back(s.address);
    return out;
}

std::optional<uint32_t> LinkMap::Address(const std::string& name) const
{
    auto all = Find(name);
    if (all.size() != 1) return std::nullopt;
    return all[0];
}

const MapSymbol* LinkMap::At(uint32_t address) const
{
    for (const MapSymbol& s : symbols)
        if (s.address == address) return &s;
    return nullptr;
}

const InputSection* LinkMap::InputContaining(uint32_t address) const
{
    for (const InputSection& i : inputs)
        if (address >= i.address && address - i.address < i.size) return &i;
    return nullptr;
}

uint32_t LinkMap::RoutineEnd(uint32_t address) const
{
    uint32_t end = UINT32_MAX;
    std::string section;
    for (const MapSymbol& s : symbols)
        if (s.address == address) section = s.outputSection;
    for (const MapSymbol& s : symbols)
        if (s.outputSection == section && s.address > address) end = std::min(end, s.address);
    if (const InputSection* in = InputContaining(address)) end = std::min(end, in->address + in->size);
    return end;
}

// ---------------------------------------------------------------------------

std::string Token::Text() const { return isCall ? "call " + callee : atom.Name(); }

namespace {

// Every atom the 32-bit code may hold, FpuLoop aside (its count varies).
const std::vector<model::Atom>& AtomPatterns()
{
    static const std::vector<model::Atom> all = [] {
        std::vector<model::Atom> v;
        for (model::Reg r : {model::EAX, model::EBX, model::ECX, model::EDX}) v.push_back(model::GprClear(r));
        v.push_back(model::EspClear());
        v.push_back(model::FpuPair());
        for (model::Reg r : {model::EDI, model::ESI, model::EBP}) v.push_back(model::SavedClear(r));
        for (int k = 0; k < 8; ++k) v.push_back(model::MmxClear(k));
        for (int k = 0; k < 8; ++k) v.push_back(model::XmmClear(k));
        v.push_back(model::MmxExit());
        v.push_back(model::Marker());
        return v;
    }();
    return all;
}

bool MatchAt(const Bytes& code, size_t p, const Bytes& pattern)
{
    return p + pattern.size() <= code.size() && std::equal(pattern.begin(), pattern.end(), code.begin() + long(p));
}

uint32_t Le32(const Bytes& b, size_t p) { uint32_t v; std::memcpy(&v, &b[p], 4); return v; }

}  // namespace

std::vector<Token> Scan(const Bytes& code, uint32_t va, const LinkMap& map)
{
    std::vector<Token> out;
    // FpuLoop with any count: B8 imm32 followed by the loop body.
    const Bytes loopBody = [] { Bytes b = model::FpuLoop(1).Encoding(); return Bytes(b.begin() + 5, b.end()); }();
    size_t p = 0;
    while (p < code.size()) {
        bool found = false;
        for (const model::Atom& a : AtomPatterns()) {
            Bytes pat = a.Encoding();
            if (MatchAt(code, p, pat)) {
                out.push_back({va + uint32_t(p), uint32_t(pat.size()), false, a, ""});
                p += pat.size();
                found = true;
                break;
            }
        }
        if (found) continue;
        if (code[p] == 0xB8 && MatchAt(code, p + 5, loopBody)) {
            model::Atom a = model::FpuLoop(Le32(code, p + 1));
            out.push_back({va + uint32_t(p), uint32_t(5 + loopBody.size()), false, a, ""});
            p += 5 + loopBody.size();
            continue;
        }
        if (code[p] == 0xE8 && p + 5 <= code.size()) {
            uint32_t target = va + uint32_t(p) + 5 + Le32(code, p + 1);
            const MapSymbol* s = map.At(target);
            if (s && !s->import && s->outputSection == ".text") {
                out.push_back({va + uint32_t(p), 5, true, {}, s->name});
                p += 5;
                continue;
            }
        }
        if (code[p] == 0xFF && p + 6 <= code.size() && code[p + 1] == 0x15) {
            const MapSymbol* s = map.At(Le32(code, p + 2));
            if (s && s->import) {
                out.push_back({va + uint32_t(p), 6, true, {}, s->name});
                p += 6;
                continue;
            }
        }
        ++p;
    }
    return out;
}

std::vector<BlockMatch> FindBlocks(const Bytes& code, uint32_t va)
{
    struct FormBytes { std::string name; model::Sequence seq; Bytes bytes; };
    static const std::vector<FormBytes> forms = [] {
        std::vector<FormBytes> f;
        for (auto& [name, seq] : std::vector<std::pair<std::string, model::Sequence>>{
                 {"FullBlock(8)", model::FullBlock(8)}, {"RepeatBlock", model::RepeatBlock()},
                 {"FullBlock(4)", model::FullBlock(4)}, {"ShortBlock", model::ShortBlock()}})
            f.push_back({name, seq, model::Encode(seq)});
        return f;
    }();
    const Bytes opening = model::Encode({model::Marker(), model::GprClear(model::EAX)});

    std::vector<BlockMatch> out;
    size_t p = 0;
    while (p < code.size()) {
        if (!MatchAt(code, p, opening)) { ++p; continue; }
        BlockMatch m{va + uint32_t(p), "", 0, ""};
        size_t bestPrefix = 0;
        const FormBytes* nearest = nullptr;
        for (const FormBytes& f : forms) {
            if (MatchAt(code, p, f.bytes)) { m.form = f.name; m.length = uint32_t(f.bytes.size()); break; }
            size_t prefix = 0;
            while (p + prefix < code.size() && prefix < f.bytes.size() && code[p + prefix] == f.bytes[prefix]) ++prefix;
            if (prefix > bestPrefix) { bestPrefix = prefix; nearest = &f; }
        }
        if (m.form.empty() && nearest) {
            // Name the atom of the nearest form in which the bytes depart.
            size_t offset = 0, index = 0;
            while (index < nearest->seq.size() && offset + nearest->seq[index].Encoding().size() <= bestPrefix)
                offset += nearest->seq[index++].Encoding().size();
            char buf[200];
            std::snprintf(buf, sizeof buf, "departs from %s at +%zu (atom #%zu, %s): expected %02X, found %s",
                          nearest->name.c_str(), bestPrefix, index,
                          index < nearest->seq.size() ? nearest->seq[index].Name().c_str() : "?",
                          nearest->bytes[bestPrefix],
                          p + bestPrefix < code.size() ? model::Hex({code[p + bestPrefix]}).c_str() : "end of routine");
            m.mismatch = buf;
            m.length = uint32_t(bestPrefix);
        }
        out.push_back(m);
        p += std::max<size_t>(m.length, opening.size());
    }
    return out;
}

}  // namespace image
