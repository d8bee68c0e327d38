// Pause(0) as the first pause of a process still raises the resolution.
#include <gtest/gtest.h>

#include "pause_support.h"
#include "runtime/process/pause.h"

TEST(Pause, FirstPauseOfZeroRaisesTheResolution)
{
    TimerPeriodCountStart();
    ASSERT_EQ(TimerResolutionRaised, 0);
    Pause(0);
    EXPECT_EQ(TimerPeriodCalled.count, 1);
    EXPECT_EQ(TimerPeriodCalled.lastPeriod, 1u);
    EXPECT_EQ(TimerResolutionRaised, 1);
    Pause(0);
    EXPECT_EQ(TimerPeriodCalled.count, 1);
}
