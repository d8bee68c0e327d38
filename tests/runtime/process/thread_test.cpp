// The thread service in a shared process: removal of ended threads, the
// answers for unlisted and ended numbers, waits, priority levels and release.
// Numbering from 1 and failed creations are in fresh_thread_numbers.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/process/thread.h"
#include "thread_support.h"

namespace {

// A wait that should return at once must finish far inside this time-out.
constexpr uint32_t LONG_TIMEOUT_MS = 20000;
constexpr double AT_ONCE_MS = 5000;

class ThreadServiceTest : public testing::Test {
protected:
    void SetUp() override
    {
        static bool initialised = false;
        if (!initialised) {
            ThreadServiceInit();
            initialised = true;
        }
        ThreadReleaseAll();
        go_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(go_, nullptr);
    }

    void TearDown() override
    {
        SetEvent(go_);
        for (HANDLE handle : keep_) {
            WaitForSingleObject(handle, INFINITE);
            CloseHandle(handle);
        }
        for (ListLinks* links = ThreadList; links; links = links->next)
            WaitForSingleObject(reinterpret_cast<ThreadRecord*>(links)->handle, INFINITE);
        ThreadReleaseAll();
        CloseHandle(go_);
    }

    // A thread that runs until go_ is set.
    int32_t StartRunning()
    {
        int32_t number = ThreadCreate(RoutineWaitForEvent, (intptr_t)go_);
        EXPECT_NE(number, 0);
        return number;
    }

    // A thread that has ended and is still listed.
    int32_t StartEnded()
    {
        int32_t number = ThreadCreate(RoutineReturn, 0);
        EXPECT_NE(number, 0);
        HANDLE handle = ListedHandle(number);
        EXPECT_NE(handle, nullptr);
        EXPECT_EQ(WaitForSingleObject(handle, LONG_TIMEOUT_MS), WAIT_OBJECT_0);
        return number;
    }

    // A second handle that survives the service closing its own.
    HANDLE Keep(int32_t number)
    {
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), ListedHandle(number), GetCurrentProcess(), &copy,
                        0, FALSE, DUPLICATE_SAME_ACCESS);
        EXPECT_NE(copy, nullptr);
        keep_.push_back(copy);
        return copy;
    }

    // The three answers every unlisted or ended number gives.
    void ExpectAnswersOfNoThread(int32_t number, const std::string& label)
    {
        SCOPED_TRACE(label + ", number " + std::to_string(number));
        EXPECT_EQ(ThreadFind(number), nullptr);
        EXPECT_EQ(ThreadIsRunning(number), 0);
        EXPECT_EQ(ThreadPriority(number, 0), 0);
        EXPECT_EQ(ThreadPriority(number, 32), 0);
        LARGE_INTEGER start = ClockNow();
        EXPECT_EQ(ThreadWait(number, LONG_TIMEOUT_MS), 1);
        EXPECT_LT(ElapsedMs(start), AT_ONCE_MS) << "waited for a thread that is not there";
    }

    HANDLE go_ = nullptr;
    std::vector<HANDLE> keep_;
};

TEST_F(ThreadServiceTest, CreationRemovesEndedThreadsAndClosesTheirHandles)
{
    // Threads oldest first: 'E' ends before the next creation, 'R' runs on.
    const char* const patterns[] = {"", "E", "R", "ERE", "RER", "EEE", "RRE", "ERR"};
    for (const char* pattern : patterns) {
        SCOPED_TRACE(std::string("pattern \"") + pattern + "\"");
        ThreadReleaseAll();
        std::vector<int32_t> numbers;
        std::vector<HANDLE> handles;
        std::vector<DWORD> ids;
        for (const char* p = pattern; *p; ++p) {
            int32_t number = *p == 'E' ? StartEnded() : StartRunning();
            numbers.push_back(number);
            handles.push_back(ListedHandle(number));
            ids.push_back(GetThreadId(handles.back()));
        }
        const int32_t before = NextThreadNumber;
        const int32_t newest = StartRunning();
        EXPECT_EQ(newest, before);

        std::vector<int32_t> expected = {newest};
        for (size_t i = numbers.size(); i-- > 0;)
            if (pattern[i] == 'R')
                expected.push_back(numbers[i]);
        bool linksConsistent = false;
        EXPECT_EQ(ListedNumbers(&linksConsistent), expected);
        EXPECT_TRUE(linksConsistent);
        for (size_t i = 0; i < handles.size(); ++i)
            EXPECT_EQ(HandleNamesThread(handles[i], ids[i]), pattern[i] == 'R')
                << "thread " << numbers[i];
    }
}

TEST_F(ThreadServiceTest, UnlistedAndEndedNumbersGiveTheSameAnswers)
{
    const int32_t ended = StartEnded();
    HANDLE endedHandle = ListedHandle(ended);
    const DWORD endedId = GetThreadId(endedHandle);
    ExpectAnswersOfNoThread(ended, "ended, still listed");
    // The queries leave the record and its handle alone.
    EXPECT_EQ(ListedHandle(ended), endedHandle);
    EXPECT_TRUE(HandleNamesThread(endedHandle, endedId));

    const int32_t removed = StartEnded();
    StartRunning();
    ASSERT_EQ(ListedHandle(removed), nullptr);

    const struct {
        int32_t number;
        const char* label;
    } cases[] = {
        {0, "zero"},
        {-1, "negative"},
        {removed, "ended and removed"},
        {NextThreadNumber, "not yet issued"},
        {INT32_MAX, "never issued"},
    };
    for (const auto& c : cases)
        ExpectAnswersOfNoThread(c.number, c.label);
}

