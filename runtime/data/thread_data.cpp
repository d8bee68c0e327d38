// Per-thread data.
//
// One thread-local slot holds each thread's block. Segment offsets are the
// running total size, so segments lie in registration order; the segment
// list (newest first) keeps only segments with a set-up or a clean-up. The
// registering (main) thread's block is grown in place by each registration
// and lives to the end of the process; every other thread's block is made on
// its first ThreadDataGet and released by a watcher thread after the thread
// has ended. Registration happens before other threads use the service, so
// the total size and the list are read without a lock.
//
// A thread whose block cannot be allocated gets the static fallback block
// (see the header): returning null would only move the crash into a caller.
#include "runtime/data/thread_data.h"

#include <windows.h>

#include "runtime/data/list.h"
#include "runtime/process/globals.h"

struct SegmentRecord {
    uint32_t offset;
    SegmentRoutine setUp;
    SegmentRoutine cleanUp;
};

static bool ThreadDataSlotMade;
static DWORD ThreadDataSlot;
static uint32_t ThreadDataTotalSize;
static ListLinks* ThreadDataSegments;  // newest registration first
// A registration that could not get its slot or its memory: the segments no
// longer fit the registering thread's block (see ThreadDataComplete).
static bool ThreadDataIncomplete;

alignas(16) static unsigned char ThreadDataFallback[THREAD_DATA_FALLBACK_SIZE];
static volatile LONG ThreadDataFallbackState;  // 0 untouched, 1 setting up, 2 ready

static SegmentRecord* SegmentOf(ListLinks* links)
{
    return static_cast<SegmentRecord*>(ListPayloadOf(links));
}

static void SegmentsSetUp(unsigned char* block)
{
    for (ListLinks* links = ThreadDataSegments; links; links = links->next) {
        SegmentRecord* segment = SegmentOf(links);
        if (segment->setUp)
            segment->setUp(block + segment->offset);
    }
}

uint32_t ThreadDataRegister(uint32_t size, SegmentRoutine setUp, SegmentRoutine cleanUp)
{
    size = (size + 3u) & ~3u;
    if (!ThreadDataSlotMade) {
        ThreadDataSlot = TlsAlloc();
        ThreadDataSlotMade = true;
        if (ThreadDataSlot == TLS_OUT_OF_INDEXES)
            ThreadDataIncomplete = true;
        else
            TlsSetValue(ThreadDataSlot, MainHeapAlloc(size));
    }
    uint32_t offset = ThreadDataTotalSize;
    ThreadDataTotalSize += size;

    // A block that cannot grow stays as it was, and the registration is
    // incomplete: the new segment would lie beyond the block's end.
    void* block = TlsGetValue(ThreadDataSlot);
    void* grown = block ? MainHeapRealloc(block, ThreadDataTotalSize) : MainHeapAlloc(ThreadDataTotalSize);
    if (grown) {
        block = grown;
        if (!TlsSetValue(ThreadDataSlot, block))
            ThreadDataIncomplete = true;
    } else {
        ThreadDataIncomplete = true;
    }

    if (setUp || cleanUp) {
        auto* segment = static_cast<SegmentRecord*>(ListPushFront(&ThreadDataSegments, sizeof(ListLinks) + sizeof(SegmentRecord)));
        if (segment) {
            segment->offset = offset;
            segment->setUp = setUp;
            segment->cleanUp = cleanUp;
        } else {
            ThreadDataIncomplete = true;
        }
        if (setUp && grown)
            setUp(static_cast<unsigned char*>(block) + offset);
    }
    return offset;
}

bool ThreadDataComplete() { return !ThreadDataIncomplete; }

// The shared block for threads whose own could not be made; set up by the
// first of them, the others wait until that has finished.
static unsigned char* FallbackBlock()
{
    if (ThreadDataTotalSize > THREAD_DATA_FALLBACK_SIZE)
        return nullptr;
    LONG seen = InterlockedCompareExchange(&ThreadDataFallbackState, 1, 0);
    if (seen == 0) {
        SegmentsSetUp(ThreadDataFallback);
        InterlockedExchange(&ThreadDataFallbackState, 2);
    } else {
        while (ThreadDataFallbackState != 2)
            Sleep(0);
    }
    return ThreadDataFallback;
}

void* ThreadDataGet(uint32_t offset)
{
    // Without a slot no thread can keep a block: each call would make a new
    // one and ask for a thread-exit watcher on its behalf.
    if (!ThreadDataSlotMade || ThreadDataSlot == TLS_OUT_OF_INDEXES)
        return nullptr;
    auto* block = static_cast<unsigned char*>(TlsGetValue(ThreadDataSlot));
    if (!block) {
        block = static_cast<unsigned char*>(MainHeapAlloc(ThreadDataTotalSize));
        if (!block) {
            block = FallbackBlock();
            if (!block)
                return nullptr;
            TlsSetValue(ThreadDataSlot, block);
            return block + offset;
        }
        TlsSetValue(ThreadDataSlot, block);
        SegmentsSetUp(block);
        ThreadExitNotify(ThreadDataRelease, block);
    }
    return block + offset;
}

void ThreadDataRelease(void* block)
{
    if (!block)
        return;
    for (ListLinks* links = ThreadDataSegments; links; links = links->next) {
        SegmentRecord* segment = SegmentOf(links);
        if (segment->cleanUp)
            segment->cleanUp(static_cast<unsigned char*>(block) + segment->offset);
    }
    MainHeapFree(block);
}
