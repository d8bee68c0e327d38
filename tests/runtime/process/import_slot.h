// Test seam: replaces a Win32 import of this test program for a while. The
// runtime is linked statically into the test program, so its calls go through
// the same import-address slot (__imp_<name>) and the product code path runs
// unchanged, only the system routine behind it differs.
#pragma once

#include <windows.h>

// IMPORT_SLOT(Name, ArgumentBytes); declares __imp_Name, the slot of the
// Win32 routine Name. IA-32 import symbols carry stdcall's decoration
// (__imp__Name@ArgumentBytes); the port's are plain.
#if defined(__x86_64__)
#define IMPORT_SLOT(name, bytes) extern "C" void* __imp_##name
#else
#define IMPORT_SLOT(name, bytes) extern "C" void* __imp_##name __asm__("__imp__" #name "@" #bytes)
#endif

// Puts replacement into slot and returns what was there.
inline void* ImportSlotSwap(void** slot, void* replacement)
{
    DWORD protection;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
    void* previous = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof(void*), protection, &protection);
    return previous;
}

// Swaps for the lifetime of the object.
class ImportSlotScope {
public:
    ImportSlotScope(void** slot, void* replacement)
        : slot_(slot), previous_(ImportSlotSwap(slot, replacement)) {}
    ~ImportSlotScope() { ImportSlotSwap(slot_, previous_); }
    ImportSlotScope(const ImportSlotScope&) = delete;
    ImportSlotScope& operator=(const ImportSlotScope&) = delete;
    void* previous() const { return previous_; }

private:
    void** slot_;
    void* previous_;
};
