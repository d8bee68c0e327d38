// Block pools and RunOnce: chunk sizing and turnover, the open and full
// lists, shared pools, a random run checked against a reference model, a
// locked pool under four threads, a chunk that cannot be had, and both
// RunOnce paths under contention.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "runtime/data/pool.h"
#include "runtime/data/run_once.h"
#include "runtime/process/globals.h"
#include "tests/runtime/data/main_heap_limit.h"
#include "tests/runtime/data/process_threads.h"

namespace {

std::vector<PoolChunk*> Chunks(PoolChunk* list)
{
    std::vector<PoolChunk*> chunks;
    for (PoolChunk* chunk = list; chunk; chunk = chunk->next)
        chunks.push_back(chunk);
    return chunks;
}

PoolChunk* ChunkOf(void* block)
{
    return *reinterpret_cast<PoolChunk**>(static_cast<char*>(block) - POOL_BLOCK_HEADER);
}

// Everything the pool's records must agree on, with the number of blocks
// the caller holds: list membership matches each chunk's state, back links
// are right, capacities add up to the total and out blocks to what is held.
::testing::AssertionResult PoolConsistent(const BlockPool* pool, int64_t held)
{
    int64_t capacity = 0, out = 0;
    for (int full = 0; full < 2; ++full) {
        PoolChunk* previous = nullptr;
        for (PoolChunk* chunk = full ? pool->fullChunks : pool->openChunks; chunk; chunk = chunk->next) {
            if (chunk->previous != previous)
                return ::testing::AssertionFailure() << "broken back link in the " << (full ? "full" : "open") << " list";
            bool exhausted = chunk->freeCount == 0 && chunk->carved == chunk->capacity;
            if (exhausted != bool(full))
                return ::testing::AssertionFailure()
                       << "chunk of capacity " << chunk->capacity << " carved " << chunk->carved << " free "
                       << chunk->freeCount << " is on the " << (full ? "full" : "open") << " list";
            if (chunk->freeCount >= chunk->carved)
                return ::testing::AssertionFailure() << "a chunk with every block back was kept";
            int32_t listed = 0;
            for (void* block = chunk->freeList; block; block = *static_cast<void**>(block))
                ++listed;
            if (listed != chunk->freeCount)
                return ::testing::AssertionFailure() << "free list holds " << listed << ", free count " << chunk->freeCount;
            capacity += chunk->capacity;
            out += chunk->carved - chunk->freeCount;
            previous = chunk;
        }
    }
    if (capacity != pool->totalBlocks)
        return ::testing::AssertionFailure() << "chunks hold " << capacity << ", total says " << pool->totalBlocks;
    if (out != held)
        return ::testing::AssertionFailure() << "chunks have " << out << " blocks out, caller holds " << held;
    return ::testing::AssertionSuccess();
}

TEST(Pool, StrideIsBlockPlusChunkAddressRoundedToItsSize)
{
    struct Case {
        uint32_t blockSize, pe32Stride, portStride;
    };
    const Case cases[] = {{0, 4, 8}, {1, 8, 16}, {4, 8, 16}, {24, 28, 32}, {30, 36, 40}, {32, 36, 40}};
    for (const Case& c : cases) {
        BlockPool* pool = PoolCreate(c.blockSize, 16, 256, POOL_UNLOCKED);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->stride, RUNTIME_PE32 ? c.pe32Stride : c.portStride) << "block size " << c.blockSize;
        PoolRelease(pool);
    }
    // A stride that does not fit 32 bits is refused, not wrapped.
    EXPECT_EQ(PoolCreate(0xFFFFFFFFu, 16, 256, POOL_UNLOCKED), nullptr);
}

