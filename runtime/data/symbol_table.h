// The runtime symbol table: names to values.
#pragma once

#include <stdint.h>

// Registers value under name (letter case ignored) as an integer symbol.
void* SymbolRegister(const char* name, intptr_t value);
// The value registered under name, or 0.
intptr_t SymbolLookup(const char* name);
