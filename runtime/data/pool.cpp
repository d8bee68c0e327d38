// Block pools. Each chunk keeps its own free list threaded through its free
// blocks, and an out block's header points back at its chunk, so PoolFree
// finds the chunk without a search and a chunk can be handed back to the heap
// the moment its last block returns. Chunks live on two doubly linked lists:
// open (can hand out a block; the first one always serves) and full.
//
// Blocks of a chunk's untouched area are carved in address order rather than
// threaded onto the free list at creation, so a large chunk costs nothing
// until its blocks are used.
//
// Shared pools are reference counted in a process-wide registry whose lock is
// set up on first use through RunOnce; a pool's own lock is never taken while
// the registry lock is wanted, so the two cannot deadlock.
//
// Debug builds check each PoolFree against the pool's chunks and poison the
// block it takes back (pool.h gives the rules); release builds trust it.
#include "runtime/data/pool.h"

#include <string.h>

#include "runtime/process/globals.h"

static volatile RunOnceState RegistryOnce;
static CRITICAL_SECTION RegistryLock;
static PoolRegistryEntry* Registry;

static void RegistrySetUp()
{
    InitializeCriticalSection(&RegistryLock);
    Registry = nullptr;
}

static void PoolLock(BlockPool* pool)
{
    if (pool->locked)
        EnterCriticalSection(&pool->lock);
}

static void PoolUnlock(BlockPool* pool)
{
    if (pool->locked)
        LeaveCriticalSection(&pool->lock);
}

static void ChunkUnlink(PoolChunk** list, PoolChunk* chunk)
{
    if (chunk->previous)
        chunk->previous->next = chunk->next;
    else
        *list = chunk->next;
    if (chunk->next)
        chunk->next->previous = chunk->previous;
    chunk->next = chunk->previous = nullptr;
}

static void ChunkPushFront(PoolChunk** list, PoolChunk* chunk)
{
    chunk->previous = nullptr;
    chunk->next = *list;
    if (*list)
        (*list)->previous = chunk;
    *list = chunk;
}

static char* ChunkBlock(PoolChunk* chunk, uint32_t stride, int32_t index)
{
    return reinterpret_cast<char*>(chunk + 1) + size_t(stride) * uint32_t(index);
}

// A chunk header plus blocks; null when the size does not fit the address space.
static PoolChunk* ChunkAllocate(uint32_t stride, uint32_t blocks)
{
    uint64_t bytes = sizeof(PoolChunk) + uint64_t(stride) * blocks;
    if (bytes > SIZE_MAX)
        return nullptr;
    return static_cast<PoolChunk*>(MainHeapAlloc(size_t(bytes)));
}

static void ChunkFreeList(PoolChunk* chunk)
{
    while (chunk) {
        PoolChunk* next = chunk->next;
        MainHeapFree(chunk);
        chunk = next;
    }
}

static BlockPool* PoolCreateOwn(uint32_t stride, uint32_t minimum, uint32_t maximum, uint32_t flags)
{
    auto* pool = static_cast<BlockPool*>(MainHeapAlloc(sizeof(BlockPool)));
    if (!pool)
        return nullptr;
    pool->stride = stride;
    pool->minimumChunk = minimum;
    pool->maximumChunk = maximum;
    if ((flags & 3) <= 1) {
        pool->locked = 1;
        InitializeCriticalSection(&pool->lock);
    }
    return pool;
}

static void PoolReleaseOwn(BlockPool* pool)
{
    PoolClear(pool);
    if (pool->locked)
        DeleteCriticalSection(&pool->lock);
    MainHeapFree(pool);
}

BlockPool* PoolCreate(uint32_t blockSize, uint32_t minimumChunk, uint32_t maximumChunk, uint32_t flags)
{
    uint32_t stride = PoolStride(blockSize);
    if (!stride)
        return nullptr;
    if (!(flags & POOL_SHARED))
        return PoolCreateOwn(stride, minimumChunk, maximumChunk, flags);

    RunOnce(&RegistryOnce, RegistrySetUp);
    EnterCriticalSection(&RegistryLock);
    BlockPool* pool = nullptr;
    for (PoolRegistryEntry* entry = Registry; entry; entry = entry->next) {
        if (entry->stride == stride && entry->flags == flags && entry->pool) {
            entry->references += 1;
            pool = entry->pool;
            break;
        }
    }
    if (!pool) {
        auto* entry = static_cast<PoolRegistryEntry*>(MainHeapAlloc(sizeof(PoolRegistryEntry)));
        if (entry)
            pool = PoolCreateOwn(stride, minimumChunk, maximumChunk, flags & ~POOL_SHARED);
        if (pool) {
            pool->registryEntry = entry;
            entry->pool = pool;
            entry->stride = stride;
            entry->flags = flags;
            entry->references = 1;
            entry->next = Registry;
            if (Registry)
                Registry->previous = entry;
            Registry = entry;
        } else {
            MainHeapFree(entry);
        }
    }
    LeaveCriticalSection(&RegistryLock);
    return pool;
}

