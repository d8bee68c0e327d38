// Random window-system messages for the hostile-input runs, shared by the
// sender in a second process (hostile_sender) and the program that builds
// the control window in its own process (hostile_inside).
//
// Numbers, wParam and lParam come from one generator seeded by the caller.
// Draws favour what can hurt: system messages (below WM_USER), the messages
// the window procedure handles, button messages, "KX_PostEventMessage",
// values that are live handles of the targets or addresses inside the image
// of a 64-bit program at its default base (readable in the receiver too).
//
// Messages that carry pointers are learnt from the system itself: those
// PostMessageA refuses with ERROR_MESSAGE_SYNC_ONLY. They are sent with
// pointers to buffers of the sender. In the same process those are valid
// structures; sent from another process the system copies the structures
// it knows how to copy and passes the rest as bare numbers, which mean
// nothing in the receiver. In the same process the pointers and handles the
// system does not know of are valid as well (notification headers, timer
// procedures, device contexts). DDE messages carry a fresh memory block,
// which the system copies from the sender.
//
// WM_DESTROY and WM_NCDESTROY are drawn like any other: the system sends
// them only as a window really goes, and the program must ignore any other.
//
// Left out, because by the system's own rules they end, click, hide or
// freeze the control window and so end the run rather than test it
// (HostileGenerator::Excluded):
//   - WM_CLOSE: to window 2 it is the user's close request (the program
//     exits); to a button or the hidden window DefWindowProcA destroys it;
//   - WM_SYSCOMMAND (close, minimise, maximise, the modal move, size and
//     menu loops, which HOSTILE_MODAL starts on purpose, one at a time) and
//     what DefWindowProcA turns into one: non-client mouse
//     messages (WM_NCMOUSEMOVE to 0x00AD), system keys (WM_SYSKEYDOWN to
//     WM_SYSDEADCHAR), F10 and Alt as plain keys, WM_CONTEXTMENU;
//   - WM_SETREDRAW with FALSE: DefWindowProcA clears WS_VISIBLE, and a
//     window without it is passed over by the pointer;
//   - a click: BM_CLICK, and the presses that a later release turns into a
//     click and that take the mouse capture (WM_LBUTTONDOWN,
//     WM_LBUTTONDBLCLK, Space down) sent to a button, and WM_COMMAND naming
//     a button (exactly what a click sends);
//   - BM_SETSTYLE to a button: it turns the push button into another kind;
//   - the numbers 13100 and 13116: EventWait returns a message with an
//     event's number as that event, and these are the click and the close
//     request the program acts on.
#pragma once

#include <windows.h>
#include <dde.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <random>

enum HostileRole { HOSTILE_WINDOW, HOSTILE_BUTTON, HOSTILE_EVENT_WINDOW };

struct HostileTarget {
    HWND window;
    HostileRole role;
};

constexpr int HOSTILE_TARGETS = 5;  // window 2, buttons 4, 8 and 16, the hidden window

struct HostileMessage {
    int target;  // index into the targets
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool send;
    bool pointer;  // wParam or lParam points at a buffer of the sender
};

constexpr size_t HOSTILE_BUFFER_SIZE = 128 * 1024;  // beyond any size a WORD can ask for

// Buffers the pointer-carrying messages point at: random bytes ending in a
// NUL, and zeros for structures that hold pointers of their own.
struct HostileBuffers {
    unsigned char* random;
    unsigned char* zero;
};

