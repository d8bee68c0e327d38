// Thread-exit notifications.
//
// A watcher is a thread waiting on up to 64 handles: its semaphore first,
// then duplicated handles of the threads it watches, each with that thread's
// id and its list of functions (newest first). A new thread to watch goes to
// the first watcher with room, which is woken through its semaphore so that
// it waits again with the longer set; when all are full a new watcher is put
// at the head of the watcher list. When a watched thread ends its watcher
// takes the entry out under the lock (later entries move down) and calls the
// functions outside it, so a function may itself ask for notifications. A
// watcher with nothing left to watch leaves the list and ends; the next
// request makes a new one.
//
// Finding a watched thread by id is safe: the watcher holds a handle to it
// until the entry is gone, and an id is not reused while a handle to its
// thread is open. Entries are only appended by requesters and only removed
// by their own watcher thread, so the index the watcher got from its wait
// still names the same entry when it takes the lock.
#include "runtime/data/thread_exit.h"

#include <windows.h>

#include "runtime/data/list.h"
#include "runtime/process/globals.h"

struct ExitFunction {
    ExitFunction* next;  // the one queued before it
    ThreadExitFunction function;
    void* argument;
};

struct ThreadWatcher {
    DWORD count;                                    // wait handles in use, the semaphore included
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];           // [0] the semaphore, then watched threads
    DWORD threadIds[MAXIMUM_WAIT_OBJECTS];          // id of the thread behind handles[i]
    ExitFunction* functions[MAXIMUM_WAIT_OBJECTS];  // its functions, newest first
};

static ListLinks* ThreadWatchers;  // newest watcher first
static CRITICAL_SECTION ThreadExitLock;
static volatile LONG ThreadExitLockState;  // 0 untouched, 1 initialising, 2 ready

static void ThreadExitLockInit()
{
    LONG seen = InterlockedCompareExchange(&ThreadExitLockState, 1, 0);
    if (seen == 0) {
        InitializeCriticalSection(&ThreadExitLock);
        InterlockedExchange(&ThreadExitLockState, 2);
        return;
    }
    while (ThreadExitLockState != 2)
        Sleep(0);
}

static DWORD WINAPI WatcherRun(void* parameter)
{
    auto* watcher = static_cast<ThreadWatcher*>(parameter);
    HANDLE waitSet[MAXIMUM_WAIT_OBJECTS];
    for (;;) {
        EnterCriticalSection(&ThreadExitLock);
        DWORD count = watcher->count;
        if (count <= 1) {
            CloseHandle(watcher->handles[0]);
            ListRemove(&ThreadWatchers, watcher);
            LeaveCriticalSection(&ThreadExitLock);
            return 0;
        }
        for (DWORD i = 0; i < count; ++i)
            waitSet[i] = watcher->handles[i];
        LeaveCriticalSection(&ThreadExitLock);

        DWORD result = WaitForMultipleObjects(count, waitSet, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0)
            continue;  // a new thread was added
        if (result >= WAIT_OBJECT_0 + count) {
            Sleep(1);  // cannot happen with handles of our own; do not spin
            continue;
        }
        DWORD ended = result - WAIT_OBJECT_0;
        EnterCriticalSection(&ThreadExitLock);
        ExitFunction* functions = watcher->functions[ended];
        CloseHandle(watcher->handles[ended]);
        for (DWORD i = ended + 1; i < watcher->count; ++i) {
            watcher->handles[i - 1] = watcher->handles[i];
            watcher->threadIds[i - 1] = watcher->threadIds[i];
            watcher->functions[i - 1] = watcher->functions[i];
        }
        watcher->count--;
        watcher->handles[watcher->count] = nullptr;
        watcher->threadIds[watcher->count] = 0;
        watcher->functions[watcher->count] = nullptr;
        LeaveCriticalSection(&ThreadExitLock);

        while (functions) {
            ExitFunction* next = functions->next;
            functions->function(functions->argument);
            MainHeapFree(functions);
            functions = next;
        }
    }
}

// Adds a thread to watcher (which has room); the lock is held.
static void WatcherAppend(ThreadWatcher* watcher, HANDLE thread, DWORD threadId, ExitFunction* entry)
{
    DWORD i = watcher->count++;
    watcher->handles[i] = thread;
    watcher->threadIds[i] = threadId;
    watcher->functions[i] = entry;
}

// A new watcher at the head of the list, watching thread; false with
// everything it made released. The lock is held, so the new thread cannot
// look at its record before it is complete.
static bool WatcherStart(HANDLE thread, DWORD threadId, ExitFunction* entry)
{
    auto* watcher = static_cast<ThreadWatcher*>(ListPushFront(&ThreadWatchers, sizeof(ListLinks) + sizeof(ThreadWatcher)));
    if (!watcher)
        return false;
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    if (!semaphore) {
        ListRemove(&ThreadWatchers, watcher);
        return false;
    }
    watcher->handles[0] = semaphore;
    watcher->count = 1;
    WatcherAppend(watcher, thread, threadId, entry);
    HANDLE self = CreateThread(nullptr, 4096, WatcherRun, watcher, 0, nullptr);
    if (!self) {
        CloseHandle(semaphore);
        ListRemove(&ThreadWatchers, watcher);
        return false;
    }
    CloseHandle(self);
    return true;
}

void ThreadExitNotify(ThreadExitFunction function, void* argument)
{
    ThreadExitLockInit();
    auto* entry = static_cast<ExitFunction*>(MainHeapAlloc(sizeof(ExitFunction)));
    if (!entry)
        return;
    entry->function = function;
    entry->argument = argument;
    DWORD threadId = GetCurrentThreadId();

    EnterCriticalSection(&ThreadExitLock);
    for (ListLinks* links = ThreadWatchers; links; links = links->next) {
        auto* watcher = static_cast<ThreadWatcher*>(ListPayloadOf(links));
        for (DWORD i = 1; i < watcher->count; ++i) {
            if (watcher->threadIds[i] == threadId) {
                entry->next = watcher->functions[i];
                watcher->functions[i] = entry;
                LeaveCriticalSection(&ThreadExitLock);
                return;
            }
        }
    }

    HANDLE process = GetCurrentProcess();
    HANDLE thread = nullptr;
    bool registered = false;
    if (DuplicateHandle(process, GetCurrentThread(), process, &thread, SYNCHRONIZE, FALSE, 0)) {
        for (ListLinks* links = ThreadWatchers; links && !registered; links = links->next) {
            auto* watcher = static_cast<ThreadWatcher*>(ListPayloadOf(links));
            if (watcher->count < MAXIMUM_WAIT_OBJECTS) {
                WatcherAppend(watcher, thread, threadId, entry);
                ReleaseSemaphore(watcher->handles[0], 1, nullptr);
                registered = true;
            }
        }
        if (!registered)
            registered = WatcherStart(thread, threadId, entry);
        if (!registered)
            CloseHandle(thread);
    }
    LeaveCriticalSection(&ThreadExitLock);
    if (!registered)
        MainHeapFree(entry);
}