void* PoolAlloc(BlockPool* pool)
{
    if (!pool)
        return nullptr;
    PoolLock(pool);
    PoolChunk* chunk = pool->openChunks;
    char* block = nullptr;
    if (chunk) {
        if (chunk->freeCount > 0) {
            block = static_cast<char*>(chunk->freeList);
            chunk->freeList = *reinterpret_cast<void**>(block);
            chunk->freeCount -= 1;
        } else {
            block = ChunkBlock(chunk, pool->stride, chunk->carved);
            chunk->carved += 1;
        }
        if (chunk->freeCount == 0 && chunk->carved >= chunk->capacity) {
            ChunkUnlink(&pool->openChunks, chunk);
            ChunkPushFront(&pool->fullChunks, chunk);
        }
    } else {
        uint32_t n = PoolChunkBlocks(pool->totalBlocks, pool->minimumChunk, pool->maximumChunk);
        // The total is a signed count; a chunk that would overflow it is not made.
        if (int64_t(pool->totalBlocks) + n > INT32_MAX)
            n = 1;
        if (int64_t(pool->totalBlocks) + n <= INT32_MAX) {
            chunk = ChunkAllocate(pool->stride, n);
            if (!chunk && n > 1) {
                n = 1;
                chunk = ChunkAllocate(pool->stride, n);
            }
        }
        if (chunk) {
            chunk->capacity = int32_t(n);
            chunk->carved = 1;
            pool->totalBlocks += int32_t(n);
            ChunkPushFront(n > 1 ? &pool->openChunks : &pool->fullChunks, chunk);
            block = ChunkBlock(chunk, pool->stride, 0);
        }
    }
    PoolUnlock(pool);
    if (!block)
        return nullptr;
    *reinterpret_cast<PoolChunk**>(block) = chunk;
    return block + POOL_BLOCK_HEADER;
}

#ifndef NDEBUG
// Whether block is out of pool; the lock is held. See pool.h for why this
// cannot mistake a live block for a free one or the reverse.
static bool PoolBlockIsOut(const BlockPool* pool, const char* block)
{
    uintptr_t at = uintptr_t(block);
    PoolChunk* lists[2] = {pool->openChunks, pool->fullChunks};
    for (PoolChunk* chunk : lists) {
        for (; chunk; chunk = chunk->next) {
            uintptr_t first = uintptr_t(chunk + 1);
            uintptr_t end = first + size_t(pool->stride) * uint32_t(chunk->carved);
            if (at < uintptr_t(chunk) || at >= end)
                continue;
            return at >= first && (at - first) % pool->stride == 0 &&
                   *reinterpret_cast<PoolChunk* const*>(block) == chunk;
        }
    }
    return false;
}

// Stops loudly; returns only if a debugger or handler continues.
static void PoolReportBadFree(BlockPool* pool, void* usable)
{
    char line[96];
    sprintf(line, "PoolFree: %p is not a block out of pool %p (freed twice?)\n", usable, static_cast<void*>(pool));
    OutputDebugStringA(line);
    ULONG_PTR arguments[2] = {ULONG_PTR(pool), ULONG_PTR(usable)};
    RaiseException(POOL_BAD_FREE_EXCEPTION, 0, 2, arguments);
}
#endif

void PoolFree(BlockPool* pool, void* usable)
{
    if (!pool || !usable)
        return;
    char* block = static_cast<char*>(usable) - POOL_BLOCK_HEADER;
    PoolLock(pool);
#ifndef NDEBUG
    if (!PoolBlockIsOut(pool, block)) {
        PoolUnlock(pool);
        PoolReportBadFree(pool, usable);
        return;
    }
    memset(usable, POOL_POISON_BYTE, pool->stride - POOL_BLOCK_HEADER);
#endif
    PoolChunk* chunk = *reinterpret_cast<PoolChunk**>(block);
    *reinterpret_cast<void**>(block) = chunk->freeList;
    chunk->freeList = block;
    chunk->freeCount += 1;
    bool wasFull = chunk->carved >= chunk->capacity && chunk->freeCount == 1;
    if (chunk->freeCount == chunk->carved) {
        ChunkUnlink(wasFull ? &pool->fullChunks : &pool->openChunks, chunk);
        pool->totalBlocks -= chunk->capacity;
        MainHeapFree(chunk);
    } else if (wasFull) {
        ChunkUnlink(&pool->fullChunks, chunk);
        ChunkPushFront(&pool->openChunks, chunk);
    }
    PoolUnlock(pool);
}

void PoolClear(BlockPool* pool)
{
    if (!pool)
        return;
    PoolLock(pool);
    ChunkFreeList(pool->openChunks);
    ChunkFreeList(pool->fullChunks);
    pool->openChunks = pool->fullChunks = nullptr;
    pool->totalBlocks = 0;
    PoolUnlock(pool);
}

void PoolRelease(BlockPool* pool)
{
    if (!pool)
        return;
    PoolRegistryEntry* entry = pool->registryEntry;
    if (!entry) {
        PoolReleaseOwn(pool);
        return;
    }
    EnterCriticalSection(&RegistryLock);
    entry->references -= 1;
    if (entry->references <= 0) {
        entry->pool = nullptr;
        pool->registryEntry = nullptr;
        PoolReleaseOwn(pool);
        if (entry->previous)
            entry->previous->next = entry->next;
        else
            Registry = entry->next;
        if (entry->next)
            entry->next->previous = entry->previous;
        MainHeapFree(entry);
    }
    LeaveCriticalSection(&RegistryLock);
}
