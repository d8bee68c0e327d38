// Block pools: fixed-size blocks carved from chunks of the main heap.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr uint32_t POOL_LOCKED = 0;    // low two bits 0 or 1: takes its lock around every operation
constexpr uint32_t POOL_UNLOCKED = 2;  // low two bits 2 or 3: belongs to one thread
constexpr uint32_t POOL_SHARED = 4;    // one pool per (stride, flags), reference counted

struct BlockPool;

BlockPool* PoolCreate(uint32_t blockSize, uint32_t minimumChunk, uint32_t maximumChunk, uint32_t flags);
// Usable bytes of a block (contents not cleared), or null.
void* PoolAlloc(BlockPool* pool);
// block must come from PoolAlloc of the same pool, returned once.
void PoolFree(BlockPool* pool, void* block);
void PoolClear(BlockPool* pool);
void PoolRelease(BlockPool* pool);

// Runs routine exactly once per state word; every caller returns after it completed.
void RunOnce(volatile LONG* state, void (*routine)());
