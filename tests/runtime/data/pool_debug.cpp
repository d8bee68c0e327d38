// Block pools as debug builds compile them: a block taken back is poisoned
// without touching its neighbours, every kind of bad free raises the pool's
// exception code (seen here by a vectored handler) and is then dropped so the
// pool stays sound, and ordinary use raises nothing. This program is built
// with the pool compiled without NDEBUG and also runs every pool test of the
// quick program, which must pass unchanged.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "runtime/data/pool.h"

namespace {

#ifdef NDEBUG
#error "this program must be built without NDEBUG"
#endif

// A crash, or a bad free that no watch below expected, ends the program at
// once with its code instead of waiting for the system's debugger.
LONG WINAPI EndOnUnhandled(EXCEPTION_POINTERS* info)
{
    std::fflush(stdout);
    std::fprintf(stderr, "unhandled exception %08lx\n", info->ExceptionRecord->ExceptionCode);
    ExitProcess(info->ExceptionRecord->ExceptionCode);
}
[[maybe_unused]] const auto PreviousFilter = SetUnhandledExceptionFilter(EndOnUnhandled);

struct Raise {
    DWORD code;
    DWORD flags;
    DWORD parameters;
    ULONG_PTR pool, address;
    bool lockHeld;  // a locked pool's lock was still taken when it raised
};
std::vector<Raise> Raised;

LONG CALLBACK CatchBadFree(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != POOL_BAD_FREE_EXCEPTION)
        return EXCEPTION_CONTINUE_SEARCH;  // e.g. the debug output's own notification
    auto* pool = reinterpret_cast<BlockPool*>(record->ExceptionInformation[0]);
    Raised.push_back({record->ExceptionCode, record->ExceptionFlags, record->NumberParameters,
                      record->ExceptionInformation[0], record->ExceptionInformation[1],
                      pool->locked && pool->lock.OwningThread != nullptr});
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Catches the pool's exception while in scope; anything else goes on as usual.
class BadFreeWatch {
public:
    BadFreeWatch() : handler_(AddVectoredExceptionHandler(1, CatchBadFree)) { Raised.clear(); }
    ~BadFreeWatch() { RemoveVectoredExceptionHandler(handler_); }

private:
    void* handler_;
};

unsigned char* BlockOf(void* usable) { return static_cast<unsigned char*>(usable) - POOL_BLOCK_HEADER; }
PoolChunk* ChunkOf(void* usable) { return *reinterpret_cast<PoolChunk**>(BlockOf(usable)); }

bool Filled(const void* bytes, size_t size, unsigned char value)
{
    for (size_t i = 0; i < size; ++i)
        if (static_cast<const unsigned char*>(bytes)[i] != value)
            return false;
    return true;
}

TEST(PoolDebug, AFreedBlockIsPoisonedWithoutTouchingItsNeighbours)
{
    for (uint32_t size : {0u, 1u, 13u, 24u, 100u}) {
        SCOPED_TRACE(testing::Message() << "block size " << size);
        BlockPool* pool = PoolCreate(size, 16, 256, POOL_UNLOCKED);
        ASSERT_NE(pool, nullptr);
        const size_t usable = pool->stride - POOL_BLOCK_HEADER;
        void* blocks[3];
        for (int i = 0; i < 3; ++i) {
            blocks[i] = PoolAlloc(pool);
            std::memset(blocks[i], 0x11 * (i + 1), usable);
        }
        PoolChunk* chunk = ChunkOf(blocks[2]);

        PoolFree(pool, blocks[1]);
        EXPECT_TRUE(Filled(blocks[1], usable, POOL_POISON_BYTE));
        EXPECT_TRUE(Filled(blocks[0], usable, 0x11)) << "the block before";
        EXPECT_TRUE(Filled(blocks[2], usable, 0x33)) << "the block after";
        ASSERT_EQ(ChunkOf(blocks[2]), chunk) << "the next block's pool field";

        // Linked in all the same: handed out again, poison and all.
        EXPECT_EQ(PoolAlloc(pool), blocks[1]);
        EXPECT_TRUE(Filled(blocks[1], usable, POOL_POISON_BYTE));
        for (void* block : blocks)
            PoolFree(pool, block);
        EXPECT_EQ(pool->totalBlocks, 0);
        PoolRelease(pool);
    }
}

// One bad free: how to set it up, and what must hold after it was dropped.
struct BadFree {
    const char* what;
    std::function<void(BlockPool* pool, BlockPool* other, void** address)> before;
    std::function<void(BlockPool* pool, BlockPool* other, void* address)> after;
};

const BadFree BAD_FREES[] = {
    {"second free while the chunk lives",
     [](BlockPool* pool, BlockPool*, void** address) {
         PoolAlloc(pool);  // keeps the chunk
         *address = PoolAlloc(pool);
         PoolFree(pool, *address);
     },
     [](BlockPool* pool, BlockPool*, void* address) {
         // Linked twice, the block would come out twice.
         EXPECT_EQ(pool->openChunks->freeCount, 1);
         EXPECT_EQ(PoolAlloc(pool), address);
         EXPECT_NE(PoolAlloc(pool), address);
     }},
    {"second free of a chunk's last block, the chunk back in the heap",
     [](BlockPool* pool, BlockPool*, void** address) {
         *address = PoolAlloc(pool);
         PoolFree(pool, *address);
     },
     [](BlockPool* pool, BlockPool*, void*) {
         EXPECT_EQ(pool->totalBlocks, 0);
         EXPECT_EQ(pool->openChunks, nullptr);
         EXPECT_EQ(pool->fullChunks, nullptr);
     }},
    {"a block of another pool with the same stride",
     [](BlockPool* pool, BlockPool* other, void** address) {
         PoolAlloc(pool);
         *address = PoolAlloc(other);
     },
     [](BlockPool* pool, BlockPool* other, void* address) {
         EXPECT_EQ(pool->openChunks->freeCount, 0);
         BadFreeWatch strict;
         PoolFree(other, address);
         EXPECT_TRUE(Raised.empty()) << "its own pool takes it";
         EXPECT_EQ(other->totalBlocks, 0);
     }},
    {"an address inside a block, the word before it made to look like a pool field",
     [](BlockPool* pool, BlockPool*, void** address) {
         void* block = PoolAlloc(pool);
         *static_cast<PoolChunk**>(block) = ChunkOf(block);  // caller data may hold anything
         *address = static_cast<char*>(block) + sizeof(void*);
     },
     [](BlockPool* pool, BlockPool*, void* address) {
         EXPECT_EQ(pool->openChunks->freeCount, 0);
         BadFreeWatch strict;
         PoolFree(pool, static_cast<char*>(address) - sizeof(void*));
         EXPECT_TRUE(Raised.empty());
     }},
    {"a block of the chunk's untouched area",
     [](BlockPool* pool, BlockPool*, void** address) {
         void* first = PoolAlloc(pool);
         *address = static_cast<char*>(first) + 5 * pool->stride;
     },
     [](BlockPool* pool, BlockPool*, void*) {
         EXPECT_EQ(pool->openChunks->carved, 1);
         EXPECT_EQ(pool->openChunks->freeCount, 0);
     }},
};

TEST(PoolDebug, BadFreesRaiseTheCodeWithPoolAndAddressAndAreDropped)
{
    for (uint32_t flags : {POOL_UNLOCKED, POOL_LOCKED}) {
        for (const BadFree& bad : BAD_FREES) {
            SCOPED_TRACE(testing::Message() << bad.what << (flags == POOL_LOCKED ? ", locked" : ", unlocked"));
            BlockPool* pool = PoolCreate(24, 16, 256, flags);
            BlockPool* other = PoolCreate(24, 16, 256, flags);
            void* address = nullptr;
            bad.before(pool, other, &address);
            {
                BadFreeWatch watch;
                PoolFree(pool, address);
                ASSERT_EQ(Raised.size(), 1u);
                EXPECT_EQ(Raised[0].code, POOL_BAD_FREE_EXCEPTION);
                EXPECT_EQ(Raised[0].flags & EXCEPTION_NONCONTINUABLE, 0u);
                EXPECT_EQ(Raised[0].parameters, 2u);
                EXPECT_EQ(Raised[0].pool, ULONG_PTR(pool));
                EXPECT_EQ(Raised[0].address, ULONG_PTR(address));
                // A handler that leaves PoolFree by other means must not
                // take the lock with it.
                EXPECT_FALSE(Raised[0].lockHeld);
            }
            bad.after(pool, other, address);
            PoolRelease(other);
            PoolRelease(pool);
        }
    }
}

TEST(PoolDebug, OrdinaryUseRaisesNothing)
{
    const uint32_t seed = 5406;
    std::printf("pool debug run: seed %u\n", seed);
    std::mt19937 random(seed);
    BadFreeWatch watch;
    // Chunks of one block, chunks that grow, and a shared pool in two hands.
    BlockPool* pools[] = {PoolCreate(8, 1, 1, POOL_UNLOCKED), PoolCreate(40, 16, 65536, POOL_LOCKED),
                          PoolCreate(40, 16, 64, POOL_SHARED), PoolCreate(40, 16, 64, POOL_SHARED)};
    std::vector<std::pair<int, void*>> held;
    for (int op = 0; op < 200000; ++op) {
        bool growing = (op / 20000) % 2 == 0;
        if (held.empty() || random() % 100 < (growing ? 60u : 40u)) {
            int p = int(random() % 4);
            held.push_back({p, PoolAlloc(pools[p])});
            ASSERT_NE(held.back().second, nullptr);
        } else if (random() % 5000 == 0) {
            PoolClear(pools[1]);
            std::erase_if(held, [](const std::pair<int, void*>& h) { return h.first == 1; });
        } else {
            size_t i = random() % held.size();
            PoolFree(pools[held[i].first], held[i].second);
            held[i] = held.back();
            held.pop_back();
        }
        ASSERT_TRUE(Raised.empty()) << "op " << op;
    }
    for (auto& h : held)
        PoolFree(pools[h.first], h.second);
    EXPECT_TRUE(Raised.empty());
    for (BlockPool* pool : pools) {
        EXPECT_EQ(pool->totalBlocks, 0);
        PoolRelease(pool);
    }
}

}  // namespace
