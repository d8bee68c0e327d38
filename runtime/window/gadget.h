// Gadgets: numbered child controls (push buttons) of numbered windows.
//
// A gadget is a Win32 control created in the calling thread's current
// container (the window most recently opened by WindowOpen), whose control
// identifier and "KX_ID" property are its gadget number, and which is
// subclassed by GadgetProc so that its number, properties and queued click
// events go when the control receives WM_NCDESTROY as it is really destroyed
// (see window.h). Behaviour that differs by kind lives in a GadgetKind table
// of optional operations.
#pragma once

#include <stddef.h>

#include "runtime/base.h"
#include "runtime/data/object_table.h"

constexpr int32_t GADGET_KIND_BUTTON = 1;
// Style of every new gadget: WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP.
constexpr DWORD GADGET_STYLE = 0x50030000;
constexpr int32_t GADGET_STACK_CAPACITY = 10;
// Common-control classes registered at start-up: tab, hot-key, date,
// extended combo box and internet (IP address) controls.
constexpr DWORD GADGET_COMMON_CLASSES = 0xB48;

struct GadgetKind;

// One gadget. Zero-filled when allocated; window 0 = no gadget.
struct GadgetRecord {
    HWND window;
    const GadgetKind* kind;
    WNDPROC previousProcedure;  // the control class's procedure, replaced by GadgetProc
};

// The operations of one kind; each may be null (absent).
struct GadgetKind {
    int32_t code;
    LRESULT (*notify)(GadgetRecord* record, HWND parent, UINT message, WPARAM wParam, LPARAM lParam);
    void (*destroy)(GadgetRecord* record);
    intptr_t (*font)(GadgetRecord* record, intptr_t fontHandle);
    intptr_t (*getState)(GadgetRecord* record);
    intptr_t (*setState)(GadgetRecord* record, intptr_t state);
    // Smallest size that shows the control's content; 0 when unknown.
    intptr_t (*requiredSize)(GadgetRecord* record, int32_t* width, int32_t* height);
};

// Per-thread: where new gadgets go and which font they get.
struct GadgetContainerState {
    HWND currentContainer;  // null = no container
    HFONT defaultFont;      // sent to each new gadget
    HWND* stack;            // GADGET_STACK_CAPACITY zero-filled slots (main heap), or null
    int32_t depth;          // 0 in this system
    int32_t capacity;
    HWND auxiliaryWindow;   // destroyed by GadgetServiceEnd; nothing sets it here
};

// Kept in the property "KX_GadgetStack_%i" (instance handle value) of each
// window that has been a container; owned by that window. Found again by
// the window on the process's list of live records, never through the
// property, which any process may overwrite.
struct GadgetContainerRecord {
    HWND window;
    HWND savedContainer;
    HWND* savedStack;  // owned by the record while non-null
    int32_t savedDepth;
    int32_t savedCapacity;
    WNDPROC previousProcedure;  // the window's procedure, replaced by GadgetContainerProc
};

#if RUNTIME_PE32
static_assert(sizeof(GadgetRecord) == 12);
static_assert(sizeof(GadgetContainerState) == 24 && offsetof(GadgetContainerState, depth) == 12);
static_assert(sizeof(GadgetContainerRecord) == 24);
#endif

extern ObjectTable* GadgetTable;
extern HFONT GadgetDefaultGuiFont;
extern GadgetKind ButtonKind;

// Start-up: the gadget lock, the default GUI font, the gadget table, the
// per-thread container segment, the common-control classes.
void GadgetServiceInit();
// Destroys the calling thread's auxiliary window, if one is recorded.
void GadgetServiceEnd();

// Push button in the calling thread's current container: the control's handle
// for a fixed number, the issued number for ANY_NUMBER, 0 on failure (no
// container, no control, or a number the table refuses; no number is then
// taken and no control left behind).
intptr_t ButtonCreate(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const char* text);
// Common to all kinds: records window and kind, subclasses the control, sets
// its identifier and "KX_ID" to the number and sends it the thread's default
// font. The issued number for ANY_NUMBER, else the window handle.
intptr_t GadgetAttach(ObjectNumber number, GadgetRecord* record, HWND window, const GadgetKind* kind);
// fontHandle -1 stands for the default GUI font; ANY_NUMBER sets the thread's
// default gadget font (existing gadgets keep theirs). 0 for a number without
// a gadget.
intptr_t GadgetSetFont(ObjectNumber number, intptr_t fontHandle);
// Destroys the control; its number is released at its WM_NCDESTROY.
// ANY_NUMBER destroys every gadget. 0 for a number without a gadget.
intptr_t GadgetFree(ObjectNumber number);
// GadgetFree as the gadget table's release routine.
void GadgetFreeCallback(ObjectNumber number);

// The lock of the list of container records; run by GadgetServiceInit.
void GadgetContainerServiceInit();
// The calling thread's container state; null only without per-thread data.
GadgetContainerState* GadgetContainerGet();
// Makes window the calling thread's current gadget container and returns the
// previous one; a null window only returns the current one.
HWND GadgetContainerSet(HWND window);

// The kind of the live gadget whose control is window; null for any other
// window.
const GadgetKind* GadgetKindOf(HWND window);
// Passes a parent's message about a control to the control's gadget kind;
// NOT_HANDLED when it is not a gadget or its kind has no handler.
LRESULT GadgetNotify(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK GadgetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK GadgetContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Per-thread set-up and clean-up of GadgetContainerState.
void GadgetContainerSetUp(void* segment);
void GadgetContainerCleanUp(void* segment);
