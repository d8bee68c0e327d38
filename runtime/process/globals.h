// Process-wide handles every runtime service relies on.
#pragma once

#include "runtime/base.h"

// The executable's module handle, from GetModuleHandleA(NULL).
extern HINSTANCE InstanceHandle;

// The main heap: HeapCreate(0, 4096, 0), made by the entry routine before the
// services start and destroyed on the end path. Every runtime allocation comes
// from it unless a service says otherwise.
extern HANDLE MainHeap;

// Zero-filled block from the main heap, or null.
void* MainHeapAlloc(size_t size);
// Grows or shrinks a main-heap block; added bytes are zero-filled. Null on
// failure, the old block then stays valid.
void* MainHeapRealloc(void* block, size_t size);
// Frees a main-heap block; null is ignored.
void MainHeapFree(void* block);
