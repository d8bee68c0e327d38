// Per-thread data in a process of its own, from before the first
// registration: the offsets of a known sequence of sizes, the registering
// thread's block growing under its contents, and the shared fallback block
// for threads whose own block cannot be allocated. One test: each step
// depends on the registrations of the one before.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "runtime/data/thread_data.h"
#include "runtime/process/globals.h"
#include "tests/runtime/data/main_heap_limit.h"
#include "tests/runtime/data/process_threads.h"

namespace {

volatile LONG SetUps;
volatile LONG CleanUps;
bool SetUpSawZero = true;

void CountSetUp(void* segment)
{
    auto* bytes = static_cast<unsigned char*>(segment);
    for (int i = 0; i < 80; ++i)
        if (bytes[i])
            SetUpSawZero = false;
    memset(segment, 0x5A, 80);
    InterlockedIncrement(&SetUps);
}

void CountCleanUp(void*)
{
    InterlockedIncrement(&CleanUps);
}

bool IsFilled(const void* bytes, size_t size, unsigned char value)
{
    for (size_t i = 0; i < size; ++i)
        if (static_cast<const unsigned char*>(bytes)[i] != value)
            return false;
    return true;
}

struct GetCall {
    uint32_t offset;
    void* result;
};

DWORD WINAPI GetThread(void* parameter)
{
    auto* c = static_cast<GetCall*>(parameter);
    c->result = ThreadDataGet(c->offset);
    return 0;
}

// Runs ThreadDataGet(offset) on a new thread and returns its result.
void* GetOnNewThread(uint32_t offset)
{
    GetCall call = {offset, nullptr};
    HANDLE thread = CreateThread(nullptr, 0, GetThread, &call, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return call.result;
}

struct Registration {
    uint32_t size;
    uint32_t expectedOffset;
};

const Registration REGISTRATIONS[] = {
    {80, 0},  // with set-up and clean-up, the others without
    {20, 80},
    {30, 100},
    {1, 132},  // 30 took 32: the total is now 132
    {0, 136},
    {3, 136},
    {4, 140},
};

TEST(ThreadDataFresh, OffsetsGrowthAndFallback)
{
    // Nothing registered yet: no slot, no block, a defined null.
    EXPECT_EQ(ThreadDataGet(0), nullptr);
    EXPECT_EQ(GetOnNewThread(0), nullptr);

    for (const Registration& r : REGISTRATIONS) {
        SCOPED_TRACE(testing::Message() << "size " << r.size);
        bool first = r.size == 80;
        uint32_t offset = ThreadDataRegister(r.size, first ? CountSetUp : nullptr, first ? CountCleanUp : nullptr);
        EXPECT_EQ(offset, r.expectedOffset);
        EXPECT_TRUE(IsFilled(ThreadDataGet(0), 80, 0x5A)) << "the set-up's bytes survive the growth";
        EXPECT_TRUE(IsFilled(ThreadDataGet(80), offset + r.size - 80, 0)) << "grown bytes are zero";
    }
    EXPECT_EQ(SetUps, 1);
    EXPECT_TRUE(SetUpSawZero);
    EXPECT_EQ(ThreadDataRegister(4, nullptr, nullptr), 144u);

    // Threads whose block cannot be made share the fallback, set up once and
    // never cleaned up; no watcher is started for them.
    int threadsBefore = ProcessThreadCount();
    void* fallback;
    void* again;
    {
        MainHeapLimit limit;
        limit.Exhaust();
        fallback = GetOnNewThread(0);
        again = GetOnNewThread(0);
    }
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(again, fallback);
    EXPECT_EQ(SetUps, 2);
    EXPECT_TRUE(SetUpSawZero);
    EXPECT_TRUE(IsFilled(fallback, 80, 0x5A));
    EXPECT_NE(fallback, ThreadDataGet(0));

    // With memory back, a new thread gets a block of its own again, cleaned
    // up once it has ended.
    void* own = GetOnNewThread(0);
    EXPECT_NE(own, fallback);
    EXPECT_EQ(SetUps, 3);
    EXPECT_TRUE(PollUntil([] { return CleanUps == 1; }));
    EXPECT_TRUE(WaitForThreadCount(threadsBefore));
    EXPECT_EQ(CleanUps, 1) << "the fallback is never cleaned up";

    // Segments beyond the fallback's size: a thread without memory gets null.
    ThreadDataRegister(THREAD_DATA_FALLBACK_SIZE, nullptr, nullptr);
    {
        MainHeapLimit limit;
        limit.Exhaust();
        EXPECT_EQ(GetOnNewThread(0), nullptr);
    }
}

}  // namespace
