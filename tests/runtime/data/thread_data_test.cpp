// Per-thread data and thread-exit notifications with real threads: set-ups
// on first use, one block per thread, clean-ups after the owner has ended on
// a watcher thread, watchers that fill up, multiply and end when idle.
// Offsets are taken as returned: other tests of this program may register
// segments too (the fixed offsets of a fresh process are checked elsewhere).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/data/thread_data.h"
#include "runtime/process/globals.h"
#include "tests/runtime/data/process_threads.h"

namespace {

// What a set-up saw, kept in the segment itself; tag names the test thread
// that owns the block (0: not a test thread).
struct TrackedSegment {
    uint32_t setUpSequence;
    uint32_t wasZero;
    DWORD setUpThread;
    int32_t tag;
};

constexpr int MAX_TAGS = 256;

// What happened to each tagged block after its thread ended.
struct CleanUpRecord {
    volatile LONG firstCount;   // clean-ups of the first registered segment
    volatile LONG secondCount;  // and of the second
    LONG firstSequence;
    LONG secondSequence;
    void* firstSegment;
    DWORD thread;
    bool ownerHadEnded;
};

volatile LONG Sequence;
uint32_t FirstOffset, PlainOffset, SecondOffset;
void* SegmentSeen[MAX_TAGS];    // the first segment each tagged thread got
HANDLE ThreadOf[MAX_TAGS];      // each tagged thread's handle
DWORD ThreadIdOf[MAX_TAGS];
CleanUpRecord CleanUps[MAX_TAGS];

bool AllZero(const void* bytes, size_t size)
{
    auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size; ++i)
        if (p[i])
            return false;
    return true;
}

void SetUp(void* segment)
{
    auto* tracked = static_cast<TrackedSegment*>(segment);
    tracked->wasZero = AllZero(segment, sizeof(TrackedSegment));
    tracked->setUpSequence = (uint32_t)InterlockedIncrement(&Sequence);
    tracked->setUpThread = GetCurrentThreadId();
}

CleanUpRecord* TaggedRecord(void* segment)
{
    int32_t tag = static_cast<TrackedSegment*>(segment)->tag;
    return tag > 0 && tag < MAX_TAGS ? &CleanUps[tag] : nullptr;
}

void CleanUpFirst(void* segment)
{
    CleanUpRecord* record = TaggedRecord(segment);
    if (!record)
        return;
    int32_t tag = static_cast<TrackedSegment*>(segment)->tag;
    record->firstSequence = InterlockedIncrement(&Sequence);
    record->firstSegment = segment;
    record->thread = GetCurrentThreadId();
    record->ownerHadEnded = WaitForSingleObject(ThreadOf[tag], 0) == WAIT_OBJECT_0;
    InterlockedIncrement(&record->firstCount);
}

void CleanUpSecond(void* segment)
{
    CleanUpRecord* record = TaggedRecord(segment);
    if (!record)
        return;
    record->secondSequence = InterlockedIncrement(&Sequence);
    InterlockedIncrement(&record->secondCount);
}

// Three segments: the first and the second with both routines, a plain one
// (no routines, so no record) between them.
void EnsureSegments()
{
    static bool registered;
    if (registered)
        return;
    registered = true;
    FirstOffset = ThreadDataRegister(sizeof(TrackedSegment), SetUp, CleanUpFirst);
    PlainOffset = ThreadDataRegister(10, nullptr, nullptr);
    SecondOffset = ThreadDataRegister(sizeof(TrackedSegment), SetUp, CleanUpSecond);
}

TrackedSegment* First() { return static_cast<TrackedSegment*>(ThreadDataGet(FirstOffset)); }
TrackedSegment* Second() { return static_cast<TrackedSegment*>(ThreadDataGet(SecondOffset)); }

struct Job {
    int tag;
    HANDLE go;               // waited for before the thread ends, or null
    volatile LONG* ready;    // counted once the block is in use, or null
    TrackedSegment firstSeen;   // the set-up's findings, copied before the tag is written
    TrackedSegment secondSeen;
    void* first;
    void* firstAgain;
    void* second;
    bool plainZero;
    LONG setUpsBefore, setUpsAfterSecondGet;
};

