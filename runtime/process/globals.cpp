#include "runtime/process/globals.h"

HINSTANCE InstanceHandle;
HANDLE MainHeap;

void* MainHeapAlloc(size_t size)
{
    return HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, size);
}

void* MainHeapRealloc(void* block, size_t size)
{
    return HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, block, size);
}

void MainHeapFree(void* block)
{
    if (block)
        HeapFree(MainHeap, 0, block);
}
