// The window procedure of every numbered window.
//
// The window's number is found through "KX_WindowID" on the window or its
// nearest ancestor that has it; before WindowOpen sets the property the
// number is -1 and there is no record, so events are posted with window -1
// and nothing that needs the record (moves, sizes, limits) is done. Each
// handled message is one row of a table: a handler returns the message's
// result, or NOT_HANDLED to pass the message on to DefWindowProcA.
// WM_CLOSE only posts an event: windows are closed by WindowClose alone.
//
// Any process can send or post any of these messages. What one can make a
// handler do (sent ones carry only structures the system copies; queued
// device contexts and timer procedures never reach here, see EventWait):
//   WM_MOVE, WM_SIZE, WM_TIMER, mouse and tray messages: queue an event the
//       program ignores; WM_SIZE also sets the record's sized flag
//   WM_ACTIVATE: focus back to the remembered control of this window, or
//       remember the focus and hide the keyboard cues
//   WM_CLOSE: the user's close request (the program ends, as by Alt+F4)
//   WM_COMMAND: a click or a menu command, or a Tab step, as the user's own
//   WM_ERASEBKGND, WM_SYSCOLORCHANGE, WM_GETMINMAXINFO: paint, pass on, fill
//       in the copy; nothing kept
//   WM_NOTIFY, control messages: passed to a gadget kind only for the
//       gadget's own control (push buttons take none)
//   WM_DESTROY, WM_NCDESTROY: nothing (swallowed unless the window is
//       really going, see window.h)
// Any process can also set or remove the properties read here. A
// "KX_WindowID" that names no open window of this handle, or a "KX_Focus"
// that is no window of this thread inside this one, counts as absent.
#include "runtime/window/window.h"

#include "runtime/window/event.h"
#include "runtime/window/gadget.h"

namespace {

struct WindowMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    ObjectNumber number;    // -1 when not found
    WindowRecord* record;   // null when not found or not open
};

typedef LRESULT (*WindowHandler)(const WindowMessage& m);

struct WindowHandlerRow {
    UINT message;
    WindowHandler handler;
};

}  // namespace

static void Post(const WindowMessage& m, int32_t code, ObjectNumber object, int32_t type = 0)
{
    EventPost(code, object, m.number, type);
}

static bool IsRecordWindow(const WindowMessage& m)
{
    return m.record && m.record->window == m.window;
}

static LRESULT OnMove(const WindowMessage& m)
{
    if (IsRecordWindow(m))
        Post(m, EVT_WINDOW_MOVED, m.number);
    return 0;
}

static LRESULT OnSize(const WindowMessage& m)
{
    // Sizes of windows other than the numbered one itself (and any size
    // before the number is known) are not the window's own.
    if (!IsRecordWindow(m))
        return 1;
    switch (m.wParam) {
    case SIZE_RESTORED:
        if (m.record->sized) {
            m.record->sized = 0;
            Post(m, EVT_WINDOW_RESTORED, 0);
        }
        Post(m, EVT_WINDOW_RESIZED, 0);
        break;
    case SIZE_MINIMIZED:
        m.record->sized = 1;
        Post(m, EVT_WINDOW_MINIMISED, 0);
        break;
    case SIZE_MAXIMIZED:
        m.record->sized = 1;
        Post(m, EVT_WINDOW_MAXIMISED, 0);
        Post(m, EVT_WINDOW_RESIZED, 0);
        break;
    default:
        Post(m, EVT_WINDOW_RESIZED, 0);
        break;
    }
    return 0;
}

// Any process can set "KX_Focus": only this window or a window inside it,
// of this thread, is a focus the window can have had.
static bool FocusIsOwn(HWND window, HWND focus)
{
    if (!focus || (focus != window && !IsChild(window, focus)))
        return false;
    return GetWindowThreadProcessId(focus, nullptr) == GetCurrentThreadId();
}

