// Numbered windows: opening, colouring and closing.
//
// WindowOpen registers a class per window, creates the window without
// WS_VISIBLE, centres and shows it, and only then sets "KX_WindowID": every
// message handled while the window is being created, placed and shown
// carries no window number, so WindowProc posts those events with -1 and
// leaves the record alone. WindowClose is also the window table's release
// routine; it runs under the table's lock and returns every resource the
// window holds: window, class, accelerators, brush, queued events, record.
// An opening that cannot get its accelerators gives the window up through
// WindowClose, so a failed WindowOpen leaves nothing behind.
#include "runtime/window/window.h"

#include <stdio.h>
#include <string.h>

#include "runtime/data/thread_data.h"
#include "runtime/process/globals.h"
#include "runtime/window/drop_target.h"
#include "runtime/window/event.h"
#include "runtime/window/gadget.h"

ObjectTable* WindowTable;

static HICON ClassIcon;
static HCURSOR ClassCursor;

// First per-thread segment: the message EventWait last dispatched.
struct WindowLastMessage {
    WPARAM wParam;
    LPARAM lParam;
};

// Second per-thread segment: the innermost destruction the thread has
// marked (a pointer-sized slot, as the per-thread layout has it).
struct WindowThreadDestroying {
    WindowDestroyMark* innermost;
};

static uint32_t LastMessageSegment;
static uint32_t DestroyingSegment;
static bool SegmentsRegistered;

static const ACCEL WINDOW_ACCELERATORS[WINDOW_ACCELERATOR_COUNT] = {
    {FVIRTKEY | FNOINVERT, VK_TAB, ACCEL_NEXT_CONTROL},
    {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, ACCEL_PREVIOUS_CONTROL},
};
static_assert(sizeof(WINDOW_ACCELERATORS) == 12);

// Class names are unique per number; in the port an issued number is a
// 64-bit address, so it is printed in full there.
static void WindowClassName(char* buffer, ObjectNumber number)
{
#if RUNTIME_PE32
    sprintf(buffer, "WindowClass_%d", (int)number);
#else
    sprintf(buffer, "WindowClass_%lld", (long long)number);
#endif
}

constexpr size_t WINDOW_CLASS_NAME_SIZE = 40;

void WindowServiceInit()
{
    WindowTable = ObjectTableCreate(sizeof(WindowRecord), 16, WindowClose);
    ClassIcon = LoadIconA(InstanceHandle, MAKEINTRESOURCEA(1));
    ClassCursor = LoadCursorA(nullptr, IDC_ARROW);
    LastMessageSegment = ThreadDataRegister(sizeof(WindowLastMessage), nullptr, nullptr);
    DestroyingSegment = ThreadDataRegister(sizeof(WindowThreadDestroying), nullptr, nullptr);
    SegmentsRegistered = true;
}

void WindowServiceEnd()
{
    ObjectReleaseAll(WindowTable);
}

void WindowLastMessageSet(WPARAM wParam, LPARAM lParam)
{
    if (!SegmentsRegistered)
        return;
    auto* last = static_cast<WindowLastMessage*>(ThreadDataGet(LastMessageSegment));
    if (!last)
        return;
    last->wParam = wParam;
    last->lParam = lParam;
}

static WindowThreadDestroying* Destroying()
{
    if (!SegmentsRegistered)
        return nullptr;
    return static_cast<WindowThreadDestroying*>(ThreadDataGet(DestroyingSegment));
}

void WindowDestroyMarkEnter(WindowDestroyMark* mark, HWND window)
{
    WindowThreadDestroying* d = Destroying();
    mark->window = window;
    mark->outer = d ? d->innermost : nullptr;
    if (d)
        d->innermost = mark;
}

void WindowDestroyMarkLeave(WindowDestroyMark* mark)
{
    WindowThreadDestroying* d = Destroying();
    if (d && d->innermost == mark)
        d->innermost = mark->outer;
}

