// Numbered top-level windows.
//
// Each open window has its own class "WindowClass_%d", a record in
// WindowTable, an accelerator table for Tab and Shift+Tab, an optional
// background brush, and the property "KX_WindowID" = number + 1, set last in
// WindowOpen, by which WindowProc finds the number again. WindowProc turns
// the messages the program cares about into events; it never destroys a
// window. Everything here runs on the thread that opened the window.
#pragma once

#include <stddef.h>

#include "runtime/base.h"
#include "runtime/data/object_table.h"

constexpr ObjectNumber WINDOW_MAIN = 2;

constexpr uint32_t WINDOW_CENTRE_SCREEN = 0x1;
constexpr uint32_t WINDOW_CENTRE_PARENT = 0x2;
constexpr uint32_t WINDOW_TOOL_STYLE = 0x4;
constexpr uint32_t WINDOW_NO_CONTAINER = 0x8;
constexpr uint32_t WINDOW_START_MAXIMISED = 0x01000000;
constexpr uint32_t WINDOW_NO_ACTIVATE = 0x02000000;
constexpr uint32_t WINDOW_START_HIDDEN = 0x10000000;
constexpr uint32_t WINDOW_START_MINIMISED = 0x20000000;

// Positions that ask for the system's default placement.
constexpr int32_t WINDOW_DEFAULT_POSITION = -65535;

constexpr WORD ACCEL_NEXT_CONTROL = 64001;
constexpr WORD ACCEL_PREVIOUS_CONTROL = 64002;
constexpr int32_t WINDOW_ACCELERATOR_COUNT = 2;

// Control identifier of controls whose WM_COMMAND is a menu command.
constexpr LONG WINDOW_MENU_CONTROL_ID = -10000;
// Parent notification that goes to the control's gadget kind.
constexpr UINT WINDOW_GADGET_MESSAGE = 13120;
// Notification of a tray icon (lParam holds the mouse message).
constexpr UINT WINDOW_TRAY_MESSAGE = 12501;

// One open window. Zero-filled when allocated; window 0 = no window (the
// object table's alive mark).
struct WindowRecord {
    HWND window;
    ACCEL* acceleratorEntries;  // WINDOW_ACCELERATOR_COUNT entries, main heap
    HACCEL acceleratorTable;
    int32_t acceleratorCount;
    int32_t backgroundColour;   // Win32 colour value, -1 = none
    HBRUSH backgroundBrush;     // solid brush of that colour, or null
    uint16_t minimumWidth;      // tracking limits, 0 = no limit
    uint16_t minimumHeight;
    uint16_t maximumWidth;
    uint16_t maximumHeight;
    int32_t sized;              // 1 while minimised or maximised
};

#if RUNTIME_PE32
static_assert(offsetof(WindowRecord, acceleratorEntries) == 4);
static_assert(offsetof(WindowRecord, acceleratorTable) == 8);
static_assert(offsetof(WindowRecord, acceleratorCount) == 12);
static_assert(offsetof(WindowRecord, backgroundColour) == 16);
static_assert(offsetof(WindowRecord, backgroundBrush) == 20);
static_assert(offsetof(WindowRecord, minimumWidth) == 24);
static_assert(offsetof(WindowRecord, sized) == 32);
#endif

extern ObjectTable* WindowTable;

// Start-up: the window table, class icon and cursor, the per-thread segments.
void WindowServiceInit();
// Closes every open window.
void WindowServiceEnd();

// Opens a window whose client area is innerWidth x innerHeight. title may be
// null. The window handle for a fixed number, the issued number for
// ANY_NUMBER, 0 on failure (nothing is then left behind).
intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t innerWidth,
                    int32_t innerHeight, const char* title, uint32_t flags);
// Sets (colour -1: removes) the background colour and redraws; the same
// colour again changes nothing. 0 when the number holds no window or no
// brush could be made, else 1.
intptr_t WindowSetColor(ObjectNumber number, int32_t colour);
// Closes the window and returns all it holds; ANY_NUMBER closes every
// window. Also the window table's release routine.
void WindowClose(ObjectNumber number);
// DestroyWindow with the window's destruction messages believed (see above).
BOOL WindowDestroy(HWND window);
// A destruction on the calling thread whose messages are believed: entered
// before and left after a call that may destroy window, innermost first.
struct WindowDestroyMark {
    HWND window;
    WindowDestroyMark* outer;
};
void WindowDestroyMarkEnter(WindowDestroyMark* mark, HWND window);
void WindowDestroyMarkLeave(WindowDestroyMark* mark);
// Whether message is WM_DESTROY or WM_NCDESTROY for window outside any
// marked destruction of it: a forgery, to be swallowed.
bool WindowDestroyForged(HWND window, UINT message);
// The number that window's "KX_WindowID" names, if that is an open window
// whose handle is window; -1 otherwise. Any process can set the property:
// a value that names no open window of this handle is someone else's and
// counts as no property.
ObjectNumber WindowNumberOf(HWND window);
// The accelerator table of an open window, or null (used by EventWait).
HACCEL WindowAccelerators(ObjectNumber number);
// EventWait records the wParam and lParam of the message it last dispatched
// (0 and 0 when it returned a queued event) in the calling thread's data.
void WindowLastMessageSet(WPARAM wParam, LPARAM lParam);

// Moves a new window, before it is shown, to the centre of the screen
// (WINDOW_CENTRE_SCREEN) or of parent, or of the active window when parent
// is null (WINDOW_CENTRE_PARENT); the screen when there is neither.
void WindowCentre(HWND window, uint32_t flags, HWND parent);

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