// Whether the control window is still as a user needs it to press the run
// button: window 2 shown and neither minimised nor maximised, the buttons
// there under their numbers, shown, enabled and push buttons, the hidden
// window there, no mouse capture and no modal loop on the window's thread.
// Null when so, else what is wrong. Works from any process.
inline const char* HostileWindowFault(const HostileTarget* targets)
{
    HWND window = targets[0].window;
    if (!IsWindow(window))
        return "window 2 is gone";
    if (!IsWindowVisible(window))
        return "window 2 is not shown";
    if (IsIconic(window) || IsZoomed(window))
        return "window 2 is minimised or maximised";
    static const int ids[] = {4, 8, 16};
    static char what[64];
    for (int i = 1; i <= 3; ++i) {
        HWND b = targets[i].window;
        const char* fault = nullptr;
        if (!IsWindow(b) || GetDlgItem(window, ids[i - 1]) != b)
            fault = "is gone or lost its number";
        else if (!IsWindowVisible(b))
            fault = "is not shown";
        else if (!IsWindowEnabled(b))
            fault = "is disabled";
        else if ((GetWindowLongA(b, GWL_STYLE) & BS_TYPEMASK) != BS_PUSHBUTTON)
            fault = "is no longer a push button";
        if (fault) {
            snprintf(what, sizeof what, "button %d %s", ids[i - 1], fault);
            return what;
        }
    }
    if (!IsWindow(targets[4].window))
        return "the hidden window is gone";
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
        if (info.hwndCapture)
            return "a window holds the mouse capture";
        if (info.flags & (GUI_INMENUMODE | GUI_INMOVESIZE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE))
            return "a modal loop runs";
    }
    return nullptr;
}

// Made-up values that only the system itself should hand over, posted one
// at a time before the random messages. Each of these brought the program
// down once: a notification header read at lParam, a timer procedure called
// at lParam, a device context whose handle carries the metafile type bits
// (0x66 in bits 16 to 22), which some platforms draw on without any lookup.
struct HostileForgedCase {
    const char* what;
    int target;  // index into the targets
    UINT message;
    WPARAM wParam;
    LPARAM lParam;  // HOSTILE_TIMER_PROCEDURE: an address of code in the receiver
    bool send = false;
};

constexpr LPARAM HOSTILE_TIMER_PROCEDURE = -2;
constexpr WPARAM HOSTILE_METAFILE_DC = 0x00660001;

inline const HostileForgedCase HOSTILE_FORGED[] = {
    {"WM_NOTIFY with an unmapped header", 0, WM_NOTIFY, 0, (LPARAM)-4},
    {"WM_NOTIFY with a header in the null page", 0, WM_NOTIFY, 7, 0x10},
    {"WM_TIMER naming code of the receiver", 0, WM_TIMER, 1, HOSTILE_TIMER_PROCEDURE},
    {"WM_TIMER naming code of the receiver, to a button", 1, WM_TIMER, 1, HOSTILE_TIMER_PROCEDURE},
    {"WM_ERASEBKGND with a made-up metafile DC", 0, WM_ERASEBKGND, HOSTILE_METAFILE_DC, 0},
    {"WM_PRINTCLIENT with a made-up metafile DC, to a button", 2, WM_PRINTCLIENT,
     HOSTILE_METAFILE_DC, PRF_CLIENT},
};

