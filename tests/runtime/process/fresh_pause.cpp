// The first Pause of a process raises the timer resolution through the
// timeBeginPeriod entry looked up at start-up (the counter stands in for
// it); no later pause, on any thread, asks again.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "pause_support.h"
#include "runtime/process/pause.h"
#include "thread_support.h"

TEST(Pause, FirstPauseRaisesTheResolutionOnce)
{
    TimerPeriodCountStart();
    ASSERT_EQ(TimerResolutionRaised, 0);
    ASSERT_NE(RealTimeBeginPeriod, nullptr) << "no timeBeginPeriod in the system folder's winmm.dll";

    LARGE_INTEGER start = ClockNow();
    Pause(50);
    EXPECT_GE(ElapsedMs(start), 40.0) << "did not sleep";
    EXPECT_EQ(TimerPeriodCalled.count, 1);
    EXPECT_EQ(TimerPeriodCalled.lastPeriod, 1u);
    EXPECT_EQ(TimerResolutionRaised, 1);

    Pause(1);
    Pause(0);
    std::vector<std::thread> others;
    for (int i = 0; i < 4; ++i)
        others.emplace_back([] { Pause(5); });
    for (std::thread& other : others)
        other.join();
    EXPECT_EQ(TimerPeriodCalled.count, 1);
    EXPECT_EQ(TimerResolutionRaised, 1);
}