DWORD WINAPI UseThreadData(void* parameter)
{
    auto* job = static_cast<Job*>(parameter);
    TrackedSegment* first = First();
    job->first = first;
    job->firstSeen = *first;
    first->tag = job->tag;
    SegmentSeen[job->tag] = first;
    job->setUpsBefore = Sequence;
    job->firstAgain = First();
    job->second = Second();
    job->secondSeen = *Second();
    Second()->tag = job->tag;
    job->plainZero = AllZero(ThreadDataGet(PlainOffset), 10);
    job->setUpsAfterSecondGet = Sequence;
    if (job->ready)
        InterlockedIncrement(job->ready);
    if (job->go)
        WaitForSingleObject(job->go, INFINITE);
    return 0;
}

void StartTagged(Job* job)
{
    DWORD id = 0;
    ThreadOf[job->tag] = CreateThread(nullptr, 0, UseThreadData, job, CREATE_SUSPENDED, &id);
    ThreadIdOf[job->tag] = id;
    ASSERT_NE(ThreadOf[job->tag], nullptr);
    ResumeThread(ThreadOf[job->tag]);
}

TEST(ThreadData, RegistrationSetsUpTheRegisteringThreadsSegmentAtOnce)
{
    EnsureSegments();
    EXPECT_GE(PlainOffset, FirstOffset + sizeof(TrackedSegment));
    EXPECT_EQ(SecondOffset, PlainOffset + 12) << "10 bytes take 12";
    TrackedSegment* first = First();
    TrackedSegment* second = Second();
    EXPECT_EQ((char*)second - (char*)first, (ptrdiff_t)(SecondOffset - FirstOffset));
    // Both set-ups ran here on zero-filled memory, in registration order, and
    // what the first wrote survived the block's growth for the second.
    EXPECT_EQ(first->setUpThread, GetCurrentThreadId());
    EXPECT_EQ(second->setUpThread, GetCurrentThreadId());
    EXPECT_TRUE(first->wasZero);
    EXPECT_TRUE(second->wasZero);
    EXPECT_LT(first->setUpSequence, second->setUpSequence);
    EXPECT_TRUE(AllZero(ThreadDataGet(PlainOffset), 10));
}

TEST(ThreadData, ANewThreadGetsItsOwnSetUpBlockAndItIsCleanedUpAfterItEnds)
{
    EnsureSegments();
    int threadsBefore = ProcessThreadCount();
    size_t busyBefore = HeapBusyBlocks(MainHeap);
    Job job = {};
    job.tag = 1;
    StartTagged(&job);
    ASSERT_EQ(WaitForSingleObject(ThreadOf[1], 20000), WAIT_OBJECT_0);

    EXPECT_EQ(job.first, job.firstAgain) << "same thread, same address";
    EXPECT_NE(job.first, First()) << "not the main thread's block";
    EXPECT_EQ((char*)job.second - (char*)job.first, (ptrdiff_t)(SecondOffset - FirstOffset));
    EXPECT_EQ(job.firstSeen.setUpThread, ThreadIdOf[1]);
    EXPECT_TRUE(job.firstSeen.wasZero);
    EXPECT_TRUE(job.secondSeen.wasZero);
    EXPECT_TRUE(job.plainZero);
    EXPECT_LT(job.secondSeen.setUpSequence, job.firstSeen.setUpSequence) << "newest registration set up first";
    EXPECT_EQ(job.setUpsAfterSecondGet, job.setUpsBefore) << "set-ups run once per thread";

    CleanUpRecord& cleaned = CleanUps[1];
    ASSERT_TRUE(PollUntil([&] { return cleaned.firstCount > 0 && cleaned.secondCount > 0; }));
    EXPECT_TRUE(WaitForThreadCount(threadsBefore)) << "the watcher ends when idle";
    EXPECT_EQ(cleaned.firstCount, 1);
    EXPECT_EQ(cleaned.secondCount, 1);
    EXPECT_LT(cleaned.secondSequence, cleaned.firstSequence) << "newest registration cleaned up first";
    EXPECT_EQ(cleaned.firstSegment, job.first);
    EXPECT_TRUE(cleaned.ownerHadEnded);
    EXPECT_NE(cleaned.thread, ThreadIdOf[1]);
    EXPECT_NE(cleaned.thread, GetCurrentThreadId());
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busyBefore) << "block, watcher and notification records freed";
    CloseHandle(ThreadOf[1]);
}

