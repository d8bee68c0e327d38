// The symbol table is a MAP_NOCASE KeyedMap of SymbolEntry elements. The
// program registers one name ("Norvane()") before any worker exists and looks
// it up on the main thread, so the table needs no lock of its own.
// Re-registering a name keeps its node and key copy and replaces the entry.
#include "runtime/data/symbol_table.h"

#include <string.h>

#include "runtime/process/truncate.h"

KeyedMap* SymbolTable;

// Doubles look up as the low 32 bits of their truncation, on both builds.
static intptr_t SymbolTruncate(double value)
{
    return intptr_t(int32_t(uint32_t(uint64_t(TruncateToInteger(value)))));
}

template <typename T>
static T SymbolRead(const void* address)
{
    T value;
    memcpy(&value, address, sizeof value);
    return value;
}

static SymbolEntry* SymbolWrite(const char* name, int8_t kind)
{
    auto* entry = static_cast<SymbolEntry*>(MapAdd(SymbolTable, name));
    if (entry)
        entry->kind = kind;
    return entry;
}

void SymbolTableInit()
{
    if (MapCreate(sizeof(SymbolEntry), SYMBOL_TABLE_TYPE, nullptr, &SymbolTable, SYMBOL_TABLE_BUCKETS))
        SymbolTable->flags |= MAP_NOCASE;
}

void* SymbolRegister(const char* name, intptr_t value)
{
    SymbolEntry* entry = SymbolWrite(name, SYMBOL_INTEGER);
    if (entry)
        entry->value.integer = value;
    return entry;
}

void* SymbolRegisterDouble(const char* name, double value)
{
    SymbolEntry* entry = SymbolWrite(name, SYMBOL_DOUBLE);
    if (entry)
        entry->value.number = value;
    return entry;
}

void* SymbolRegisterOpaque(const char* name, intptr_t value)
{
    SymbolEntry* entry = SymbolWrite(name, SYMBOL_OPAQUE);
    if (entry)
        entry->value.integer = value;
    return entry;
}

void* SymbolRegisterReference(const char* name, const void* address, TypeCode typeCode)
{
    SymbolEntry* entry = SymbolWrite(name, SYMBOL_REFERENCE);
    if (entry) {
        entry->value.address = address;
        entry->typeCode = int8_t(typeCode);
    }
    return entry;
}

static intptr_t SymbolReadReference(const void* address, int8_t typeCode)
{
    // A reference to nothing reads as nothing rather than faulting.
    if (!address)
        return 0;
    switch (typeCode) {
    case TYPE_INT8: return SymbolRead<int8_t>(address);
    case TYPE_INT16: return SymbolRead<int16_t>(address);
    case TYPE_INT32: return SymbolRead<int32_t>(address);
    case TYPE_FLOAT32: return SymbolTruncate(SymbolRead<float>(address));
    case TYPE_UINT8: return SymbolRead<uint8_t>(address);
    case TYPE_FLOAT64: return SymbolTruncate(SymbolRead<double>(address));
    case TYPE_INTEGER: return SymbolRead<intptr_t>(address);
    case TYPE_UINT16: return SymbolRead<uint16_t>(address);
    default: return 0;
    }
}

intptr_t SymbolLookup(const char* name)
{
    auto* entry = static_cast<const SymbolEntry*>(MapFind(SymbolTable, name));
    if (!entry)
        return 0;
    switch (entry->kind) {
    case SYMBOL_INTEGER: return entry->value.integer;
    case SYMBOL_DOUBLE: return SymbolTruncate(entry->value.number);
    case SYMBOL_REFERENCE: return SymbolReadReference(entry->value.address, entry->typeCode);
    default: return 0;
    }
}
