// What no loop of the thread that starts the event service dispatches: the
// queued messages that only the system itself could have sent.
//
// EventWait is not the only loop that takes this thread's messages. A posted
// WM_SYSCOMMAND makes the default window procedure run one of the system's
// modal loops (moving, sizing, menus), which fetches and dispatches
// whatever is queued behind the command until it ends. Those loops hand each
// message to the thread's message-filter hook before they process it, and
// skip it when the hook answers non-zero; the hook answers so for exactly
// what EventWait refuses. Without the hook (SetWindowsHookExA failed) the
// program runs on as before, EventWait still refusing on its own.
#include "runtime/window/event.h"

static HHOOK MessageFilterHook;

bool QueuedMessageForged(const MSG& msg)
{
    switch (msg.message) {
    case WM_TIMER:
        return msg.lParam != 0;
    case WM_PAINT:
        return msg.wParam != 0;
    case WM_ERASEBKGND:
    case WM_ICONERASEBKGND:
    case WM_PRINT:
    case WM_PRINTCLIENT:
        return true;
    default:
        return msg.message >= WM_CTLCOLORMSGBOX && msg.message <= WM_CTLCOLORSTATIC;
    }
}

// lParam is the message the loop is about to process.
static LRESULT CALLBACK MessageFilterProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && lParam && QueuedMessageForged(*reinterpret_cast<const MSG*>(lParam)))
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MessageFilterInstall()
{
    MessageFilterHook = SetWindowsHookExA(WH_MSGFILTER, MessageFilterProc, nullptr,
                                          GetCurrentThreadId());
}

void MessageFilterRemove()
{
    HHOOK hook = MessageFilterHook;
    MessageFilterHook = nullptr;
    if (hook)
        UnhookWindowsHookEx(hook);
}