TEST(ThreadData, AHundredThreadsNeedTwoWatchersAndAllAreCleanedUpOnce)
{
    EnsureSegments();
    constexpr int COUNT = 100;
    constexpr int FIRST_TAG = 100;
    int threadsBefore = ProcessThreadCount();
    size_t busyBefore = HeapBusyBlocks(MainHeap);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    volatile LONG ready = 0;
    std::vector<Job> jobs(COUNT);
    for (int i = 0; i < COUNT; ++i) {
        jobs[i].tag = FIRST_TAG + i;
        jobs[i].go = go;
        jobs[i].ready = &ready;
        StartTagged(&jobs[i]);
    }
    ASSERT_TRUE(PollUntil([&] { return ready == COUNT; }));
    // 63 threads fit one watcher (its semaphore is the 64th handle).
    EXPECT_TRUE(WaitForThreadCount(threadsBefore + COUNT + 2)) << ProcessThreadCount() - threadsBefore;
    for (int i = 0; i < COUNT; ++i)
        for (int j = i + 1; j < COUNT; ++j)
            ASSERT_NE(jobs[i].first, jobs[j].first) << i << " and " << j << " share a block";

    SetEvent(go);
    ASSERT_TRUE(PollUntil([&] {
        for (int i = 0; i < COUNT; ++i)
            if (CleanUps[FIRST_TAG + i].firstCount == 0 || CleanUps[FIRST_TAG + i].secondCount == 0)
                return false;
        return true;
    }));
    EXPECT_TRUE(WaitForThreadCount(threadsBefore)) << "both watchers end when idle";
    for (int i = 0; i < COUNT; ++i) {
        int tag = FIRST_TAG + i;
        SCOPED_TRACE(tag);
        EXPECT_EQ(CleanUps[tag].firstCount, 1);
        EXPECT_EQ(CleanUps[tag].secondCount, 1);
        EXPECT_EQ(CleanUps[tag].firstSegment, SegmentSeen[tag]);
        EXPECT_TRUE(CleanUps[tag].ownerHadEnded);
        EXPECT_NE(CleanUps[tag].thread, ThreadIdOf[tag]);
        CloseHandle(ThreadOf[tag]);
    }
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busyBefore) << "every block and record freed";
    CloseHandle(go);
}

// Notifications of one thread, in the order they arrive.
struct Notification {
    intptr_t argument;
    DWORD thread;
    bool ownerHadEnded;
};
Notification Arrived[8];
volatile LONG ArrivedCount;
HANDLE NotifyingThread;

void Record(void* argument)
{
    LONG i = InterlockedIncrement(&ArrivedCount) - 1;
    if (i < 8)
        Arrived[i] = {(intptr_t)argument, GetCurrentThreadId(), WaitForSingleObject(NotifyingThread, 0) == WAIT_OBJECT_0};
}

DWORD WINAPI NotifyThrice(void*)
{
    for (intptr_t i = 1; i <= 3; ++i)
        ThreadExitNotify(Record, (void*)i);
    Sleep(50);  // nothing may run while the thread lives
    return 0;
}

TEST(ThreadExit, SeveralNotificationsOfOneThreadRunNewestFirstAfterItEnds)
{
    int threadsBefore = ProcessThreadCount();
    size_t busyBefore = HeapBusyBlocks(MainHeap);
    NotifyingThread = CreateThread(nullptr, 0, NotifyThrice, nullptr, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(NotifyingThread, nullptr);
    ResumeThread(NotifyingThread);
    ASSERT_TRUE(PollUntil([] { return ArrivedCount >= 3; }));
    EXPECT_TRUE(WaitForThreadCount(threadsBefore));
    ASSERT_EQ(ArrivedCount, 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Arrived[i].argument, 3 - i);
        EXPECT_TRUE(Arrived[i].ownerHadEnded);
        EXPECT_EQ(Arrived[i].thread, Arrived[0].thread) << "one watcher";
    }
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busyBefore);
    CloseHandle(NotifyingThread);
}

}  // namespace