TEST(Pool, ChunkSizesGrowWithTheTotal)
{
    // Chunks made one after another by a pool that only grows, as runs of
    // (chunks, blocks each): a sixteenth of the total in multiples of 16, so
    // 16 until the total reaches 512, then 32, 48 from 768, 64 from 1056, ...
    struct Run {
        int chunks, capacity;
    };
    const Run runs[] = {{32, 16}, {8, 32}, {6, 48}, {4, 64}, {3, 80}, {1, 96}};
    std::vector<int32_t> expected;
    for (const Run& run : runs)
        expected.insert(expected.end(), run.chunks, run.capacity);

    BlockPool* pool = PoolCreate(8, 16, 65536, POOL_UNLOCKED);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> blocks;
    std::vector<int32_t> made;
    while (made.size() < expected.size()) {
        int32_t before = pool->totalBlocks;
        void* block = PoolAlloc(pool);
        ASSERT_NE(block, nullptr);
        blocks.push_back(block);
        if (pool->totalBlocks != before)
            made.push_back(pool->totalBlocks - before);
    }
    EXPECT_EQ(made, expected);
    EXPECT_TRUE(PoolConsistent(pool, int64_t(blocks.size())));
    PoolRelease(pool);

    // The maximum caps the growth.
    BlockPool* capped = PoolCreate(8, 16, 256, POOL_UNLOCKED);
    blocks.clear();
    while (capped->totalBlocks < 8192)
        blocks.push_back(PoolAlloc(capped));
    EXPECT_EQ(capped->openChunks->capacity, 256);
    PoolRelease(capped);
}

TEST(Pool, SixteenFillTheFirstChunkAndTheSeventeenthMakesAnother)
{
    BlockPool* pool = PoolCreate(20, 16, 65536, POOL_UNLOCKED);
    ASSERT_NE(pool, nullptr);
    std::vector<char*> blocks;
    for (int i = 0; i < 16; ++i) {
        blocks.push_back(static_cast<char*>(PoolAlloc(pool)));
        ASSERT_NE(blocks.back(), nullptr);
        // Carved in address order, one stride apart.
        if (i > 0) {
            EXPECT_EQ(blocks[i] - blocks[i - 1], ptrdiff_t(pool->stride));
        }
        EXPECT_EQ(pool->totalBlocks, 16);
    }
    PoolChunk* first = ChunkOf(blocks[0]);
    EXPECT_EQ(pool->openChunks, nullptr);
    EXPECT_EQ(Chunks(pool->fullChunks), std::vector<PoolChunk*>{first});

    blocks.push_back(static_cast<char*>(PoolAlloc(pool)));
    PoolChunk* second = ChunkOf(blocks.back());
    EXPECT_NE(second, first);
    EXPECT_EQ(pool->totalBlocks, 32);
    EXPECT_EQ(Chunks(pool->openChunks), std::vector<PoolChunk*>{second});
    EXPECT_TRUE(PoolConsistent(pool, 17));
    PoolRelease(pool);
}

TEST(Pool, ABlockReturnedToAFullChunkIsHandedOutNext)
{
    BlockPool* pool = PoolCreate(20, 16, 65536, POOL_UNLOCKED);
    std::vector<void*> blocks;
    for (int i = 0; i < 17; ++i)
        blocks.push_back(PoolAlloc(pool));
    PoolChunk* first = ChunkOf(blocks[0]);
    PoolChunk* second = ChunkOf(blocks[16]);

    PoolFree(pool, blocks[5]);
    EXPECT_EQ(pool->fullChunks, nullptr);
    EXPECT_EQ(Chunks(pool->openChunks), (std::vector<PoolChunk*>{first, second}));
    EXPECT_TRUE(PoolConsistent(pool, 16));

    EXPECT_EQ(PoolAlloc(pool), blocks[5]);
    EXPECT_EQ(Chunks(pool->fullChunks), std::vector<PoolChunk*>{first});
    EXPECT_EQ(Chunks(pool->openChunks), std::vector<PoolChunk*>{second});

    // Returned blocks come back last returned first.
    PoolFree(pool, blocks[2]);
    PoolFree(pool, blocks[9]);
    EXPECT_EQ(PoolAlloc(pool), blocks[9]);
    EXPECT_EQ(PoolAlloc(pool), blocks[2]);
    PoolRelease(pool);
}