// The destruction messages, sent and posted, to each target: they once tore
// down the receiving procedure's records while the window lived on (the
// buttons stopped answering clicks, the window its close request).
inline const HostileForgedCase HOSTILE_LIFECYCLE[] = {
    {"WM_DESTROY sent to window 2", 0, WM_DESTROY, 0, 0, true},
    {"WM_DESTROY posted to window 2", 0, WM_DESTROY, 0, 0},
    {"WM_NCDESTROY sent to window 2", 0, WM_NCDESTROY, 0, 0, true},
    {"WM_NCDESTROY posted to window 2", 0, WM_NCDESTROY, 0, 0},
    {"WM_DESTROY sent to button 4", 1, WM_DESTROY, 0, 0, true},
    {"WM_DESTROY posted to button 4", 1, WM_DESTROY, 0, 0},
    {"WM_NCDESTROY sent to button 4", 1, WM_NCDESTROY, 0, 0, true},
    {"WM_NCDESTROY posted to button 4", 1, WM_NCDESTROY, 0, 0},
    {"WM_DESTROY sent to button 8", 2, WM_DESTROY, 0, 0, true},
    {"WM_DESTROY posted to button 8", 2, WM_DESTROY, 0, 0},
    {"WM_NCDESTROY sent to button 8", 2, WM_NCDESTROY, 0, 0, true},
    {"WM_NCDESTROY posted to button 8", 2, WM_NCDESTROY, 0, 0},
    {"WM_DESTROY sent to button 16", 3, WM_DESTROY, 0, 0, true},
    {"WM_DESTROY posted to button 16", 3, WM_DESTROY, 0, 0},
    {"WM_NCDESTROY sent to button 16", 3, WM_NCDESTROY, 0, 0, true},
    {"WM_NCDESTROY posted to button 16", 3, WM_NCDESTROY, 0, 0},
    {"WM_DESTROY sent to the hidden window", 4, WM_DESTROY, 0, 0, true},
    {"WM_DESTROY posted to the hidden window", 4, WM_DESTROY, 0, 0},
    {"WM_NCDESTROY sent to the hidden window", 4, WM_NCDESTROY, 0, 0, true},
    {"WM_NCDESTROY posted to the hidden window", 4, WM_NCDESTROY, 0, 0},
};

// The system's modal loops, which dispatch the thread's messages themselves:
// a system command posted to window 2 makes the default procedure run one,
// then a forged WM_TIMER waits behind it, then Escape ends the loop. The
// timer names kernel32's ExitProcess, which lies at the same address in
// every process: a loop that dispatches it ends the program with the low
// byte of the window's handle as exit code, as one once did. A posted move
// or size command starts a loop in Wine on a display without a window
// manager; with one, only while a mouse button is held. (A menu loop cannot
// be started so: window 2 has neither a menu nor a system menu.)
struct HostileModalCase {
    const char* what;
    WPARAM command;
};

inline const HostileModalCase HOSTILE_MODAL[] = {
    {"WM_TIMER naming ExitProcess behind SC_MOVE, in the move loop", SC_MOVE},
    {"WM_TIMER naming ExitProcess behind SC_SIZE, in the size loop", SC_SIZE},
};

// Window properties from a second process: each name the program reads, on
// each target in turn, set to one kind of value or removed, each followed by
// messages that make the program read it (HostilePropertyReaders). The
// container property's name carries the receiver's instance handle.
// Treating such a value as its own once crashed the program (a container
// record read at 0x41414141).
enum HostilePropertyValue {
    HOSTILE_PROPERTY_WILD,       // an address mapped nowhere
    HOSTILE_PROPERTY_SMALL,      // a small integer
    HOSTILE_PROPERTY_MINUS_ONE,
    HOSTILE_PROPERTY_HANDLE,     // the previous target's window handle
    HOSTILE_PROPERTY_SWAP,       // exchanged with the next target's value
    HOSTILE_PROPERTY_REMOVE,
};

struct HostilePropertyCase {
    const char* what;
    HostilePropertyValue value;
};

inline const HostilePropertyCase HOSTILE_PROPERTIES[] = {
    {"a wild address", HOSTILE_PROPERTY_WILD},
    {"a small integer", HOSTILE_PROPERTY_SMALL},
    {"-1", HOSTILE_PROPERTY_MINUS_ONE},
    {"another of its windows' handles", HOSTILE_PROPERTY_HANDLE},
    {"the next window's own value, swapped", HOSTILE_PROPERTY_SWAP},
    {"removed", HOSTILE_PROPERTY_REMOVE},
};

constexpr int HOSTILE_PROPERTY_NAMES = 5;

// The names the program reads, the container's first (its instance handle
// as a signed decimal, as the receiver formats it).
struct HostilePropertyNames {
    char name[HOSTILE_PROPERTY_NAMES][48];
};

