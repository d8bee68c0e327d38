// Thread numbering in a process of its own: the first creation is 1, and
// neither kind of failed creation uses up a number. CreateThread failures
// come from replacing the program's CreateThread import; the record failure
// from a main heap that cannot grow.
#include <gtest/gtest.h>

#include "import_slot.h"
#include "runtime/process/globals.h"
#include "runtime/process/thread.h"
#include "thread_support.h"

IMPORT_SLOT(CreateThread, 24);

namespace {

typedef HANDLE(WINAPI* CreateThreadRoutine)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                            LPVOID, DWORD, LPDWORD);

CreateThreadRoutine RealCreateThread;

struct CreateThreadCall {
    int count;
    LPSECURITY_ATTRIBUTES attributes;
    SIZE_T stackSize;
    DWORD flags;
    HANDLE handle;
    DWORD threadId;
};
CreateThreadCall LastCall;

HANDLE WINAPI FailingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                  DWORD, LPDWORD)
{
    ++LastCall.count;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HANDLE WINAPI RecordingCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                    LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                                    LPDWORD identifier)
{
    HANDLE handle = RealCreateThread(attributes, stackSize, routine, parameter, flags, identifier);
    LastCall = {LastCall.count + 1, attributes, stackSize, flags, handle,
                identifier ? *identifier : 0};
    return handle;
}

// A heap of at most 64 KiB, filled until even one byte no longer fits.
HANDLE FullHeapCreate()
{
    HANDLE heap = HeapCreate(0, 0x10000, 0x10000);
    for (SIZE_T size = 4096; size > 0; size /= 2)
        while (HeapAlloc(heap, 0, size)) {
        }
    return heap;
}

struct StartedThread {
    HANDLE started;  // set by the thread when it runs
    HANDLE go;       // the thread ends when this is set
    HANDLE ended;    // set by the thread just before it returns
};

DWORD WINAPI RoutineReport(LPVOID parameter)
{
    auto* thread = static_cast<StartedThread*>(parameter);
    SetEvent(thread->started);
    WaitForSingleObject(thread->go, INFINITE);
    SetEvent(thread->ended);
    return 0;
}

TEST(ThreadNumbers, FirstIsOneAndFailedCreationsUseNoNumber)
{
    ThreadServiceInit();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(NextThreadNumber, 1);
    RealCreateThread = (CreateThreadRoutine)__imp_CreateThread;

    {
        SCOPED_TRACE("first creation");
        ImportSlotScope hook(&__imp_CreateThread, (void*)RecordingCreateThread);
        EXPECT_EQ(ThreadCreate(RoutineWaitForEvent, (intptr_t)go), 1);
        EXPECT_EQ(LastCall.attributes, nullptr);
        EXPECT_EQ(LastCall.stackSize, 4096u);
        EXPECT_EQ(LastCall.flags, 0u);
    }

    {
        SCOPED_TRACE("CreateThread fails");
        ImportSlotScope hook(&__imp_CreateThread, (void*)FailingCreateThread);
        const int calls = LastCall.count;
        EXPECT_EQ(ThreadCreate(RoutineWaitForEvent, (intptr_t)go), 0);
        EXPECT_EQ(LastCall.count, calls + 1);
        EXPECT_EQ(NextThreadNumber, 2);
        EXPECT_EQ(ListedNumbers(), std::vector<int32_t>{1});
    }

    {
        SCOPED_TRACE("no memory for the record");
        StartedThread thread = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                                CreateEventA(nullptr, TRUE, FALSE, nullptr),
                                CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        HANDLE fullHeap = FullHeapCreate();
        ASSERT_EQ(HeapAlloc(fullHeap, 0, sizeof(ThreadRecord)), nullptr) << "heap not full";
        const HANDLE mainHeap = MainHeap;
        int32_t number;
        {
            ImportSlotScope hook(&__imp_CreateThread, (void*)RecordingCreateThread);
            MainHeap = fullHeap;
            number = ThreadCreate(RoutineReport, (intptr_t)&thread);
            MainHeap = mainHeap;
        }
        EXPECT_EQ(number, 0);
        ASSERT_NE(LastCall.handle, nullptr);
        EXPECT_FALSE(HandleNamesThread(LastCall.handle, LastCall.threadId))
            << "handle of the unlisted thread kept open";
        EXPECT_EQ(NextThreadNumber, 2);
        EXPECT_EQ(ListedNumbers(), std::vector<int32_t>{1});
        // The thread itself runs to its end.
        EXPECT_EQ(WaitForSingleObject(thread.started, 20000), WAIT_OBJECT_0);
        SetEvent(thread.go);
        EXPECT_EQ(WaitForSingleObject(thread.ended, 20000), WAIT_OBJECT_0);
        HeapDestroy(fullHeap);
    }

    {
        SCOPED_TRACE("no routine: a name the symbol table did not know");
        ImportSlotScope hook(&__imp_CreateThread, (void*)RecordingCreateThread);
        const int calls = LastCall.count;
        EXPECT_EQ(ThreadCreate(nullptr, 1), 0);
        EXPECT_EQ(LastCall.count, calls) << "no thread may start at address 0";
        EXPECT_EQ(NextThreadNumber, 2);
    }

    {
        SCOPED_TRACE("next success");
        EXPECT_EQ(ThreadCreate(RoutineWaitForEvent, (intptr_t)go), 2);
        EXPECT_EQ(ListedNumbers(), (std::vector<int32_t>{2, 1}));
    }

    SetEvent(go);
    for (int32_t number : {1, 2})
        EXPECT_EQ(ThreadWait(number, 20000), 1);
    ThreadReleaseAll();
    EXPECT_EQ(NextThreadNumber, 3);
}

}  // namespace