TEST(Pool, AChunkIsFreedWhenEveryBlockTakenFromItIsBack)
{
    size_t heapBefore = HeapBusyBlocks(MainHeap);
    BlockPool* pool = PoolCreate(20, 16, 65536, POOL_UNLOCKED);
    std::vector<void*> blocks;
    for (int i = 0; i < 20; ++i)
        blocks.push_back(PoolAlloc(pool));
    PoolChunk* second = ChunkOf(blocks[16]);
    ASSERT_EQ(pool->totalBlocks, 32);

    // The full first chunk, in an order that crosses the full-to-open move.
    for (int i : {3, 0, 15, 7, 1, 2, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14})
        PoolFree(pool, blocks[i]);
    EXPECT_EQ(pool->totalBlocks, 16);
    EXPECT_EQ(pool->fullChunks, nullptr);
    EXPECT_EQ(Chunks(pool->openChunks), std::vector<PoolChunk*>{second});

    // The second chunk had only 4 of its 16 blocks out: freed all the same.
    for (int i = 16; i < 20; ++i)
        PoolFree(pool, blocks[i]);
    EXPECT_EQ(pool->totalBlocks, 0);
    EXPECT_EQ(pool->openChunks, nullptr);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore + 1) << "only the pool's header may remain";

    // A chunk of one block lives on the full list and goes the same way.
    BlockPool* single = PoolCreate(20, 1, 1, POOL_UNLOCKED);
    void* a = PoolAlloc(single);
    void* b = PoolAlloc(single);
    EXPECT_EQ(Chunks(single->fullChunks).size(), 2u);
    EXPECT_EQ(single->openChunks, nullptr);
    PoolFree(single, a);
    EXPECT_EQ(Chunks(single->fullChunks), std::vector<PoolChunk*>{ChunkOf(b)});
    EXPECT_EQ(single->totalBlocks, 1);
    PoolFree(single, b);
    EXPECT_EQ(single->totalBlocks, 0);
    EXPECT_EQ(single->fullChunks, nullptr);

    PoolRelease(single);
    PoolRelease(pool);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore);
}

TEST(Pool, ClearFreesEveryChunk)
{
    size_t heapBefore = HeapBusyBlocks(MainHeap);
    BlockPool* pool = PoolCreate(100, 16, 64, POOL_LOCKED);
    for (int i = 0; i < 300; ++i)
        PoolAlloc(pool);
    PoolClear(pool);
    EXPECT_EQ(pool->totalBlocks, 0);
    EXPECT_EQ(pool->openChunks, nullptr);
    EXPECT_EQ(pool->fullChunks, nullptr);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore + 1);
    EXPECT_NE(PoolAlloc(pool), nullptr) << "a cleared pool still serves";
    PoolRelease(pool);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore);
}

TEST(Pool, LockingFollowsTheLowTwoBits)
{
    const struct {
        uint32_t flags, locked;
    } cases[] = {{0, 1}, {1, 1}, {2, 0}, {3, 0}};
    for (auto c : cases) {
        BlockPool* pool = PoolCreate(16, 16, 256, c.flags);
        EXPECT_EQ(pool->locked, c.locked) << "flags " << c.flags;
        EXPECT_EQ(pool->registryEntry, nullptr);
        PoolRelease(pool);
    }
}

TEST(Pool, SharedPoolsAreOnePerStrideAndFlagsUntilTheLastRelease)
{
    // A block size no other test or map uses, so the registry entry is ours.
    const uint32_t size = 1000;
    size_t heapBefore = HeapBusyBlocks(MainHeap);
    BlockPool* a = PoolCreate(size, 16, 256, POOL_SHARED);
    BlockPool* b = PoolCreate(size, 16, 256, POOL_SHARED);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->locked, 1u);
    ASSERT_NE(a->registryEntry, nullptr);
    EXPECT_EQ(a->registryEntry->pool, a);
    EXPECT_EQ(a->registryEntry->references, 2);
    EXPECT_EQ(a->registryEntry->flags, POOL_SHARED);

    // Same stride (sizes that round alike), same flags: the same pool.
    BlockPool* alike = PoolCreate(size - 1, 16, 256, POOL_SHARED);
    EXPECT_EQ(alike, a);
    // Other flags or another stride: other pools.
    BlockPool* unlocked = PoolCreate(size, 16, 256, POOL_SHARED | POOL_UNLOCKED);
    BlockPool* bigger = PoolCreate(size + 8, 16, 256, POOL_SHARED);
    EXPECT_NE(unlocked, a);
    EXPECT_EQ(unlocked->locked, 0u);
    EXPECT_NE(bigger, a);
    PoolRelease(unlocked);
    PoolRelease(bigger);
    PoolRelease(alike);

    void* held = PoolAlloc(a);
    PoolRelease(b);
    EXPECT_EQ(a->registryEntry->references, 1);
    void* more = PoolAlloc(a);
    EXPECT_NE(more, nullptr) << "one reference left: the pool still serves";
    PoolFree(a, more);
    PoolFree(a, held);
    PoolRelease(a);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore) << "pool, chunks and registry entries all freed";

    // Created again afresh after the last release.
    BlockPool* again = PoolCreate(size, 16, 256, POOL_SHARED);
    EXPECT_EQ(again->registryEntry->references, 1);
    PoolRelease(again);
}