inline HostilePropertyNames HostilePropertyNamesOf(HWND window)
{
    HostilePropertyNames n = {};
    auto instance = (intptr_t)GetWindowLongPtrA(window, GWLP_HINSTANCE);
    snprintf(n.name[0], sizeof n.name[0], "KX_GadgetStack_%lld", (long long)instance);
    const char* const others[] = {"KX_WindowID", "KX_ID", "KX_Focus", "KX_Hotkey"};
    for (int i = 1; i < HOSTILE_PROPERTY_NAMES; ++i)
        snprintf(n.name[i], sizeof n.name[i], "%s", others[i - 1]);
    return n;
}

// Sets (or removes) one property of target i as the case asks.
inline void HostilePropertyForge(const HostileTarget* targets, int i, const char* name,
                                 HostilePropertyValue value)
{
    HWND target = targets[i].window;
    HWND previous = targets[(i + HOSTILE_TARGETS - 1) % HOSTILE_TARGETS].window;
    HWND next = targets[(i + 1) % HOSTILE_TARGETS].window;
    auto put = [name](HWND w, HANDLE v) {
        if (v)
            SetPropA(w, name, v);
        else
            RemovePropA(w, name);
    };
    switch (value) {
    case HOSTILE_PROPERTY_WILD: put(target, (HANDLE)(uintptr_t)0x41414141); break;
    case HOSTILE_PROPERTY_SMALL: put(target, (HANDLE)2); break;
    case HOSTILE_PROPERTY_MINUS_ONE: put(target, (HANDLE)-1); break;
    case HOSTILE_PROPERTY_HANDLE: put(target, previous); break;
    case HOSTILE_PROPERTY_SWAP: {
        HANDLE mine = GetPropA(target, name), theirs = GetPropA(next, name);
        put(target, theirs);
        put(next, mine);
        break;
    }
    case HOSTILE_PROPERTY_REMOVE: RemovePropA(target, name); break;
    }
}