BOOL WindowDestroy(HWND window)
{
    WindowDestroyMark mark;
    WindowDestroyMarkEnter(&mark, window);
    BOOL destroyed = DestroyWindow(window);
    WindowDestroyMarkLeave(&mark);
    return destroyed;
}

// A child goes with its parent, an owned window with its owner.
static HWND WindowAbove(HWND window)
{
    if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)
        return GetParent(window);
    return GetWindow(window, GW_OWNER);
}

bool WindowDestroyForged(HWND window, UINT message)
{
    if (message != WM_DESTROY && message != WM_NCDESTROY)
        return false;
    WindowThreadDestroying* d = Destroying();
    for (const WindowDestroyMark* mark = d ? d->innermost : nullptr; mark; mark = mark->outer) {
        for (HWND w = window; w; w = WindowAbove(w))
            if (w == mark->window)
                return false;
    }
    return true;
}

static void ClassRegister(const char* className)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = InstanceHandle;
    windowClass.hIcon = ClassIcon;
    windowClass.hCursor = ClassCursor;
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);  // an existing class of this name serves as well
}

// The show command for the final style and whether to activate.
static int ShowCommand(uint32_t style, bool activate)
{
    if (style & WS_MAXIMIZE)
        return activate ? SW_SHOWMAXIMIZED : SW_SHOWNA;
    if (style & WS_MINIMIZE)
        return activate ? SW_SHOWMINIMIZED : SW_SHOWMINNOACTIVE;
    return activate ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE;
}

// Opening with an eighth argument, the owner window; WindowOpen passes null.
static intptr_t WindowOpenOwned(ObjectNumber number, int32_t x, int32_t y, int32_t innerWidth,
                                int32_t innerHeight, const char* title, uint32_t flags,
                                HWND parent)
{
    auto* record = static_cast<WindowRecord*>(ObjectAllocate(WindowTable, number));
    if (!record)
        return 0;
    ObjectNumber issued = number == ANY_NUMBER ? (ObjectNumber)record : number;

    char className[WINDOW_CLASS_NAME_SIZE];
    WindowClassName(className, issued);
    if (!title)
        title = "";
    ClassRegister(className);

    uint32_t style = flags;
    bool container = !(style & WINDOW_NO_CONTAINER);
    style &= ~WINDOW_NO_CONTAINER;
    // Nothing but centring and visibility asked for: a plain captioned window.
    if ((style & 0xEFFFFFFCu) == 0)
        style |= WS_CAPTION;
    bool show = !(style & WINDOW_START_HIDDEN);
    style &= ~WINDOW_START_HIDDEN;
    bool activate = !(style & WINDOW_NO_ACTIVATE);
    DWORD extendedStyle = 0;
    if (style & WINDOW_TOOL_STYLE) {
        // No minimise or maximise, neither as a box nor as a starting state.
        style = (style & 0xDEFCFFFFu) | WS_CAPTION;
        extendedStyle = WS_EX_TOOLWINDOW;
    }

    RECT outer = {0, 0, innerWidth, innerHeight};
    AdjustWindowRectEx(&outer, style & ~0x7u, FALSE, extendedStyle);

    if (x == WINDOW_DEFAULT_POSITION ||
        (y == WINDOW_DEFAULT_POSITION && !(flags & (WINDOW_CENTRE_SCREEN | WINDOW_CENTRE_PARENT)))) {
        x = CW_USEDEFAULT;
        y = CW_USEDEFAULT;
    }

    // 0xFDFFFFF8: the service's own bits and WINDOW_NO_ACTIVATE are not styles.
    HWND window = CreateWindowExA(extendedStyle, className, title, style & 0xFDFFFFF8u, x, y,
                                  outer.right - outer.left, outer.bottom - outer.top, parent,
                                  nullptr, InstanceHandle, nullptr);
    if (!window) {
        UnregisterClassA(className, InstanceHandle);
        ObjectRelease(WindowTable, issued);
        return 0;
    }
    record->window = window;

    if (flags & (WINDOW_CENTRE_SCREEN | WINDOW_CENTRE_PARENT))
        WindowCentre(window, flags, parent);
    if (show)
        ShowWindow(window, ShowCommand(style, activate));

    record->sized = (style & (WS_MINIMIZE | WS_MAXIMIZE)) ? 1 : 0;
    record->acceleratorCount = WINDOW_ACCELERATOR_COUNT;
    record->backgroundColour = -1;
    record->acceleratorEntries = static_cast<ACCEL*>(MainHeapAlloc(sizeof(WINDOW_ACCELERATORS)));
    if (record->acceleratorEntries) {
        memcpy(record->acceleratorEntries, WINDOW_ACCELERATORS, sizeof(WINDOW_ACCELERATORS));
        record->acceleratorTable =
            CreateAcceleratorTableA(record->acceleratorEntries, WINDOW_ACCELERATOR_COUNT);
    }
    if (!record->acceleratorTable) {
        // Without Tab navigation the window is not what was asked for.
        WindowClose(issued);
        return 0;
    }

    if (container)
        GadgetContainerSet(window);
    SetPropA(window, "KX_WindowID", (HANDLE)(issued + 1));
    return number == ANY_NUMBER ? issued : (intptr_t)window;
}

intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t innerWidth,
                    int32_t innerHeight, const char* title, uint32_t flags)
{
    return WindowOpenOwned(number, x, y, innerWidth, innerHeight, title, flags, nullptr);
}

intptr_t WindowSetColor(ObjectNumber number, int32_t colour)
{
    auto* record = static_cast<WindowRecord*>(ObjectGet(WindowTable, number));
    if (!record)
        return 0;
    if (colour == record->backgroundColour)
        return 1;
    if (record->backgroundBrush)
        DeleteObject(record->backgroundBrush);
    record->backgroundBrush = colour == -1 ? nullptr : CreateSolidBrush((COLORREF)colour);
    // Without a brush the class background shows; record that truthfully, so
    // that asking for the colour again tries again.
    bool made = colour == -1 || record->backgroundBrush;
    record->backgroundColour = made ? colour : -1;
    RedrawWindow(record->window, nullptr, nullptr, RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE);
    return made ? 1 : 0;
}

void WindowClose(ObjectNumber number)
{
    if (number == ANY_NUMBER) {
        ObjectReleaseAll(WindowTable);
        return;
    }
    auto* record = static_cast<WindowRecord*>(ObjectGet(WindowTable, number));
    if (!record)
        return;
    HWND window = record->window;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner)
        SetActiveWindow(owner);
    // Without its number the window's last messages touch no record.
    RemovePropA(window, "KX_WindowID");
    DropTargetRemove(window);
    WindowDestroy(window);
    char className[WINDOW_CLASS_NAME_SIZE];
    WindowClassName(className, number);
    UnregisterClassA(className, InstanceHandle);
    if (record->acceleratorEntries) {
        MainHeapFree(record->acceleratorEntries);
        if (record->acceleratorTable)
            DestroyAcceleratorTable(record->acceleratorTable);
    }
    if (record->backgroundBrush)
        DeleteObject(record->backgroundBrush);
    EventPurgeWindow(number);
    EventBindingsPurgeWindow(number);
    ObjectRelease(WindowTable, number);
}

ObjectNumber WindowNumberOf(HWND window)
{
    auto value = reinterpret_cast<uintptr_t>(GetPropA(window, "KX_WindowID"));
    if (!value)
        return -1;
    // Any process can set the value, the most negative number among them:
    // the step back is taken unsigned. The table looks a number up without
    // reading through it.
    auto number = static_cast<ObjectNumber>(value - 1);
    auto* record = static_cast<WindowRecord*>(ObjectGet(WindowTable, number));
    return record && record->window == window ? number : -1;
}

HACCEL WindowAccelerators(ObjectNumber number)
{
    auto* record = static_cast<WindowRecord*>(ObjectGet(WindowTable, number));
    return record ? record->acceleratorTable : nullptr;
}
