// Thread routines and list inspection shared by the thread-service tests.
#pragma once

#include <windows.h>

#include <vector>

#include "runtime/process/thread.h"

// Returns at once.
inline DWORD WINAPI RoutineReturn(LPVOID)
{
    return 0;
}

// Runs until the event given as parameter is set.
inline DWORD WINAPI RoutineWaitForEvent(LPVOID event)
{
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

// Sleeps the number of milliseconds given as parameter.
inline DWORD WINAPI RoutineSleep(LPVOID milliseconds)
{
    Sleep((DWORD)(uintptr_t)milliseconds);
    return 0;
}

// The thread numbers in list order (newest first), checking every back link
// on the way.
inline std::vector<int32_t> ListedNumbers(bool* linksConsistent = nullptr)
{
    std::vector<int32_t> numbers;
    bool consistent = !ThreadList || ThreadList->previous == nullptr;
    for (ListLinks* links = ThreadList; links; links = links->next) {
        numbers.push_back(reinterpret_cast<ThreadRecord*>(links)->number);
        if (links->next && links->next->previous != links)
            consistent = false;
    }
    if (linksConsistent)
        *linksConsistent = consistent;
    return numbers;
}

// The handle of a listed number, read straight from the list; null if unlisted.
inline HANDLE ListedHandle(int32_t number)
{
    for (ListLinks* links = ThreadList; links; links = links->next) {
        auto* record = reinterpret_cast<ThreadRecord*>(links);
        if (record->number == number)
            return record->handle;
    }
    return nullptr;
}

// Whether handle still names the thread with this identifier. A closed
// handle's value may be reused at once (a starting thread opens handles of its
// own), so "closed" is tested as "no longer names that thread".
inline bool HandleNamesThread(HANDLE handle, DWORD threadId)
{
    DWORD flags;
    return GetHandleInformation(handle, &flags) != 0 && GetThreadId(handle) == threadId;
}

// Milliseconds elapsed on a monotonic clock, for "returns at once" checks
// with generous bounds.
inline double ElapsedMs(LARGE_INTEGER since)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - since.QuadPart) * 1000.0 / frequency.QuadPart;
}

inline LARGE_INTEGER ClockNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}
