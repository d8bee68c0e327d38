// The gadget service: the table of gadgets, their subclass procedure and the
// operations common to every kind.
//
// A gadget's number lives from GadgetAttach until its control receives
// WM_NCDESTROY, however the control goes (GadgetFree, a new gadget under the
// same number, or its parent window closing): GadgetProc releases the number
// after the class procedure has run, and drops the gadget's queued clicks.
// GadgetProc trusts the control identifier only as far as the table agrees:
// a control whose identifier names no record of this very control falls back
// to its class's own procedure, so a stray identifier cannot send messages
// through someone else's record.
//
// What another process can make GadgetProc do: every message goes to the
// control's class procedure as it would without us; a close request
// destroys the control by the system's own rule, and its number goes with
// it. A WM_DESTROY or WM_NCDESTROY outside a real destruction of the
// control (window.h) is swallowed, so it neither releases the number nor
// reaches the class procedure.
#include "runtime/base.h"

#include <commctrl.h>

#include "runtime/data/thread_data.h"
#include "runtime/process/globals.h"
#include "runtime/process/system_library.h"
#include "runtime/window/drop_target.h"
#include "runtime/window/event.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

ObjectTable* GadgetTable;
HFONT GadgetDefaultGuiFont;

// Taken by nothing in this system; kept for gadget kinds that share state
// between threads.
static CRITICAL_SECTION GadgetLock;
static uint32_t ContainerSegment;
static bool ContainerReady;

void GadgetServiceInit()
{
    InitializeCriticalSection(&GadgetLock);
    GadgetDefaultGuiFont = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    GadgetTable = ObjectTableCreate(sizeof(GadgetRecord), 50, GadgetFreeCallback);
    GadgetContainerServiceInit();
    ContainerSegment = ThreadDataRegister(sizeof(GadgetContainerState), GadgetContainerSetUp,
                                          GadgetContainerCleanUp);
    ContainerReady = true;
    INITCOMMONCONTROLSEX classes = {};
    classes.dwSize = 8;
    classes.dwICC = GADGET_COMMON_CLASSES;
    if (InitCommonControlsExEntry)
        InitCommonControlsExEntry(&classes);
}

void GadgetServiceEnd()
{
    GadgetContainerState* s = GadgetContainerGet();
    if (s && s->auxiliaryWindow) {
        DestroyWindow(s->auxiliaryWindow);
        s->auxiliaryWindow = nullptr;
    }
}

GadgetContainerState* GadgetContainerGet()
{
    if (!ContainerReady)
        return nullptr;
    return static_cast<GadgetContainerState*>(ThreadDataGet(ContainerSegment));
}

intptr_t GadgetAttach(ObjectNumber number, GadgetRecord* record, HWND window, const GadgetKind* kind)
{
    bool issued = number == ANY_NUMBER;
    if (issued)
        number = (ObjectNumber)record;
    record->window = window;
    record->kind = kind;
    record->previousProcedure =
        (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)GadgetProc);
    SetWindowLongPtrA(window, GWLP_ID, (LONG_PTR)number);
    SetPropA(window, "KX_ID", (HANDLE)number);
    GadgetContainerState* s = GadgetContainerGet();
    SendMessageA(window, WM_SETFONT, (WPARAM)(s ? s->defaultFont : GadgetDefaultGuiFont), TRUE);
    return issued ? (intptr_t)number : (intptr_t)window;
}

// The record of number if it names this very control, else null.
static GadgetRecord* GadgetRecordOf(ObjectNumber number, HWND window)
{
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, number));
    return record && record->window == window ? record : nullptr;
}

LRESULT CALLBACK GadgetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (WindowDestroyForged(window, message))
        return 0;
    auto id = (ObjectNumber)GetWindowLongPtrA(window, GWLP_ID);
    if (id == -1)
        return DefWindowProcA(window, message, wParam, lParam);
    GadgetRecord* record = GadgetRecordOf(id, window);
    WNDPROC previous = record ? record->previousProcedure
                              : (WNDPROC)GetClassLongPtrA(window, GCLP_WNDPROC);
    // The default handling of a close request destroys the control, as
    // really as GadgetFree does.
    WindowDestroyMark closing;
    if (message == WM_CLOSE)
        WindowDestroyMarkEnter(&closing, window);
    LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
    if (message == WM_CLOSE)
        WindowDestroyMarkLeave(&closing);
    if (message != WM_NCDESTROY)
        return result;
    // The class procedure may have released a dynamic record: look again.
    record = GadgetRecordOf(id, window);
    if (!record)
        return result;
    if (record->kind && record->kind->destroy)
        record->kind->destroy(record);
    RemovePropA(window, "KX_ID");
    DropTargetRemove(window);
    SetWindowLongPtrA(window, GWLP_ID, -1);
    EventPurge(EVT_GADGET, id, -1, -1);
    ObjectRelease(GadgetTable, id);
    return result;
}

const GadgetKind* GadgetKindOf(HWND window)
{
    if (!window || !GadgetTable)
        return nullptr;
    GadgetRecord* record =
        GadgetRecordOf((ObjectNumber)GetWindowLongPtrA(window, GWLP_ID), window);
    return record ? record->kind : nullptr;
}

LRESULT GadgetNotify(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!control)
        return NOT_HANDLED;
    // The property is only compared, never read through: a value someone
    // else set makes the control no gadget here, as a missing one does.
    auto id = (ObjectNumber)GetPropA(control, "KX_ID");
    if (id != (ObjectNumber)GetWindowLongPtrA(control, GWLP_ID))
        return NOT_HANDLED;
    // A control that is no gadget can still carry an identifier equal to a
    // gadget's number: only that gadget's own control is passed on.
    GadgetRecord* record = GadgetRecordOf(id, control);
    if (!record || !record->kind || !record->kind->notify)
        return NOT_HANDLED;
    return record->kind->notify(record, parent, message, wParam, lParam);
}

intptr_t GadgetSetFont(ObjectNumber number, intptr_t fontHandle)
{
    HFONT font = fontHandle == -1 ? GadgetDefaultGuiFont : (HFONT)fontHandle;
    if (number == ANY_NUMBER) {
        GadgetContainerState* s = GadgetContainerGet();
        if (!s)
            return 0;
        s->defaultFont = font;
        return 1;
    }
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, number));
    if (!record)
        return 0;
    if (record->kind && record->kind->font)
        return record->kind->font(record, fontHandle);
    SendMessageA(record->window, WM_SETFONT, (WPARAM)font, TRUE);
    return 1;
}

intptr_t GadgetFree(ObjectNumber number)
{
    if (number == ANY_NUMBER) {
        ObjectReleaseAll(GadgetTable);
        return 0;
    }
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, number));
    if (!record)
        return 0;
    if (WindowDestroy(record->window))
        return 1;
    // A control that is already gone never reaches GadgetProc again; its
    // number would stay taken for good.
    if (!IsWindow(record->window)) {
        EventPurge(EVT_GADGET, number, -1, -1);
        ObjectRelease(GadgetTable, number);
    }
    return 0;
}

void GadgetFreeCallback(ObjectNumber number) { GadgetFree(number); }