TEST_F(ThreadServiceTest, RunningThreadIsFoundAndRunning)
{
    const int32_t number = StartRunning();
    EXPECT_EQ(ThreadFind(number), ListedHandle(number));
    EXPECT_EQ(ThreadIsRunning(number), 1);
}

TEST_F(ThreadServiceTest, WaitTimesOutOnARunningThreadAndEndsWithTheThread)
{
    const int32_t running = StartRunning();
    LARGE_INTEGER start = ClockNow();
    EXPECT_EQ(ThreadWait(running, 0), 0);
    EXPECT_LT(ElapsedMs(start), AT_ONCE_MS);
    EXPECT_EQ(ThreadWait(running, 50), 0);
    EXPECT_EQ(ThreadIsRunning(running), 1);

    // Ends during the wait, long before the time-out.
    const int32_t sleeper = ThreadCreate(RoutineSleep, 100);
    ASSERT_NE(sleeper, 0);
    HANDLE handle = ListedHandle(sleeper);
    const DWORD id = GetThreadId(handle);
    start = ClockNow();
    EXPECT_EQ(ThreadWait(sleeper, LONG_TIMEOUT_MS), 1);
    EXPECT_LT(ElapsedMs(start), AT_ONCE_MS);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0) << "returned before the thread ended";
    // The wait removes nothing.
    EXPECT_EQ(ListedHandle(sleeper), handle);
    EXPECT_TRUE(HandleNamesThread(handle, id));
    EXPECT_EQ(ThreadWait(sleeper, LONG_TIMEOUT_MS), 1);
}

TEST_F(ThreadServiceTest, PriorityLevelsWriteAndReadThroughBothTables)
{
    const int32_t number = StartRunning();
    HANDLE handle = ListedHandle(number);
    ASSERT_EQ(GetThreadPriority(handle), THREAD_PRIORITY_NORMAL);

    // In order: each step's answer is the level the previous step left.
    const struct {
        int32_t level;
        int written;  // the thread's Win32 priority afterwards
        int32_t read;  // its level afterwards
    } steps[] = {
        {0, THREAD_PRIORITY_NORMAL, 16},
        {32, THREAD_PRIORITY_TIME_CRITICAL, 32},
        {32, THREAD_PRIORITY_TIME_CRITICAL, 32},
        {1, THREAD_PRIORITY_LOWEST, 1},
        {2, THREAD_PRIORITY_BELOW_NORMAL, 8},
        {16, THREAD_PRIORITY_NORMAL, 16},
        {20, THREAD_PRIORITY_ABOVE_NORMAL, 24},
        {31, THREAD_PRIORITY_HIGHEST, 31},
        {40, THREAD_PRIORITY_ABOVE_NORMAL, 24},
        {-3, THREAD_PRIORITY_BELOW_NORMAL, 8},
        {15, THREAD_PRIORITY_BELOW_NORMAL, 8},
        {17, THREAD_PRIORITY_ABOVE_NORMAL, 24},
        {0, THREAD_PRIORITY_ABOVE_NORMAL, 24},
    };
    int32_t previous = 16;
    for (const auto& step : steps) {
        SCOPED_TRACE("level " + std::to_string(step.level));
        EXPECT_EQ(ThreadPriority(number, step.level), previous);
        EXPECT_EQ(GetThreadPriority(handle), step.written);
        EXPECT_EQ(ThreadPriority(number, 0), step.read);
        previous = step.read;
    }

    // Idle has no level and is never written by the service.
    ASSERT_TRUE(SetThreadPriority(handle, THREAD_PRIORITY_IDLE));
    EXPECT_EQ(ThreadPriority(number, 0), 0);
    EXPECT_EQ(GetThreadPriority(handle), THREAD_PRIORITY_IDLE);
    EXPECT_EQ(ThreadPriority(number, 16), 0);
    EXPECT_EQ(GetThreadPriority(handle), THREAD_PRIORITY_NORMAL);
}

TEST_F(ThreadServiceTest, PriorityOfAnEndedThreadWritesNothing)
{
    const int32_t number = StartEnded();
    HANDLE handle = ListedHandle(number);
    const int before = GetThreadPriority(handle);
    EXPECT_EQ(ThreadPriority(number, 32), 0);
    EXPECT_EQ(GetThreadPriority(handle), before);
}

TEST_F(ThreadServiceTest, ReleaseAllClosesHandlesAndLeavesThreadsRunning)
{
    const int32_t first = StartRunning();
    const int32_t ended = StartEnded();
    const int32_t last = StartRunning();
    const HANDLE originals[] = {ListedHandle(first), ListedHandle(ended), ListedHandle(last)};
    DWORD ids[3];
    for (int i = 0; i < 3; ++i)
        ids[i] = GetThreadId(originals[i]);
    const HANDLE firstCopy = Keep(first);
    const HANDLE lastCopy = Keep(last);

    ThreadReleaseAll();

    EXPECT_EQ(ThreadList, nullptr);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(HandleNamesThread(originals[i], ids[i])) << "handle " << i << " kept open";
    EXPECT_EQ(WaitForSingleObject(firstCopy, 0), (DWORD)WAIT_TIMEOUT) << "thread was stopped";
    EXPECT_EQ(WaitForSingleObject(lastCopy, 0), (DWORD)WAIT_TIMEOUT) << "thread was stopped";
    for (int32_t number : {first, ended, last})
        ExpectAnswersOfNoThread(number, "released");

    // Numbering carries on; the released threads still end normally.
    EXPECT_EQ(StartRunning(), last + 1);
    SetEvent(go_);
    EXPECT_EQ(WaitForSingleObject(firstCopy, LONG_TIMEOUT_MS), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(lastCopy, LONG_TIMEOUT_MS), WAIT_OBJECT_0);
}

}  // namespace
