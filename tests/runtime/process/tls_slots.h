// Test helper: taking every free thread-local storage slot, so that the
// next TlsAlloc fails, and giving them back.
#pragma once

#include <windows.h>

#include <vector>

// Every slot still free, taken; the caller frees them.
inline std::vector<DWORD> TakeEverySlot()
{
    std::vector<DWORD> taken;
    for (DWORD slot; (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        taken.push_back(slot);
    return taken;
}

inline void FreeSlots(const std::vector<DWORD>& slots)
{
    for (DWORD slot : slots)
        TlsFree(slot);
}