// Harmless messages after a property of target i changed, each making the
// program read one: WM_NULL through the target's procedures (the
// container's), WM_MOVE and WM_ACTIVATE to window 2 (its number and its
// remembered focus), a button colour request naming the target (its gadget
// number); the posted WM_NULL passes the message loop's accelerator choice
// (the focus's hot-key mark).
inline void HostilePropertyReaders(const HostileTarget* targets, int i)
{
    DWORD_PTR result;
    HWND window = targets[0].window;
    SendMessageTimeoutA(targets[i].window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    SendMessageTimeoutA(window, WM_MOVE, 0, 0, SMTO_NORMAL, 5000, &result);
    SendMessageTimeoutA(window, WM_ACTIVATE, WA_ACTIVE, 0, SMTO_NORMAL, 5000, &result);
    SendMessageTimeoutA(window, WM_CTLCOLORBTN, 0, (LPARAM)targets[i].window, SMTO_NORMAL, 5000,
                        &result);
    PostMessageA(window, WM_NULL, 0, 0);
}

// The drop-target mark the program removes as its windows go, with ole32's
// registration properties beside it (Wine's names and Windows' own), all set
// to an address mapped nowhere: a destruction that trusted the mark would
// hand these to the system's revoke.
inline void HostileDropTargetForge(const HostileTarget* targets)
{
    const char* const names[] = {"KX_DropAccept", "OleDropTargetInterface", "WineMarshalledDropTarget",
                                 "OleDropTargetMarshalHwnd"};
    for (int i = 0; i < HOSTILE_TARGETS; ++i)
        for (const char* name : names)
            SetPropA(targets[i].window, name, (HANDLE)(uintptr_t)0x41414141);
}

// Window 2's and the buttons' texts as their procedures answer WM_GETTEXT
// (the default procedure drops them at a WM_NCDESTROY).
struct HostileTexts {
    char text[4][64];
};

inline HostileTexts HostileTextsRead(const HostileTarget* targets)
{
    HostileTexts t = {};
    for (int i = 0; i < 4; ++i)
        SendMessageTimeoutA(targets[i].window, WM_GETTEXT, sizeof t.text[i], (LPARAM)t.text[i],
                            SMTO_NORMAL, 5000, nullptr);
    return t;
}

// After one forged case: the window's fault, if any, else whether a text was
// lost against the texts read before the cases began.
inline const char* HostileCaseFault(const HostileTarget* targets, const HostileTexts& before)
{
    if (const char* fault = HostileWindowFault(targets))
        return fault;
    HostileTexts now = HostileTextsRead(targets);
    return memcmp(&now, &before, sizeof now) != 0 ? "a text is gone" : nullptr;
}

class HostileGenerator {
public:
    // timerProcedure: null when the messages go to another process; else
    // the address that WM_TIMER carries half of the time in this one.
    HostileGenerator(uint64_t seed, const HostileTarget* targets, UINT postEventMessage,
                     const HostileBuffers& buffers, TIMERPROC timerProcedure)
        : random_(seed), targets_(targets), postEventMessage_(postEventMessage), buffers_(buffers),
          timerProcedure_(timerProcedure)
    {
        for (size_t i = 0; i < HOSTILE_BUFFER_SIZE; ++i)
            buffers_.random[i] = (unsigned char)random_();
        buffers_.random[HOSTILE_BUFFER_SIZE - 1] = 0;
        memset(buffers_.zero, 0, HOSTILE_BUFFER_SIZE);
    }

    // Asks the system which messages below WM_USER carry pointers, through
    // a window of the calling thread (whatever the refusals leave queued is
    // removed again).
    void PointerMessagesLearn(HWND own)
    {
        for (UINT m = 0; m < WM_USER; ++m) {
            for (WPARAM w : {(WPARAM)0, (WPARAM)0x8000, (WPARAM)0xFFFF}) {
                SetLastError(0);
                if (!PostMessageA(own, m, w, 0) && GetLastError() == ERROR_MESSAGE_SYNC_ONLY)
                    pointerMessage_[m] = true;
            }
        }
        MSG msg;
        while (PeekMessageA(&msg, own, 0, 0, PM_REMOVE)) {
        }
    }

    bool PointerMessage(UINT message) const
    {
        return message < WM_USER && pointerMessage_[message];
    }

    HostileMessage Next()
    {
        HostileMessage m = {};
        m.target = (int)(random_() % HOSTILE_TARGETS);
        m.message = Message();
        m.wParam = (WPARAM)Value();
        m.lParam = (LPARAM)Value();
        m.send = random_() & 1;
        if (m.message == WM_KEYDOWN || m.message == WM_KEYUP || m.message == WM_CHAR) {
            static const WPARAM keys[] = {VK_TAB, VK_SPACE, VK_RETURN, VK_ESCAPE, VK_SHIFT};
            if (random_() & 1)
                m.wParam = keys[random_() % 5];
        }
        if (m.message < WM_USER && pointerMessage_[m.message])
            PointTo(m);
        if (timerProcedure_)
            SameProcessPointers(m);
        if (m.message >= WM_DDE_FIRST && m.message <= WM_DDE_LAST) {
            // The system copies a DDE message's memory block from the
            // sender: a fresh block of random bytes (the receiver owns it).
            HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 64);
            if (void* bytes = GlobalLock(block)) {
                memcpy(bytes, buffers_.random + (random_() % 1024), 64);
                GlobalUnlock(block);
            }
            m.lParam = (LPARAM)block;
        }
        return m;
    }

    // Why m is left out (see the head of this file), or null.
    const char* Excluded(const HostileMessage& m) const
    {
        HostileRole role = targets_[m.target].role;
        if (m.message == 13100 || m.message == 13116)
            return "event number";
        switch (m.message) {
        case WM_CLOSE:
            return "close";
        case WM_SYSCOMMAND:
        case WM_CONTEXTMENU:
            return "system command";
        case WM_SETREDRAW:
            return m.wParam ? nullptr : "drawing off";
        case WM_COMMAND:
            for (int i = 0; i < HOSTILE_TARGETS; ++i)
                if (targets_[i].role == HOSTILE_BUTTON && SameWindow(m.lParam, targets_[i].window))
                    return "click";
            return nullptr;
        case WM_KEYDOWN:
        case WM_KEYUP:
            if (m.wParam == VK_F10 || m.wParam == VK_MENU)
                return "system command";
            break;
        default:
            break;
        }
        if ((m.message >= WM_NCMOUSEMOVE && m.message <= 0x00AD) ||
            (m.message >= WM_SYSKEYDOWN && m.message <= WM_SYSDEADCHAR))
            return "system command";
        if (role != HOSTILE_BUTTON)
            return nullptr;
        if (m.message == BM_CLICK || m.message == WM_LBUTTONDOWN || m.message == WM_LBUTTONDBLCLK ||
            (m.message == WM_KEYDOWN && m.wParam == VK_SPACE))
            return "click";
        if (m.message == BM_SETSTYLE)
            return "button kind";
        return nullptr;
    }

private:
    // A window handle names its window by the low word of its low 32 bits;
    // the high word may also be 0 or 0xFFFF.
    static bool SameWindow(LPARAM value, HWND window)
    {
        auto v = (uint32_t)value, w = (uint32_t)(uintptr_t)window;
        return LOWORD(v) == LOWORD(w) &&
               (HIWORD(v) == HIWORD(w) || HIWORD(v) == 0 || HIWORD(v) == 0xFFFF);
    }

    UINT Message()
    {
        // The messages the window procedure and the hidden window handle,
        // and a few whose default handling reaches far.
        static const UINT interesting[] = {
            WM_MOVE, WM_SIZE, WM_ACTIVATE, WM_ERASEBKGND, WM_SYSCOLORCHANGE, WM_GETMINMAXINFO,
            WM_NOTIFY, WM_COMMAND, WM_COMMAND, WM_COMMAND, WM_TIMER, 0x0118 /* WM_SYSTIMER */,
            WM_HSCROLL, WM_VSCROLL, WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX, WM_CTLCOLORBTN,
            WM_CTLCOLORSTATIC, 13120 /* gadget message */, 12501 /* tray icon */, WM_LBUTTONUP,
            WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_QUIT, WM_ENDSESSION,
            WM_QUERYENDSESSION, WM_SETFONT, WM_PAINT, WM_PRINTCLIENT, WM_SETREDRAW, WM_CANCELMODE,
            WM_SETFOCUS, WM_KILLFOCUS, WM_CHANGEUISTATE, WM_UPDATEUISTATE, WM_QUERYUISTATE,
            BM_SETSTATE, WM_MOUSEMOVE, WM_SETCURSOR, WM_NCHITTEST, WM_ENABLE, WM_SHOWWINDOW,
            WM_NCPAINT, WM_NCACTIVATE, WM_ACTIVATEAPP, WM_DEVICECHANGE, WM_SETTEXT, WM_GETTEXT,
            WM_DRAWITEM, WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_NCCALCSIZE,
        };
        switch (random_() % 20) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7:
            return (UINT)(random_() % WM_USER);
        case 8: case 9:
            return (UINT)(0xF0 + random_() % 16);  // button messages
        case 10:
            return postEventMessage_;
        case 11:
            return (UINT)(WM_USER + random_() % (0x8000 - WM_USER));
        case 12:
            return (UINT)(0xC000 + random_() % 0x4000);  // registered messages
        case 13:
            return (UINT)random_();
        default:
            return interesting[random_() % (sizeof interesting / sizeof interesting[0])];
        }
    }

    uint64_t Value()
    {
        switch (random_() % 10) {
        case 0: return 0;
        case 1: return random_() % 16;
        case 2: return (uint64_t)-1 - random_() % 4;
        case 3: return random_() & 0xFFFF;
        case 4: return random_() & 0xFFFFFFFF;
        case 5: return random_();
        case 6: return (uint64_t)(uintptr_t)targets_[random_() % HOSTILE_TARGETS].window;
        case 7: return 0x140000000ull + (random_() & 0xFFFF8);  // a 64-bit image's default base
        case 8: return (uint64_t)(int64_t)(int32_t)(0x80000000u | (uint32_t)random_());
        default:  // a point, signed 16-bit coordinates around the client area
            return (uint64_t)(uint32_t)MAKELONG((short)(random_() % 400 - 50),
                                                (short)(random_() % 300 - 50));
        }
    }

    // Pointers into the sender's buffers; sizes kept within them. The zero
    // buffer is cleared again for every use: a receiver may write into it.
    void PointTo(HostileMessage& m)
    {
        m.pointer = true;
        size_t offset = (random_() % 64) * 16;
        unsigned char* at = buffers_.random + offset;
        switch (m.message) {
        case WM_CREATE:
        case WM_NCCREATE:
        case WM_COPYDATA:
        case WM_MDICREATE:
        case WM_NCCALCSIZE:
            memset(buffers_.zero, 0, 4096);
            at = buffers_.zero + offset;
            if (m.message == WM_NCCALCSIZE)  // rgrc[3], then the WINDOWPOS it points at
                reinterpret_cast<NCCALCSIZE_PARAMS*>(at)->lppos =
                    reinterpret_cast<WINDOWPOS*>(buffers_.zero + 2048);
            break;
        default:
            break;
        }
        m.lParam = (LPARAM)at;
        // wParam is a count, a size or a flag (the system sizes its copies by
        // it), except for the three that return a pair through two pointers.
        bool pair =
            m.message == EM_GETSEL || m.message == SBM_GETRANGE || m.message == CB_GETEDITSEL;
        m.wParam = pair ? (WPARAM)(buffers_.random + 2048 + offset) : (WPARAM)(random_() % 256);
    }

    // In the same process, the pointers the system does not know of are
    // valid too: a notification header naming a target or nothing, a timer
    // procedure or none. So are device contexts, which some platforms use as
    // pointers: a memory DC of this process or none.
    void SameProcessPointers(HostileMessage& m)
    {
        bool deviceContext = m.message == WM_PAINT || m.message == WM_ERASEBKGND ||
                             m.message == WM_ICONERASEBKGND || m.message == WM_PRINT ||
                             m.message == WM_PRINTCLIENT ||
                             (m.message >= WM_CTLCOLORMSGBOX && m.message <= WM_CTLCOLORSTATIC);
        if (deviceContext) {
            if (!memoryDc_)
                memoryDc_ = CreateCompatibleDC(nullptr);
            m.wParam = random_() & 1 ? (WPARAM)memoryDc_ : 0;
            m.pointer = true;
        } else if (m.message == WM_NOTIFY) {
            auto* header = reinterpret_cast<NMHDR*>(buffers_.random + (random_() % 64) * 16);
            header->hwndFrom = random_() & 1 ? targets_[random_() % HOSTILE_TARGETS].window
                                             : (HWND)(uintptr_t)random_();
            header->idFrom = (UINT_PTR)Value();
            header->code = (UINT)random_();
            m.lParam = (LPARAM)header;
            m.pointer = true;
        } else if (m.message == WM_TIMER) {
            m.lParam = random_() & 1 ? (LPARAM)timerProcedure_ : 0;
            m.pointer = true;
        }
    }

    std::mt19937_64 random_;
    const HostileTarget* targets_;
    UINT postEventMessage_;
    HostileBuffers buffers_;
    TIMERPROC timerProcedure_;
    HDC memoryDc_ = nullptr;
    bool pointerMessage_[WM_USER] = {};
};
