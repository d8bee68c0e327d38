// Test seam: how many blocks a heap holds for the code under test.
#pragma once

#include <windows.h>

#include "import_slot.h"

// Blocks a heap holds for the code under test: its successful HeapAlloc
// calls less its successful HeapFree calls, counted through this program's
// import slots from the program's start. Walking the heap does not tell:
// Wine 10 (as Windows) serves small blocks from a low-fragmentation heap,
// whose groups of blocks are single, long-lived entries of the walk.
namespace heap_count {

IMPORT_SLOT(HeapAlloc, 12);
IMPORT_SLOT(HeapFree, 12);

typedef LPVOID(WINAPI* AllocRoutine)(HANDLE, DWORD, SIZE_T);
typedef BOOL(WINAPI* FreeRoutine)(HANDLE, DWORD, LPVOID);

constexpr int HEAP_COUNT_SLOTS = 64;
struct Counts {
    HANDLE heaps[HEAP_COUNT_SLOTS];
    volatile LONG live[HEAP_COUNT_SLOTS];
    SRWLOCK lock;
    AllocRoutine alloc;
    FreeRoutine free;
};
inline Counts counts = {{}, {}, SRWLOCK_INIT, nullptr, nullptr};

// The counter of heap; null when every slot is taken.
inline volatile LONG* CounterOf(HANDLE heap)
{
    AcquireSRWLockExclusive(&counts.lock);
    volatile LONG* counter = nullptr;
    for (int i = 0; i < HEAP_COUNT_SLOTS && !counter; ++i) {
        if (!counts.heaps[i])
            counts.heaps[i] = heap;
        if (counts.heaps[i] == heap)
            counter = &counts.live[i];
    }
    ReleaseSRWLockExclusive(&counts.lock);
    return counter;
}

inline LPVOID WINAPI CountingAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    LPVOID block = counts.alloc(heap, flags, size);
    if (block)
        if (volatile LONG* counter = CounterOf(heap))
            InterlockedIncrement(counter);
    return block;
}

inline BOOL WINAPI CountingFree(HANDLE heap, DWORD flags, LPVOID block)
{
    BOOL freed = counts.free(heap, flags, block);
    if (freed && block)
        if (volatile LONG* counter = CounterOf(heap))
            InterlockedDecrement(counter);
    return freed;
}

struct Install {
    Install()
    {
        counts.alloc = reinterpret_cast<AllocRoutine>(
            ImportSlotSwap(&__imp_HeapAlloc, reinterpret_cast<void*>(&CountingAlloc)));
        counts.free = reinterpret_cast<FreeRoutine>(
            ImportSlotSwap(&__imp_HeapFree, reinterpret_cast<void*>(&CountingFree)));
    }
};
inline Install install;

}  // namespace heap_count

inline size_t HeapBusyBlocks(HANDLE heap)
{
    volatile LONG* counter = heap_count::CounterOf(heap);
    return counter ? (size_t)*counter : 0;
}
