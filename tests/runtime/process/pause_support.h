// Counts timeBeginPeriod calls. Pause looks the routine up at run time, so
// the count sits behind this program's import of GetProcAddress: asked for
// "timeBeginPeriod" it hands out the counter, which calls the real routine.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "import_slot.h"

IMPORT_SLOT(GetProcAddress, 8);

struct TimerPeriodCalls {
    std::atomic<int> count;
    std::atomic<UINT> lastPeriod;
};
inline TimerPeriodCalls TimerPeriodCalled;
inline MMRESULT(WINAPI* RealTimeBeginPeriod)(UINT);

inline MMRESULT WINAPI CountingTimeBeginPeriod(UINT period)
{
    ++TimerPeriodCalled.count;
    TimerPeriodCalled.lastPeriod = period;
    return RealTimeBeginPeriod(period);
}

inline FARPROC(WINAPI* RealGetProcAddress)(HMODULE, LPCSTR);

inline FARPROC WINAPI CountingGetProcAddress(HMODULE module, LPCSTR name)
{
    FARPROC found = RealGetProcAddress(module, name);
    if (found && HIWORD((ULONG_PTR)name) != 0 && lstrcmpA(name, "timeBeginPeriod") == 0) {
        RealTimeBeginPeriod = reinterpret_cast<MMRESULT(WINAPI*)(UINT)>(reinterpret_cast<void*>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(CountingTimeBeginPeriod));
    }
    return found;
}

// Installs the counter for the rest of the process.
inline void TimerPeriodCountStart()
{
    RealGetProcAddress = (FARPROC(WINAPI*)(HMODULE, LPCSTR))ImportSlotSwap(
        &__imp_GetProcAddress, (void*)CountingGetProcAddress);
}
