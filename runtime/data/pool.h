// Block pools: fixed-size blocks carved from chunks of the main heap.
//
// A chunk is one main-heap block: a PoolChunk header, then capacity blocks of
// stride bytes. The first pointer-sized field of a block belongs to the pool:
// while the block is out it holds its chunk's address (the caller gets the
// address just past it); while the block is free it links to the next free
// block of its chunk. A chunk is freed as soon as every block taken from it
// is back.
#pragma once

#include <stddef.h>

#include "runtime/base.h"
#include "runtime/data/run_once.h"

constexpr uint32_t POOL_LOCKED = 0;    // low two bits 0 or 1: takes its lock around every operation
constexpr uint32_t POOL_UNLOCKED = 2;  // low two bits 2 or 3: belongs to one thread
constexpr uint32_t POOL_SHARED = 4;    // one pool per (stride, flags), reference counted

// Bytes of a block that belong to the pool: a chunk address (32 bits in the
// PE32 image, 64 in the port).
constexpr uint32_t POOL_BLOCK_HEADER = sizeof(void*);

struct PoolChunk {
    PoolChunk* next;      // next chunk in its list
    PoolChunk* previous;  // previous chunk in its list, null for the first
    void* freeList;       // returned blocks (their header), last returned first
    int32_t capacity;     // blocks in this chunk
    int32_t carved;       // blocks handed out so far from the untouched area, in address order
    int32_t freeCount;    // blocks on the free list
};

struct PoolRegistryEntry;

struct BlockPool {
    PoolChunk* fullChunks;           // chunks with no block left to hand out
    PoolChunk* openChunks;           // chunks that can hand out a block; the first one serves
    PoolRegistryEntry* registryEntry;  // the shared-pool entry, or null
    int32_t totalBlocks;             // capacity of all chunks together
    uint32_t stride;                 // bytes per block, header included
    uint32_t minimumChunk;           // fewest blocks a new chunk holds
    uint32_t maximumChunk;           // most blocks a new chunk holds
    uint32_t locked;                 // 1: every operation takes lock
    CRITICAL_SECTION lock;           // initialised only when locked
};

// Entry of the process-wide registry of shared pools (newest first).
struct PoolRegistryEntry {
    PoolRegistryEntry* next;
    PoolRegistryEntry* previous;
    BlockPool* pool;
    uint32_t stride;
    uint32_t flags;  // as requested, POOL_SHARED included
    int32_t references;
};

// Block size plus the pool's header, rounded up to the header's size so that
// every block stays aligned to it; 0 when the stride does not fit 32 bits.
constexpr uint32_t PoolStrideFor(uint32_t blockSize, uint32_t header)
{
    uint64_t stride = (uint64_t(blockSize) + header + header - 1) & ~uint64_t(header - 1);
    return stride > 0xFFFFFFFFu ? 0 : uint32_t(stride);
}
constexpr uint32_t PoolStride(uint32_t blockSize) { return PoolStrideFor(blockSize, POOL_BLOCK_HEADER); }

// Blocks of the next chunk: a sixteenth of the pool's capacity in multiples
// of 16, clamped to [minimum, maximum], and never fewer than one block.
constexpr uint32_t PoolChunkBlocks(int32_t totalBlocks, uint32_t minimum, uint32_t maximum)
{
    uint32_t n = (uint32_t(totalBlocks) >> 4) & ~15u;
    if (n < minimum)
        n = minimum;
    else if (n > maximum)
        n = maximum;
    return n ? n : 1;
}

#if RUNTIME_PE32
static_assert(sizeof(PoolChunk) == 24 && offsetof(PoolChunk, freeList) == 8 &&
              offsetof(PoolChunk, freeCount) == 20);
static_assert(offsetof(BlockPool, totalBlocks) == 12 && offsetof(BlockPool, locked) == 28 &&
              offsetof(BlockPool, lock) == 32);
static_assert(sizeof(PoolRegistryEntry) == 24 && offsetof(PoolRegistryEntry, references) == 20);
static_assert(PoolStride(24) == 28 && PoolStride(30) == 36 && PoolStride(0) == 4);
#endif
static_assert(PoolChunkBlocks(0, 16, 65536) == 16 && PoolChunkBlocks(511, 16, 65536) == 16 &&
              PoolChunkBlocks(512, 16, 65536) == 32 && PoolChunkBlocks(1024, 16, 65536) == 64 &&
              PoolChunkBlocks(1 << 30, 16, 256) == 256 && PoolChunkBlocks(0, 0, 0) == 1);

// Debug builds (NDEBUG not defined) check every PoolFree and poison what it
// takes back; release builds do neither and trust the argument.
//
// The check decides from the pool's own records and the block's pool-owned
// field, never from the caller's bytes, which may hold any pattern: a block
// is out exactly when it lies on a block boundary within the carved part of
// one of this pool's live chunks and its field holds that chunk's address. A
// free block fails the test because its field holds its free-list link,
// null or another block of the same chunk, which is never the chunk's own
// address. Only the chunk headers are read until a chunk is found to contain
// the block, so a block whose chunk has already gone back to the heap (the
// usual double free: the last block of a chunk, freed twice) is caught
// without touching freed memory, and so is a block of another pool or an
// address inside a block. The cost is one comparison per chunk of the pool.
// What the check cannot see: a stale pointer to a block that has since been
// handed out again is an out block like any other.
//
// On a bad free the debug build writes a line with OutputDebugStringA and
// raises POOL_BAD_FREE_EXCEPTION with the pool and the address as its two
// arguments; unhandled, that ends the process with this code. If a debugger
// or handler continues, the free is dropped and the pool stays sound.
// A block taken back has its usable bytes (stride minus the pool's field)
// set to POOL_POISON_BYTE before it joins the free list, so a read through a
// stale pointer shows an unmistakable value.
constexpr unsigned char POOL_POISON_BYTE = 0xDD;
constexpr DWORD POOL_BAD_FREE_EXCEPTION = 0xE0DF0001;  // customer-defined code, error severity

// Null when no memory or when a block of blockSize cannot be addressed.
BlockPool* PoolCreate(uint32_t blockSize, uint32_t minimumChunk, uint32_t maximumChunk, uint32_t flags);
// Usable bytes of a block (contents not cleared), or null.
void* PoolAlloc(BlockPool* pool);
// block must come from PoolAlloc of the same pool, returned once; null is ignored.
void PoolFree(BlockPool* pool, void* block);
// Frees every chunk at once; every block handed out becomes invalid.
void PoolClear(BlockPool* pool);
// Ends the caller's use of the pool: one reference of a shared pool, all of
// an own pool. Null is ignored.
void PoolRelease(BlockPool* pool);
