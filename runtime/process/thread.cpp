// One process-wide list of the threads this service started, newest first,
// in the shared list form. CreateThread runs before ThreadLock is taken; under
// the lock the service only probes handles with zero time-outs, closes them,
// and allocates or frees records, so the lock is never held for long.
//
// A new thread may end before its record exists; the next creation removes it
// like any other ended thread. ThreadFind leaves ended records in place, so
// that only creation and release ever close a handle.
//
// A record that cannot be allocated turns a started thread into a failed
// start: the number would otherwise be unlisted from birth (ThreadIsRunning 0)
// and its handle lost. The handle is closed, the thread runs to its end
// unobserved, and no number is used up, so numbers still follow the
// successful creations.
#include "runtime/process/thread.h"

#include <stddef.h>

ListLinks* ThreadList;
int32_t NextThreadNumber = 1;
CRITICAL_SECTION ThreadLock;

#if RUNTIME_PE32
static_assert(offsetof(ThreadRecord, links) == 0);
static_assert(offsetof(ThreadRecord, handle) == 8);
static_assert(offsetof(ThreadRecord, number) == 12);
static_assert(sizeof(ThreadRecord) == 16);
#endif

static_assert(ThreadLevelOfPriority(-2) == 1 && ThreadLevelOfPriority(-1) == 8 &&
              ThreadLevelOfPriority(0) == 16 && ThreadLevelOfPriority(1) == 24 &&
              ThreadLevelOfPriority(2) == 31 && ThreadLevelOfPriority(15) == 32);
static_assert(ThreadLevelOfPriority(THREAD_PRIORITY_IDLE) == 0 &&
              ThreadLevelOfPriority(THREAD_PRIORITY_ERROR_RETURN) == 0 &&
              ThreadLevelOfPriority(3) == 0 && ThreadLevelOfPriority(-3) == 0);
static_assert(ThreadPriorityOfLevel(1) == -2 && ThreadPriorityOfLevel(16) == 0 &&
              ThreadPriorityOfLevel(31) == 2 && ThreadPriorityOfLevel(32) == 15);
static_assert(ThreadPriorityOfLevel(2) == -1 && ThreadPriorityOfLevel(15) == -1 &&
              ThreadPriorityOfLevel(-3) == -1 && ThreadPriorityOfLevel(INT32_MIN) == -1);
static_assert(ThreadPriorityOfLevel(17) == 1 && ThreadPriorityOfLevel(30) == 1 &&
              ThreadPriorityOfLevel(33) == 1 && ThreadPriorityOfLevel(INT32_MAX) == 1);

static ThreadRecord* ThreadRecordOf(ListLinks* links)
{
    return reinterpret_cast<ThreadRecord*>(links);
}

static bool ThreadHasEnded(HANDLE handle)
{
    // WAIT_FAILED counts as running, both here and in the removal walk.
    return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

void ThreadServiceInit()
{
    InitializeCriticalSection(&ThreadLock);
}

// Under ThreadLock.
static void ThreadRemoveEnded()
{
    ListLinks* links = ThreadList;
    while (links) {
        ThreadRecord* record = ThreadRecordOf(links);
        // Step on before the record is freed.
        links = links->next;
        if (ThreadHasEnded(record->handle)) {
            CloseHandle(record->handle);
            ListRemove(&ThreadList, ListPayloadOf(&record->links));
        }
    }
}

int32_t ThreadCreate(LPTHREAD_START_ROUTINE routine, intptr_t parameter)
{
    if (!routine)
        return 0;
    DWORD identifier;
    HANDLE handle = CreateThread(nullptr, 4096, routine, (LPVOID)parameter, 0, &identifier);
    if (!handle)
        return 0;

    EnterCriticalSection(&ThreadLock);
    ThreadRemoveEnded();
    int32_t number = 0;
    void* payload = ListPushFront(&ThreadList, sizeof(ThreadRecord));
    if (payload) {
        ThreadRecord* record = ThreadRecordOf(ListRecordOf(payload));
        number = NextThreadNumber++;
        record->handle = handle;
        record->number = number;
    }
    LeaveCriticalSection(&ThreadLock);

    if (!payload)
        CloseHandle(handle);
    return number;
}

HANDLE ThreadFind(int32_t number)
{
    HANDLE result = nullptr;
    EnterCriticalSection(&ThreadLock);
    for (ListLinks* links = ThreadList; links; links = links->next) {
        ThreadRecord* record = ThreadRecordOf(links);
        if (record->number == number) {
            if (!ThreadHasEnded(record->handle))
                result = record->handle;
            break;
        }
    }
    LeaveCriticalSection(&ThreadLock);
    return result;
}

int32_t ThreadIsRunning(int32_t number)
{
    HANDLE handle = ThreadFind(number);
    if (!handle)
        return 0;
    // The thread may have ended since the lookup.
    return ThreadHasEnded(handle) ? 0 : 1;
}

int32_t ThreadWait(int32_t number, uint32_t timeout)
{
    HANDLE handle = ThreadFind(number);
    if (!handle)
        return 1;
    return WaitForSingleObject(handle, timeout) == WAIT_OBJECT_0 ? 1 : 0;
}

int32_t ThreadPriority(int32_t number, int32_t level)
{
    // A null handle makes both Win32 calls fail: the answer is 0 and nothing
    // is written.
    HANDLE handle = ThreadFind(number);
    int32_t previous = ThreadLevelOfPriority(GetThreadPriority(handle));
    if (level == 0)
        return previous;
    SetThreadPriority(handle, ThreadPriorityOfLevel(level));
    return previous;
}

void ThreadReleaseAll()
{
    EnterCriticalSection(&ThreadLock);
    while (ThreadList) {
        CloseHandle(ThreadRecordOf(ThreadList)->handle);
        ListRemove(&ThreadList, ListPayloadOf(ThreadList));
    }
    LeaveCriticalSection(&ThreadLock);
}