TEST(Pool, RandomAllocAndFreeKeepBlocksDistinctAlignedAndCounted)
{
    const uint32_t seed = 20240611;
    std::printf("Pool random run: seed %u\n", seed);
    std::mt19937 random(seed);
    const uint32_t size = 13;
    BlockPool* pool = PoolCreate(size, 16, 64, POOL_UNLOCKED);
    ASSERT_NE(pool, nullptr);

    struct Held {
        unsigned char* block;
        unsigned char fill;
    };
    std::vector<Held> held;
    std::set<void*> live;
    for (int op = 0; op < 100000; ++op) {
        // Phases of growth and shrinkage so that chunks come and go.
        bool growing = (op / 5000) % 2 == 0;
        bool alloc = held.empty() || random() % 100 < (growing ? 65u : 35u);
        if (alloc) {
            auto* block = static_cast<unsigned char*>(PoolAlloc(pool));
            ASSERT_NE(block, nullptr) << "op " << op;
            ASSERT_EQ(uintptr_t(block) % sizeof(void*), 0u) << "op " << op;
            ASSERT_TRUE(live.insert(block).second) << "block handed out twice, op " << op;
            unsigned char fill = (unsigned char)(random() | 1);
            std::memset(block, fill, size);
            held.push_back({block, fill});
        } else {
            size_t i = random() % held.size();
            Held h = held[i];
            for (uint32_t k = 0; k < size; ++k)
                ASSERT_EQ(h.block[k], h.fill) << "block overwritten while out, op " << op;
            PoolFree(pool, h.block);
            live.erase(h.block);
            held[i] = held.back();
            held.pop_back();
        }
        if (op % 1000 == 0) {
            ASSERT_TRUE(PoolConsistent(pool, int64_t(held.size()))) << "op " << op;
        }
    }
    EXPECT_TRUE(PoolConsistent(pool, int64_t(held.size())));
    for (const Held& h : held)
        PoolFree(pool, h.block);
    EXPECT_EQ(pool->totalBlocks, 0);
    PoolRelease(pool);
}

TEST(Pool, ALockedSharedPoolServesFourThreadsWithoutLossOrDoubles)
{
    const uint32_t seed = 77;
    std::printf("Pool threads: seed %u\n", seed);
    const uint32_t size = 48;
    BlockPool* pool = PoolCreate(size, 16, 256, POOL_SHARED);
    ASSERT_NE(pool, nullptr);
    ASSERT_EQ(pool->locked, 1u);

    const int threads = 4, opsPerThread = 50000;
    std::vector<int> faults(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 random(seed + t);
            std::vector<uint32_t*> mine;
            uint32_t stamp = uint32_t(t) << 24;
            for (int op = 0; op < opsPerThread; ++op) {
                if (mine.empty() || random() % 2 == 0) {
                    auto* block = static_cast<uint32_t*>(PoolAlloc(pool));
                    if (!block) {
                        ++faults[t];
                        continue;
                    }
                    ++stamp;
                    for (uint32_t k = 0; k < size / 4; ++k)
                        block[k] = stamp;
                    mine.push_back(block);
                } else {
                    size_t i = random() % mine.size();
                    uint32_t* block = mine[i];
                    for (uint32_t k = 1; k < size / 4; ++k)
                        if (block[k] != block[0] || (block[0] >> 24) != uint32_t(t))
                            ++faults[t];
                    PoolFree(pool, block);
                    mine[i] = mine.back();
                    mine.pop_back();
                }
            }
            for (uint32_t* block : mine)
                PoolFree(pool, block);
        });
    }
    for (auto& worker : workers)
        worker.join();
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(faults[t], 0) << "thread " << t << " saw a failed or shared block";
    EXPECT_TRUE(PoolConsistent(pool, 0));
    EXPECT_EQ(pool->totalBlocks, 0);
    PoolRelease(pool);
}

