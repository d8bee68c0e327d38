// Reading the built PE32 image and its link map, and finding the exercise
// atoms and the calls in a routine's bytes.
//
// The link map names every global routine and variable with its address.
// Names are compared in a canonical form so that the tests do not depend on
// whether the map is demangled: leading underscores, the stdcall "@N"
// suffix and a C++ parameter list are dropped ("_Pause" and "Pause" are
// "Pause"; "__Z13LaunchWorkersv" and "LaunchWorkers()" are "LaunchWorkers";
// "__imp__Sleep@4" is the import slot of "Sleep").
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "atom_model.h"

namespace image {

using model::Bytes;

struct Section {
    std::string name;
    uint32_t rva = 0, virtualSize = 0, rawOffset = 0, rawSize = 0;
    uint32_t characteristics = 0;
};

// A PE32 or, for the 64-bit port, a PE32+ image. Addresses are kept to their
// low 32 bits, as the link map's are read: the port's image base
// 0x140000000 becomes 0x40000000, and every address minus it is still the
// relative one.
struct PeImage {
    Bytes file;
    uint32_t peOffset = 0;
    uint16_t machine = 0, magic = 0, subsystem = 0;  // magic 0x10B PE32, 0x20B PE32+
    uint16_t fileCharacteristics = 0, dllCharacteristics = 0;
    uint32_t checksumOffset = 0;  // of the optional header's CheckSum field
    uint32_t imageBase = 0;
    uint32_t timestamp = 0;
    uint64_t stackReserve = 0, stackCommit = 0;
    std::vector<Section> sections;
    std::vector<std::pair<uint32_t, uint32_t>> directories;  // rva, size

    bool Load(const std::string& path, std::string* error);
    // File offset of a relative virtual address, if the file holds it.
    std::optional<size_t> RvaToOffset(uint32_t rva) const;
    // Bytes [va, va + size) from the file (empty if not all in the file).
    Bytes Read(uint32_t va, uint32_t size) const;
    uint32_t U32(size_t offset) const;
    uint16_t U16(size_t offset) const;
    std::string CString(uint32_t rva) const;
    bool Plus() const { return magic == 0x20B; }
    // Imported routine names by library (lower case), from the import
    // directory; ordinal imports as "#N".
    std::map<std::string, std::vector<std::string>> Imports() const;
};

struct MapSymbol {
    uint32_t address;
    std::string raw, name;  // as printed, canonical
    std::string outputSection;
    bool import;  // an import address slot (__imp_ name)
};

struct InputSection {
    std::string outputSection, file;
    uint32_t address, size;
};

struct LinkMap {
    std::vector<MapSymbol> symbols;
    std::vector<InputSection> inputs;

    bool Load(const std::string& path, std::string* error);
    // Addresses of every symbol with this canonical name (imports excluded).
    std::vector<uint32_t> Find(const std::string& name) const;
    // The one address of a name; nullopt if absent or ambiguous.
    std::optional<uint32_t> Address(const std::string& name) const;
    // A routine at exactly this address (canonical name), or an import slot.
    const MapSymbol* At(uint32_t address) const;
    // End of the routine that starts at address: the next symbol of the same
    // output section or the end of its input section, whichever is first.
    uint32_t RoutineEnd(uint32_t address) const;
    const InputSection* InputContaining(uint32_t address) const;
};

std::string CanonicalName(const std::string& raw, bool* import = nullptr);

// What the scanner recognises in code: an atom (by its exact bytes, 32-bit
// form) or a call whose target the map names (E8 rel32 to a routine, or
// FF 15 through an import slot).
struct Token {
    uint32_t address;
    uint32_t length;
    bool isCall;
    model::Atom atom;    // when !isCall
    std::string callee;  // when isCall
    std::string Text() const;  // "GprClear(eax)", "call Pause"
};

std::vector<Token> Scan(const Bytes& code, uint32_t va, const LinkMap& map);

// The block forms that open with Marker; GprClear(eax).
struct BlockMatch {
    uint32_t address;
    std::string form;     // "FullBlock(8)", "FullBlock(4)", "RepeatBlock", "ShortBlock" or "" if none
    uint32_t length;      // bytes of the matched form
    std::string mismatch; // when form is empty: where it departs from the nearest form
};

std::vector<BlockMatch> FindBlocks(const Bytes& code, uint32_t va);

}  // namespace image
