// CountProcessors on this machine against the affinity masks read directly,
// with the process limited to fewer processors, and with masks that cannot
// be read.
#include <gtest/gtest.h>

#include <bitset>

#include "runtime/process/processors.h"

namespace {

int32_t ReferenceCount(DWORD_PTR mask)
{
    return (int32_t)std::bitset<32>((uint32_t)mask).count();
}

TEST(CountProcessors, MatchesTheAffinityMasks)
{
    DWORD_PTR processMask = 0, systemMask = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask));
    EXPECT_EQ(CountProcessors(0), ReferenceCount(systemMask));
    for (int32_t which : {1, -1, 7, INT32_MIN})
        EXPECT_EQ(CountProcessors(which), ReferenceCount(processMask)) << "which " << which;
    EXPECT_GE(CountProcessors(0), 1);
    EXPECT_LE(CountProcessors(0), 32);
}

TEST(CountProcessors, ProcessMaskFollowsALimitAndSystemMaskDoesNot)
{
    DWORD_PTR processMask = 0, systemMask = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask));
    // The lowest processor this process may use.
    const DWORD_PTR one = processMask & (~processMask + 1);
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), one));
    const int32_t limited = CountProcessors(1);
    const int32_t system = CountProcessors(0);
    SetProcessAffinityMask(GetCurrentProcess(), processMask);
    EXPECT_EQ(limited, 1);
    EXPECT_EQ(system, ReferenceCount(systemMask));
}

TEST(CountProcessors, UnreadableMasksCountAsOne)
{
    HANDLE closed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const struct {
        HANDLE process;
        const char* label;
    } cases[] = {
        {nullptr, "null handle"},
        {closed, "closed handle"},
        {event, "not a process"},
    };
    for (const auto& c : cases) {
        DWORD_PTR processMask, systemMask;
        ASSERT_FALSE(GetProcessAffinityMask(c.process, &processMask, &systemMask)) << c.label;
        EXPECT_EQ(CountProcessorsOf(c.process, 0), 1) << c.label;
        EXPECT_EQ(CountProcessorsOf(c.process, 1), 1) << c.label;
    }
    CloseHandle(event);
}

}  // namespace
