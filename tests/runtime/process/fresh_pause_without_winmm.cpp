// A first pause on a system without the multimedia library still pauses.
#include <gtest/gtest.h>

#include "import_slot.h"
#include "pause_support.h"
#include "runtime/process/pause.h"
#include "thread_support.h"

IMPORT_SLOT(LoadLibraryA, 4);

static HMODULE(WINAPI* RealLoadLibraryA)(LPCSTR);
static int WinmmAsked;

static HMODULE WINAPI LoadLibraryWithoutWinmm(LPCSTR name)
{
    if (lstrcmpiA(name, "winmm.dll") == 0) {
        ++WinmmAsked;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return RealLoadLibraryA(name);
}

TEST(Pause, WithoutTheMultimediaLibraryStillSleeps)
{
    TimerPeriodCountStart();
    ImportSlotScope hook(&__imp_LoadLibraryA, (void*)LoadLibraryWithoutWinmm);
    RealLoadLibraryA = (HMODULE(WINAPI*)(LPCSTR))hook.previous();

    LARGE_INTEGER start = ClockNow();
    Pause(50);
    EXPECT_GE(ElapsedMs(start), 40.0) << "did not sleep";
    EXPECT_EQ(WinmmAsked, 1);
    EXPECT_EQ(TimerPeriodCalled.count, 0);
    EXPECT_EQ(TimerResolutionRaised, 1) << "asked once, not on every pause";
    Pause(1);
    EXPECT_EQ(WinmmAsked, 1);
}
