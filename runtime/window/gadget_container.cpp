// Gadget containers: the window in which the calling thread's new gadgets
// are created, and what each container window remembers of that state.
//
// A window that becomes a container gets a GadgetContainerRecord in its
// property "KX_GadgetStack_<instance handle>" and is subclassed by
// GadgetContainerProc. Switching containers parks the thread's state (current
// container and stack) in the outgoing window's record and loads the incoming
// window's; the stack has exactly one owner at a time, the thread or one
// record. When a container is destroyed its record goes, and if it was the
// current container the thread has none until the next WindowOpen, so a
// gadget can never be created in a dead window.
//
// The property is written for the window system to show, never read back:
// any process can set or remove it. Each record is found by its window on
// the process's own list of live records, so a value someone else put there
// is never read through, and a window whose property was overwritten or
// removed keeps its record, its procedure and its release at WM_NCDESTROY.
//
// What another process can make GadgetContainerProc do: nothing of its own;
// messages go on to the window's procedure. A WM_DESTROY or WM_NCDESTROY
// outside a real destruction of the window (window.h) is swallowed: the
// record and the thread's current container stay.
#include <stdio.h>

#include "runtime/data/list.h"
#include "runtime/process/globals.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

constexpr size_t GADGET_STACK_NAME_SIZE = 48;

// "KX_GadgetStack_%i" with the instance handle's value as a signed decimal.
static void ContainerPropertyName(char* name)
{
#if RUNTIME_PE32
    sprintf(name, "KX_GadgetStack_%i", (int)(intptr_t)InstanceHandle);
#else
    sprintf(name, "KX_GadgetStack_%lld", (long long)(intptr_t)InstanceHandle);
#endif
}

// Every live container record of the process, newest first. Windows of
// several threads may be containers, so the list has a lock of its own.
static ListLinks* ContainerRecords;
static CRITICAL_SECTION ContainerLock;

void GadgetContainerServiceInit() { InitializeCriticalSection(&ContainerLock); }

static GadgetContainerRecord* ContainerRecordOf(HWND window)
{
    if (!window)
        return nullptr;
    GadgetContainerRecord* found = nullptr;
    EnterCriticalSection(&ContainerLock);
    for (ListLinks* links = ContainerRecords; links && !found; links = links->next) {
        auto* record = static_cast<GadgetContainerRecord*>(ListPayloadOf(links));
        if (record->window == window)
            found = record;
    }
    LeaveCriticalSection(&ContainerLock);
    return found;
}

static GadgetContainerRecord* ContainerRecordAdd(HWND window)
{
    EnterCriticalSection(&ContainerLock);
    auto* record = static_cast<GadgetContainerRecord*>(
        ListPushFront(&ContainerRecords, sizeof(ListLinks) + sizeof(GadgetContainerRecord)));
    if (record)
        record->window = window;
    LeaveCriticalSection(&ContainerLock);
    return record;
}

static void ContainerRecordFree(GadgetContainerRecord* record)
{
    EnterCriticalSection(&ContainerLock);
    MainHeapFree(record->savedStack);
    ListRemove(&ContainerRecords, record);
    LeaveCriticalSection(&ContainerLock);
}

static HWND* ContainerStackAlloc()
{
    return static_cast<HWND*>(MainHeapAlloc(GADGET_STACK_CAPACITY * sizeof(HWND)));
}

void GadgetContainerSetUp(void* segment)
{
    auto* s = static_cast<GadgetContainerState*>(segment);
    s->defaultFont = GadgetDefaultGuiFont;
    s->stack = ContainerStackAlloc();
    s->capacity = s->stack ? GADGET_STACK_CAPACITY : 0;
    s->depth = 0;
}

void GadgetContainerCleanUp(void* segment)
{
    auto* s = static_cast<GadgetContainerState*>(segment);
    MainHeapFree(s->stack);
    s->stack = nullptr;
}

static HWND ContainerCurrent(const GadgetContainerState* s)
{
    return s->depth != 0 && s->stack ? s->stack[0] : s->currentContainer;
}

HWND GadgetContainerSet(HWND window)
{
    GadgetContainerState* s = GadgetContainerGet();
    if (!s)
        return nullptr;
    HWND previous = ContainerCurrent(s);
    if (!window)
        return previous;

    if (GadgetContainerRecord* parked = ContainerRecordOf(previous)) {
        MainHeapFree(parked->savedStack);
        parked->savedContainer = s->currentContainer;
        parked->savedStack = s->stack;
        parked->savedDepth = s->depth;
        parked->savedCapacity = s->capacity;
        s->stack = nullptr;
    }

    if (GadgetContainerRecord* record = ContainerRecordOf(window)) {
        MainHeapFree(s->stack);
        s->currentContainer = record->savedContainer;
        s->stack = record->savedStack;
        s->depth = record->savedDepth;
        s->capacity = record->savedCapacity;
        record->savedStack = nullptr;
        return previous;
    }

    if (!s->stack) {
        s->stack = ContainerStackAlloc();
        s->capacity = s->stack ? GADGET_STACK_CAPACITY : 0;
    }
    s->depth = 0;
    s->currentContainer = window;
    if (GadgetContainerRecord* record = ContainerRecordAdd(window)) {
        char name[GADGET_STACK_NAME_SIZE];
        ContainerPropertyName(name);
        // The property only shows the record to the window system; the
        // record is found on the list. A window whose property cannot be set
        // (the desktop's atoms used up by another process) still becomes a
        // container, so that its destruction still clears the current one.
        SetPropA(window, name, record);
        record->previousProcedure =
            (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)GadgetContainerProc);
        if (!record->previousProcedure) {
            // Not subclassed: no destruction would ever free the record.
            RemovePropA(window, name);
            ContainerRecordFree(record);
        }
    }
    return previous;
}

LRESULT CALLBACK GadgetContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (WindowDestroyForged(window, message))
        return 0;
    GadgetContainerRecord* record = ContainerRecordOf(window);
    if (!record) {
        // Without its record the window keeps its class's own procedure, as
        // a window that never became a container: the default procedure
        // alone would take every click and close request away from it.
        auto own = reinterpret_cast<WNDPROC>(GetClassLongPtrA(window, GCLP_WNDPROC));
        if (own && own != GadgetContainerProc)
            return CallWindowProcA(own, window, message, wParam, lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    WNDPROC previous = record->previousProcedure;
    if (message == WM_NCDESTROY) {
        GadgetContainerState* s = GadgetContainerGet();
        if (s && ContainerCurrent(s) == window) {
            s->currentContainer = nullptr;
            s->depth = 0;
        }
        char name[GADGET_STACK_NAME_SIZE];
        ContainerPropertyName(name);
        RemovePropA(window, name);
        ContainerRecordFree(record);
    }
    if (previous)
        return CallWindowProcA(previous, window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}