static LRESULT OnActivate(const WindowMessage& m)
{
    if (LOWORD(m.wParam)) {
        // Back to the control that had the focus when the window lost it.
        auto focus = static_cast<HWND>(GetPropA(m.window, "KX_Focus"));
        if (FocusIsOwn(m.window, focus))
            SetFocus(focus);
        Post(m, EVT_WINDOW_ACTIVATED, 0);
    } else {
        SetPropA(m.window, "KX_Focus", GetFocus());
        KeyboardCues(m.window, false);
        Post(m, EVT_WINDOW_DEACTIVATED, 0);
    }
    return 1;
}

static LRESULT OnClose(const WindowMessage& m)
{
    if (IsRecordWindow(m))
        Post(m, EVT_CLOSE_WINDOW, m.number);
    return 0;
}

static LRESULT OnEraseBackground(const WindowMessage& m)
{
    LRESULT result = NOT_HANDLED;  // the class brush paints
    if (m.record && m.record->backgroundBrush) {
        RECT client;
        if (GetClientRect(m.window, &client))
            FillRect(reinterpret_cast<HDC>(m.wParam), &client, m.record->backgroundBrush);
        result = 1;
    }
    Post(m, EVT_BACKGROUND_ERASED, 0);
    return result;
}

static BOOL CALLBACK ChildSysColorChange(HWND child, LPARAM)
{
    SendMessageA(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

static LRESULT OnSysColorChange(const WindowMessage& m)
{
    // Controls learn of a colour change only from their parent.
    if (m.record)
        EnumChildWindows(m.window, ChildSysColorChange, 0);
    return NOT_HANDLED;
}

static LRESULT OnGetMinMaxInfo(const WindowMessage& m)
{
    if (!m.record || !m.lParam)
        return NOT_HANDLED;
    auto* info = reinterpret_cast<MINMAXINFO*>(m.lParam);
    const WindowRecord& r = *m.record;
    if (r.minimumWidth)
        info->ptMinTrackSize.x = r.minimumWidth;
    else if (GetWindowLongA(m.window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)
        info->ptMinTrackSize.x = 1;
    if (r.minimumHeight)
        info->ptMinTrackSize.y = r.minimumHeight;
    if (r.maximumWidth)
        info->ptMaxTrackSize.x = r.maximumWidth;
    if (r.maximumHeight)
        info->ptMaxTrackSize.y = r.maximumHeight;
    return 0;
}

// Whether size bytes at address lie in committed memory of this process
// that can be read.
static bool MemoryReadable(const void* address, size_t size)
{
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    MEMORY_BASIC_INFORMATION region;
    if (!address || !VirtualQuery(address, &region, sizeof region))
        return false;
    if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD) || !(region.Protect & readable))
        return false;
    auto end = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    return size <= (size_t)(end - static_cast<const char*>(address));
}

// WM_NOTIFY is a control's, sent with a header in this process; but any
// process can post it or send it, with any number as lParam. The header is
// read only where lParam points at readable memory here, and GadgetNotify
// then checks the control it names.
static LRESULT OnNotify(const WindowMessage& m)
{
    auto* header = reinterpret_cast<const NMHDR*>(m.lParam);
    HWND control = MemoryReadable(header, sizeof *header) ? header->hwndFrom : nullptr;
    return GadgetNotify(control, m.window, m.message, m.wParam, m.lParam);
}

static LRESULT OnControlMessage(const WindowMessage& m)
{
    return GadgetNotify(reinterpret_cast<HWND>(m.lParam), m.window, m.message, m.wParam, m.lParam);
}

static LRESULT OnDestroy(const WindowMessage& m)
{
    if (WindowDestroyForged(m.window, m.message))
        return 0;
    if (m.message == WM_DESTROY)
        return NOT_HANDLED;
    RemovePropA(m.window, "KX_Focus");
    return 1;
}

static LRESULT OnCommand(const WindowMessage& m)
{
    auto control = reinterpret_cast<HWND>(m.lParam);
    if (GadgetNotify(control, m.window, m.message, m.wParam, m.lParam) != NOT_HANDLED)
        return 0;
    if (control) {
        // Pointer-wide: an issued gadget number is a record address.
        auto id = (ObjectNumber)GetWindowLongPtrA(control, GWLP_ID);
        if (id == WINDOW_MENU_CONTROL_ID)
            Post(m, EVT_MENU_COMMAND, LOWORD(m.wParam));
        else
            Post(m, EVT_GADGET, id, HIWORD(m.wParam));
    } else if (HIWORD(m.wParam) == 0) {
        Post(m, EVT_MENU_COMMAND, (ObjectNumber)m.wParam);
    } else if (LOWORD(m.wParam) == ACCEL_NEXT_CONTROL) {
        TabNavigate(false);
    } else if (LOWORD(m.wParam) == ACCEL_PREVIOUS_CONTROL) {
        TabNavigate(true);
    } else {
        Post(m, EVT_MENU_COMMAND, LOWORD(m.wParam));
    }
    return 0;
}

static LRESULT OnTimer(const WindowMessage& m)
{
    if (!m.record)
        return NOT_HANDLED;
    Post(m, EVT_TIMER_TICK, (ObjectNumber)m.wParam);
    return 0;
}

static LRESULT OnLeftButtonUp(const WindowMessage& m)
{
    Post(m, EVT_LEFT_BUTTON_UP, 0);
    return 0;
}

static LRESULT OnLeftDoubleClick(const WindowMessage& m)
{
    Post(m, EVT_LEFT_DOUBLE_CLICK, 0);
    return 0;
}

static LRESULT OnRightButtonUp(const WindowMessage& m)
{
    Post(m, EVT_RIGHT_BUTTON_UP, 0);
    return 0;
}

static LRESULT OnTrayIcon(const WindowMessage& m)
{
    static const UINT TRAY_MOUSE_MESSAGES[] = {
        WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK};
    for (int32_t type = 0; type < 4; type++) {
        if ((UINT)m.lParam == TRAY_MOUSE_MESSAGES[type])
            Post(m, EVT_TRAY_ICON, (ObjectNumber)m.wParam, type);
    }
    // Wakes a message loop that is waiting for input to the tray window.
    PostMessageA(m.window, WM_NULL, 0, 0);
    return 0;
}

static const WindowHandlerRow WINDOW_HANDLERS[] = {
    {WM_MOVE, OnMove},
    {WM_SIZE, OnSize},
    {WM_ACTIVATE, OnActivate},
    {WM_CLOSE, OnClose},
    {WM_ERASEBKGND, OnEraseBackground},
    {WM_SYSCOLORCHANGE, OnSysColorChange},
    {WM_GETMINMAXINFO, OnGetMinMaxInfo},
    {WM_NOTIFY, OnNotify},
    {WM_DESTROY, OnDestroy},
    {WM_NCDESTROY, OnDestroy},
    {WM_COMMAND, OnCommand},
    {WM_TIMER, OnTimer},
    {WM_HSCROLL, OnControlMessage},
    {WM_VSCROLL, OnControlMessage},
    {WM_CTLCOLOREDIT, OnControlMessage},
    {WM_CTLCOLORLISTBOX, OnControlMessage},
    {WM_CTLCOLORBTN, OnControlMessage},
    {WM_CTLCOLORSTATIC, OnControlMessage},
    {WINDOW_GADGET_MESSAGE, OnControlMessage},
    {WM_LBUTTONUP, OnLeftButtonUp},
    {WM_LBUTTONDBLCLK, OnLeftDoubleClick},
    {WM_RBUTTONUP, OnRightButtonUp},
    {WINDOW_TRAY_MESSAGE, OnTrayIcon},
};

// The number from the nearest window, starting at window, that carries a
// "KX_WindowID" of its own; -1 when none does.
static ObjectNumber WindowNumberFind(HWND window)
{
    for (HWND w = window; w; w = GetParent(w)) {
        ObjectNumber number = WindowNumberOf(w);
        if (number != -1)
            return number;
    }
    return -1;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    for (const WindowHandlerRow& row : WINDOW_HANDLERS) {
        if (row.message != message)
            continue;
        WindowMessage m = {window, message, wParam, lParam, WindowNumberFind(window), nullptr};
        if (m.number != -1)
            m.record = static_cast<WindowRecord*>(ObjectGet(WindowTable, m.number));
        LRESULT result = row.handler(m);
        if (result != NOT_HANDLED)
            return result;
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
