// The thread service: threads named by small positive numbers, so that
// callers never hold a Win32 handle.
//
// Numbers are issued from 1 upward in the order of successful creations and
// never reused; 0 stands for a failed creation. A number is listed while its
// record is in ThreadList. Records of ended threads are removed (their handles
// closed) by the next ThreadCreate and by ThreadReleaseAll only. An unlisted
// number and the number of an ended thread answer alike: ThreadIsRunning 0,
// ThreadWait 1 at once, ThreadPriority 0.
//
// A handle found under ThreadLock is used after the lock is left (a wait may
// block for its whole time-out). It stays valid because only ThreadCreate and
// ThreadReleaseAll close handles: those must not run on another thread while a
// query or wait is under way.
#pragma once

#include "runtime/base.h"
#include "runtime/data/list.h"

struct ThreadRecord {
    ListLinks links;  // next (older) and previous (newer) record
    HANDLE handle;    // from CreateThread; the record owns it and closes it on removal
    int32_t number;
};

// The newest record first; null when empty and when the process starts.
extern ListLinks* ThreadList;
// The number the next successful creation takes; 1 in the image, never reset.
extern int32_t NextThreadNumber;
// Guards ThreadList and NextThreadNumber. No other runtime lock is taken
// under it. Initialised by ThreadServiceInit, never deleted.
extern CRITICAL_SECTION ThreadLock;

// Once during start-up, before any other operation of the service.
void ThreadServiceInit();

// Starts routine(parameter) at once (stack commitment 4096 bytes) and returns
// its number. 0 when CreateThread fails, and also when the record cannot be
// allocated: that thread then runs to its end unobserved, its handle closed at
// once. A null routine (a name the symbol table did not know) also gives 0
// and starts nothing: a thread at address 0 would take the process down.
// None of these failures uses up a number or changes the list.
int32_t ThreadCreate(LPTHREAD_START_ROUTINE routine, intptr_t parameter);

// The handle of a listed, still running thread, else null. Removes nothing.
HANDLE ThreadFind(int32_t number);

// 1 when the number is listed and its thread still runs, else 0.
int32_t ThreadIsRunning(int32_t number);

// Waits up to timeout ms (INFINITE: no limit) without holding ThreadLock.
// 1 when the thread ended within it, or is unlisted or already ended; 0 when
// it still runs at the time-out or the wait fails. Removes nothing.
int32_t ThreadWait(int32_t number, uint32_t timeout);

// Levels 1 to 32 over the relative Win32 priorities. level 0 only reads;
// others write (see ThreadPriorityOfLevel). Returns the level before the call,
// 0 when the number is unlisted, its thread has ended, or its Win32 priority
// has no level (THREAD_PRIORITY_IDLE, for one).
int32_t ThreadPriority(int32_t number, int32_t level);

// At shutdown: closes every listed handle and empties the list. Threads are
// neither waited for nor stopped; NextThreadNumber keeps its value.
void ThreadReleaseAll();

// The level of a GetThreadPriority result: -2→1, -1→8, 0→16, 1→24, 2→31,
// 15→32, anything else (idle, the error value) 0.
constexpr int32_t ThreadLevelOfPriority(int priority)
{
    switch (priority) {
    case THREAD_PRIORITY_LOWEST: return 1;
    case THREAD_PRIORITY_BELOW_NORMAL: return 8;
    case THREAD_PRIORITY_NORMAL: return 16;
    case THREAD_PRIORITY_ABOVE_NORMAL: return 24;
    case THREAD_PRIORITY_HIGHEST: return 31;
    case THREAD_PRIORITY_TIME_CRITICAL: return 32;
    default: return 0;
    }
}

// The Win32 priority written for a level other than 0 (level 0 writes
// nothing): 1→-2, 16→0, 31→2, 32→15, any other level below 16 (negative ones
// too) -1, any other above 16 1. Idle is never written; the scale is not
// symmetrical, so 2..15 read back as 8 and 17..30 as 24.
constexpr int ThreadPriorityOfLevel(int32_t level)
{
    switch (level) {
    case 1: return THREAD_PRIORITY_LOWEST;
    case 16: return THREAD_PRIORITY_NORMAL;
    case 31: return THREAD_PRIORITY_HIGHEST;
    case 32: return THREAD_PRIORITY_TIME_CRITICAL;
    default: return level < 16 ? THREAD_PRIORITY_BELOW_NORMAL : THREAD_PRIORITY_ABOVE_NORMAL;
    }
}
