// Random window-system messages for robustness runs: numbers, wParam and
// lParam drawn from a fixed seed, sent and posted to a set of targets.
//
// Random numbers are kept to what a well-behaved sender could deliver:
// messages that carry pointers get a valid structure or are left out,
// lifecycle messages only the system sends (creation, destruction) are left
// out, and so are those whose default handling starts a modal loop (moving,
// sizing, menus) or destroys the target (WM_CLOSE to a control or to the
// hidden window goes through DefWindowProcA). Every "KX_PostEventMessage"
// draw carries a random lParam: that message is the point of the exercise.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <random>
#include <vector>

struct FuzzTarget {
    HWND window;
    bool ownsWmClose;  // its procedure handles WM_CLOSE without destroying
};

struct FuzzCounts {
    int sent;
    int posted;
};

inline bool FuzzExcluded(UINT message)
{
    static const UINT excluded[] = {
        WM_CREATE, WM_DESTROY, WM_NCCREATE, WM_NCDESTROY, WM_NCCALCSIZE,
        WM_SETTEXT, WM_GETTEXT,  // WM_GETTEXT only with a real buffer below
        WM_WININICHANGE, WM_DEVMODECHANGE, WM_GETMINMAXINFO, WM_DRAWITEM, WM_MEASUREITEM,
        WM_DELETEITEM, WM_COMPAREITEM, WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_COPYDATA,
        WM_NOTIFY, WM_HELP, WM_STYLECHANGING, WM_STYLECHANGED, WM_CONTEXTMENU, WM_SYSCOMMAND,
        WM_TIMER, 0x0118 /* WM_SYSTIMER */, WM_SIZING, WM_MOVING, WM_NEXTMENU, WM_MDICREATE,
        WM_MDIGETACTIVE, WM_ASKCBFORMATNAME, WM_PAINTCLIPBOARD, WM_SIZECLIPBOARD,
        WM_GETTITLEBARINFOEX, WM_ENTERSIZEMOVE, WM_QUIT, WM_ENDSESSION, BM_SETSTYLE,
        EM_REPLACESEL, EM_GETLINE, EM_SETTABSTOPS,
        WM_SETICON, WM_SETHOTKEY, WM_GETDLGCODE, WM_INPUT, WM_TOUCH, WM_GESTURE,
    };
    for (UINT e : excluded)
        if (message == e)
            return true;
    if (message >= WM_NCMOUSEMOVE && message <= 0x00AD)  // non-client mouse: caption drags
        return true;
    if (message >= WM_SYSKEYDOWN && message <= WM_SYSDEADCHAR)  // menu loop via Alt or F10
        return true;
    if (message >= 0x010D && message <= 0x010F)  // IME composition
        return true;
    if (message >= 0x0281 && message <= 0x0291)  // IME
        return true;
    if (message >= LB_ADDSTRING && message <= 0x01B3)  // list-box strings
        return true;
    if (message >= CB_GETEDITSEL && message <= 0x0165)  // combo-box strings
        return true;
    if (message >= 0x00B0 && message <= 0x00DA)  // edit-control messages
        return true;
    if (message >= 0x03E0 && message <= 0x03EF)  // DDE: lParam holds handles
        return true;
    if (message >= 0x1600 && message <= 0x16FF)  // button extensions with pointers
        return true;
    return false;
}

// Runs count messages; about half are sent, half posted. pump() is called
// every 64 posts so the thread's message queue never overflows.
template <typename Pump>
FuzzCounts FuzzMessages(uint32_t seed, int count, const std::vector<FuzzTarget>& targets,
                        UINT postEventMessage, Pump pump)
{
    std::mt19937 random(seed);
    FuzzCounts counts = {};
    static char text[64];
    static NMHDR header;
    static MINMAXINFO limits;
    auto anyTarget = [&] { return targets[random() % targets.size()].window; };
    for (int i = 0; i < count; ++i) {
        const FuzzTarget& target = targets[random() % targets.size()];
        // System messages (below WM_USER) are the interesting half.
        UINT message = random() & 1 ? random() % WM_USER : random() % 0x10000;
        WPARAM wParam = (WPARAM)(((uint64_t)random() << 32) ^ random());
        LPARAM lParam = (LPARAM)(((uint64_t)random() << 32) ^ random());
        if (random() & 1) {
            wParam &= 0xFFFF;
            lParam &= 0xFFFF;
        }
        bool send = random() & 1;
        bool valid = false;  // a pointer-carrying message with a valid structure
        switch (random() % 16) {
        case 0:
            message = postEventMessage;
            valid = true;
            break;
        case 1:
            message = WM_NOTIFY;
            header = {anyTarget(), (UINT_PTR)random(), (UINT)random()};
            lParam = (LPARAM)&header;
            send = valid = true;
            break;
        case 2:
            message = WM_GETMINMAXINFO;
            memset(&limits, 0, sizeof limits);
            lParam = (LPARAM)&limits;
            send = valid = true;
            break;
        case 3:
            message = WM_GETTEXT;
            wParam = random() % sizeof text;
            lParam = (LPARAM)text;
            send = valid = true;
            break;
        case 4:
            message = WM_COMMAND;
            if (random() & 1)
                lParam = (LPARAM)anyTarget();
            break;
        case 5:
            message = random() & 1 ? WM_KEYDOWN : WM_KEYUP;
            wParam = random() & 1 ? VK_TAB : random() % 0x100;
            break;
        default:
            break;
        }
        if (!valid && FuzzExcluded(message))
            continue;
        if (message == WM_CLOSE && !target.ownsWmClose)
            continue;
        if ((message == WM_KEYDOWN || message == WM_KEYUP) && (wParam == VK_F10 || wParam == VK_MENU))
            continue;
        if (send) {
            DWORD_PTR result;
            SendMessageTimeoutA(target.window, message, wParam, lParam, SMTO_NORMAL, 2000, &result);
            ++counts.sent;
        } else if (PostMessageA(target.window, message, wParam, lParam)) {
            if (++counts.posted % 64 == 0)
                pump();
        }
    }
    pump();
    return counts;
}
