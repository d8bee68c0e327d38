// The runtime symbol table: names to values, letter case ignored. One
// process-wide KeyedMap, made at start-up and never freed; main thread only.
#pragma once

#include <stddef.h>

#include "runtime/base.h"
#include "runtime/data/container_ops.h"
#include "runtime/data/keyed_map.h"

constexpr int8_t SYMBOL_INTEGER = 0;    // an integer or code address, looked up as itself
constexpr int8_t SYMBOL_DOUBLE = 1;     // a double, looked up truncated toward zero
constexpr int8_t SYMBOL_OPAQUE = 2;     // a value lookups do not reveal (0)
constexpr int8_t SYMBOL_REFERENCE = 3;  // a variable's address, looked up as its current value

struct SymbolEntry {
    union {
        intptr_t integer;  // SYMBOL_INTEGER, SYMBOL_OPAQUE
        double number;     // SYMBOL_DOUBLE
        const void* address;  // SYMBOL_REFERENCE
        int64_t bits;
    } value;
    int8_t kind;      // SYMBOL_*
    int8_t typeCode;  // TypeCode of the referenced variable (SYMBOL_REFERENCE only)
};

#if RUNTIME_PE32
static_assert(sizeof(SymbolEntry) == 16 && offsetof(SymbolEntry, kind) == 8 &&
              offsetof(SymbolEntry, typeCode) == 9);
// A symbol node (link, key, entry) takes a pool stride of 28 bytes.
static_assert(PoolStride(sizeof(MapNode) + sizeof(SymbolEntry)) == 28);
#endif

constexpr int32_t SYMBOL_TABLE_BUCKETS = 1024;
constexpr TypeCode SYMBOL_TABLE_TYPE = 7;

// Null until SymbolTableInit.
extern KeyedMap* SymbolTable;

// Makes the table (1024 buckets, letter case ignored); start-up, once.
void SymbolTableInit();

// Each registration replaces whatever name held and returns the SymbolEntry
// written, or null when no memory or no table (nothing is then stored). A
// null name counts as "".
void* SymbolRegister(const char* name, intptr_t value);
void* SymbolRegisterDouble(const char* name, double value);
void* SymbolRegisterOpaque(const char* name, intptr_t value);
// address is read at every lookup, as typeCode says (stored as a byte).
void* SymbolRegisterReference(const char* name, const void* address, TypeCode typeCode);

// The value of name by its kind: an integer as itself; a double, or a
// referenced float or double, truncated toward zero keeping the low 32 bits;
// a referenced integer read at its width (TYPE_INTEGER: pointer width) and
// sign- or zero-extended. 0 for a name never registered, an opaque symbol,
// and a reference of any other type code.
intptr_t SymbolLookup(const char* name);
