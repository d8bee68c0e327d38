// Test helpers that look at the process from outside the code under test:
// how many threads it has (so that watcher threads can be seen to start and
// to end), a poll with a limit, and how many blocks a heap holds.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <functional>

#include "../process/heap_count.h"

inline int ProcessThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

// True as soon as done() holds; false after about limitMs.
inline bool PollUntil(const std::function<bool()>& done, DWORD limitMs = 20000)
{
    for (DWORD waited = 0; waited < limitMs; waited += 5) {
        if (done())
            return true;
        Sleep(5);
    }
    return done();
}

// Waits until the process has exactly count threads; false if it never does.
inline bool WaitForThreadCount(int count)
{
    return PollUntil([count] { return ProcessThreadCount() == count; });
}
