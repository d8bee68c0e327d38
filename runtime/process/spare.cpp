// Resources the runtime reserves but no operation of this program uses: a
// TLS slot, a private heap and a per-thread segment. They exist so that the
// process's slot indices, heaps and segment offsets keep their places (the
// later window and gadget segments sit behind the spare one). Only the heap
// is released at shutdown; the slot and segment go with the process.
#include "runtime/process/spare.h"

#include "runtime/data/thread_data.h"

DWORD SpareSlot = TLS_OUT_OF_INDEXES;
HANDLE SpareHeap;
int32_t SpareInteger;
uint32_t SpareSegmentOffset;

void SpareSlotInit()
{
    SpareSlot = TlsAlloc();
}

void SpareHeapInit()
{
    SpareHeap = HeapCreate(0, 4096, 0);
}

void SpareRecordInit()
{
    SpareInteger = 0;
    SpareSegmentOffset = ThreadDataRegister(SPARE_SEGMENT_SIZE, nullptr, nullptr);
}

void SpareHeapEnd()
{
    if (SpareHeap)
        HeapDestroy(SpareHeap);
    SpareHeap = nullptr;
}
