// EventWait: queued events first, then one window-system message.
//
// Queued events always go out before any new message is fetched, so the
// events a dispatch posts come out on the following calls in post order.
// A message that the active window's accelerators translate (Tab,
// Shift+Tab) is not dispatched; the accelerator's WM_COMMAND has already run
// TabNavigate, and the focus cues are shown. A queued message that only the
// system itself could have sent (QueuedMessageForged) is taken and returned
// but not dispatched, as the message filter keeps the system's own modal
// loops on this thread from dispatching it. The wParam and lParam of every
// fetched message are recorded for the window service (0 and 0 when a
// queued event is returned). A thread whose message queue cannot be read any
// more (GetMessageA fails) can neither use nor close its windows: that is
// reported as a close request of no particular window (-1), where a WM_NULL
// would have its caller wait again for ever.
#include "runtime/window/event.h"
#include "runtime/window/window.h"

constexpr DWORD EVENT_WAKE_MASK = QS_ALLINPUT | QS_ALLPOSTMESSAGE;  // 0x5FF
static_assert(EVENT_WAKE_MASK == 0x5FF);

enum EventFetch { FETCH_MESSAGE, FETCH_NONE, FETCH_FAILED };

// One message into msg: none when nothing arrived within timeout.
static EventFetch EventMessageFetch(MSG* msg, int32_t timeout)
{
    if (timeout == -1) {
        // WM_QUIT is dispatched and returned like any other message.
        return GetMessageA(msg, nullptr, 0, 0) == -1 ? FETCH_FAILED : FETCH_MESSAGE;
    }
    if (PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD))
        return FETCH_MESSAGE;
    if (timeout == 0)
        return FETCH_NONE;
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, (DWORD)timeout, EVENT_WAKE_MASK) == WAIT_TIMEOUT)
        return FETCH_NONE;
    return PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD) ? FETCH_MESSAGE : FETCH_NONE;
}

int32_t EventWait(int32_t timeout)
{
    int32_t code = EventNext();
    if (code != 0) {
        WindowLastMessageSet(0, 0);
        return code;
    }
    MSG msg = {};
    EventFetch fetched = EventMessageFetch(&msg, timeout);
    if (fetched == FETCH_NONE)
        return 0;
    if (fetched == FETCH_FAILED) {
        EventPost(EVT_CLOSE_WINDOW, -1, -1, 0);
        code = EventNext();
        WindowLastMessageSet(0, 0);
        return code != 0 ? code : EVT_CLOSE_WINDOW;
    }
    HWND active = GetActiveWindow();
    HACCEL accelerators = ActiveAccelerators(active);
    if (accelerators && TranslateAcceleratorA(active, accelerators, &msg)) {
        if (active)
            KeyboardCues(active, true);
    } else if (!QueuedMessageForged(msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    WindowLastMessageSet(msg.wParam, msg.lParam);
    return (int32_t)msg.message;
}