TEST(Pool, AChunkThatCannotBeHadFallsBackToOneBlock)
{
    const uint32_t size = 8000;  // sixteen of these cannot fit the small heap, one can
    MainHeapLimit small(64 * 1024);
    BlockPool* pool = PoolCreate(size, 16, 256, POOL_UNLOCKED);
    ASSERT_NE(pool, nullptr);
    void* block = PoolAlloc(pool);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(pool->totalBlocks, 1);
    EXPECT_EQ(Chunks(pool->fullChunks).size(), 1u);
    EXPECT_EQ(pool->fullChunks->capacity, 1);

    small.Exhaust();
    int32_t total = pool->totalBlocks;
    EXPECT_EQ(PoolAlloc(pool), nullptr);
    EXPECT_EQ(pool->totalBlocks, total) << "a failed PoolAlloc leaves the pool unchanged";
    EXPECT_TRUE(PoolConsistent(pool, 1));
    PoolFree(pool, block);
    EXPECT_EQ(pool->totalBlocks, 0);
    // The pool lives in the small heap, which goes with the scope.
}

TEST(Pool, CreateWithoutMemoryGivesNull)
{
    MainHeapLimit small;
    small.Exhaust();
    EXPECT_EQ(PoolCreate(16, 16, 256, POOL_UNLOCKED), nullptr);
    EXPECT_EQ(PoolCreate(16, 16, 256, POOL_LOCKED), nullptr);
    EXPECT_EQ(PoolCreate(2000, 16, 256, POOL_SHARED), nullptr);
}

// --- RunOnce ----------------------------------------------------------------

volatile LONG OnceRuns;
volatile LONG OnceFinished;

void OnceRoutine()
{
    InterlockedIncrement(&OnceRuns);
    Sleep(30);  // long enough for every other caller to arrive meanwhile
    OnceFinished = 1;
}

TEST(RunOnce, EveryCallerReturnsAfterTheOneRun)
{
    typedef void (*RunOnceEntry)(volatile RunOnceState*, void (*)());
    const struct {
        const char* path;
        RunOnceEntry entry;
    } paths[] = {{"InitOnceExecuteOnce", RunOnce}, {"compare-exchange fallback", RunOnceFallback}};
    for (auto path : paths) {
        SCOPED_TRACE(path.path);
        volatile RunOnceState state = 0;
        OnceRuns = 0;
        OnceFinished = 0;
        const int callers = 8;
        std::vector<int> sawFinished(callers, 0);
        std::vector<std::thread> threads;
        for (int i = 0; i < callers; ++i)
            threads.emplace_back([&, i] {
                path.entry(&state, OnceRoutine);
                sawFinished[i] = OnceFinished;
            });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(OnceRuns, 1);
        for (int i = 0; i < callers; ++i)
            EXPECT_EQ(sawFinished[i], 1) << "caller " << i << " returned before the routine completed";

        path.entry(&state, OnceRoutine);
        EXPECT_EQ(OnceRuns, 1) << "a later call runs nothing";
    }
}

TEST(RunOnce, TheFallbackEndsInTheDoneState)
{
    volatile RunOnceState state = 0;
    OnceRuns = 0;
    RunOnceFallback(&state, OnceRoutine);
    EXPECT_EQ(state, 2);
    EXPECT_EQ(OnceRuns, 1);
    // A word already done returns at once.
    RunOnceFallback(&state, OnceRoutine);
    EXPECT_EQ(OnceRuns, 1);
}

}  // namespace
