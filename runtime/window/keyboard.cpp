// Keyboard handling for EventWait and WindowProc: which accelerators apply,
// the focus and accelerator cues, and Tab navigation.
//
// Accelerators are those of the active numbered window of this process,
// except while a writable rich-edit control has the focus and Tab alone is
// down (it takes the Tab itself) or the focus is a gadget that carries
// "KX_Hotkey".
// TabNavigate walks the active window's descendants once, in
// EnumChildWindows order, and remembers just enough (first, last, the
// candidates around the current control) to pick the next focus.
#include <string.h>

#include "runtime/window/event.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

// Rich-edit messages, spelled out to keep the rich-edit headers out.
constexpr UINT KEYBOARD_EM_GETOPTIONS = WM_USER + 78;
constexpr LRESULT KEYBOARD_ECO_READONLY = 0x800;
constexpr WPARAM KEYBOARD_CUES_SHOW = MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL);
constexpr WPARAM KEYBOARD_CUES_HIDE = MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL);
static_assert(KEYBOARD_CUES_SHOW == 0x30002 && KEYBOARD_CUES_HIDE == 0x30001);

static bool KeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

static bool ClassIs(HWND window, const char* name)
{
    char buffer[32];
    return GetClassNameA(window, buffer, sizeof buffer) && strcmp(buffer, name) == 0;
}

static bool FocusIsWritableRichEdit(HWND focus)
{
    char prefix[5];
    if (!GetClassNameA(focus, prefix, sizeof prefix) || strncmp(prefix, "Rich", 4) != 0)
        return false;
    return !(SendMessageA(focus, KEYBOARD_EM_GETOPTIONS, 0, 0) & KEYBOARD_ECO_READONLY);
}

// "KX_Hotkey" marks a gadget that takes its keys itself. Any process can
// set the property on any window; only a gadget of ours that is no push
// button (none takes keys) can carry it as ours.
static bool FocusTakesKeys(HWND focus)
{
    const GadgetKind* kind = GadgetKindOf(focus);
    return kind && kind->code != GADGET_KIND_BUTTON;
}

HACCEL ActiveAccelerators(HWND activeWindow)
{
    HWND focus = GetFocus();
    bool modifier = KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU);
    if (focus && KeyDown(VK_TAB) && !modifier && FocusIsWritableRichEdit(focus))
        return nullptr;
    if (activeWindow && modifier)
        KeyboardCues(activeWindow, true);
    if (focus && GetPropA(focus, "KX_Hotkey") && FocusTakesKeys(focus))
        return nullptr;
    if (!activeWindow)
        return nullptr;
    ObjectNumber number = WindowNumberOf(activeWindow);
    return number == -1 ? nullptr : WindowAccelerators(number);
}

void KeyboardCues(HWND window, bool show)
{
    LRESULT state = SendMessageA(window, WM_QUERYUISTATE, 0, 0);
    LRESULT both = UISF_HIDEFOCUS | UISF_HIDEACCEL;
    if (show) {
        if (state & both)
            SendMessageA(window, WM_CHANGEUISTATE, KEYBOARD_CUES_SHOW, 0);
    } else if ((state & both) != both) {
        SendMessageA(window, WM_CHANGEUISTATE, KEYBOARD_CUES_HIDE, 0);
    }
}

// What one walk over the candidates learns about the current control.
struct TabWalk {
    HWND current;         // the control that has the focus, or null
    HWND first;           // first candidate
    HWND last;            // last candidate
    HWND before;          // last candidate before current
    HWND after;           // first candidate after current
    bool currentIsCandidate;
};

static bool TabCandidate(HWND window)
{
    return IsWindowEnabled(window) && IsWindowVisible(window) &&
           (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP);
}

static BOOL CALLBACK TabWalkStep(HWND window, LPARAM context)
{
    auto* walk = reinterpret_cast<TabWalk*>(context);
    if (!TabCandidate(window))
        return TRUE;
    if (!walk->first)
        walk->first = window;
    if (window == walk->current)
        walk->currentIsCandidate = true;
    else if (walk->currentIsCandidate && !walk->after)
        walk->after = window;
    else if (!walk->currentIsCandidate)
        walk->before = window;
    walk->last = window;
    return TRUE;
}

void TabNavigate(bool backward)
{
    HWND scope = GetActiveWindow();
    if (!scope)
        return;
    HWND focus = GetFocus();
    HWND current = focus && IsChild(scope, focus) ? focus : nullptr;
    // Composite controls count as one stop; an MDI child is its own scope.
    for (HWND ancestor = current ? GetParent(current) : nullptr; ancestor && ancestor != scope;
         ancestor = GetParent(ancestor)) {
        if (ClassIs(ancestor, "MDI_ChildClass")) {
            scope = ancestor;
            break;
        }
        if (ClassIs(ancestor, "SysIPAddress32") ||
            (ClassIs(ancestor, "ComboBoxEx32") && (GetWindowLongA(ancestor, GWL_STYLE) & 0x1)))
            current = ancestor;
    }
    TabWalk walk = {};
    walk.current = current;
    EnumChildWindows(scope, TabWalkStep, reinterpret_cast<LPARAM>(&walk));
    HWND target;
    if (backward)
        target = current && walk.currentIsCandidate && walk.before ? walk.before : walk.last;
    else if (!current)
        target = walk.first;
    else if (!walk.currentIsCandidate)
        target = nullptr;  // a focus outside the tab order stays where it is
    else
        target = walk.after ? walk.after : walk.first;
    if (target)
        SetFocus(target);
}
