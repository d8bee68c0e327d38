// The hidden window that carries events from any thread to the thread that
// made it, through the registered message "KX_PostEventMessage".
//
// The message number is registered desktop-wide, so any process can post it
// to this window with any wParam and lParam. lParam is therefore never taken
// on trust: EventPostMessage keeps every block it posts in a registry (a list
// guarded by the event lock), tagged with a serial number that travels as
// wParam. The window procedure compares lParam with the registered addresses
// and dereferences nothing unless both the address and the serial match; a
// block is unlinked as it is consumed, so a replayed message finds nothing.
// Anything else is dropped. WM_CLOSE is ignored: only EventServiceEnd
// destroys this window, and it lets go of the window and of the blocks
// itself, so no message can make the procedure release them: a WM_DESTROY or
// WM_NCDESTROY that reaches the window while it is still PostEventWindow is
// forged and swallowed.
#include <string.h>

#include "runtime/process/globals.h"
#include "runtime/window/event.h"

HWND PostEventWindow;
UINT PostEventMessage;

// A posted event: code at byte 4, object at 12, window at 16, type at 20 and
// data at 24 in the PE32 image.
struct PostedEvent {
    PostedEvent* next;  // registry link
    int32_t code;
    uint32_t serial;    // equals the message's wParam
    ObjectNumber object;
    ObjectNumber window;
    int32_t type;
    void* data;
};

#if RUNTIME_PE32
static_assert(offsetof(PostedEvent, code) == 4 && offsetof(PostedEvent, object) == 12 &&
              offsetof(PostedEvent, window) == 16 && offsetof(PostedEvent, type) == 20 &&
              offsetof(PostedEvent, data) == 24);
#endif

static PostedEvent* PostedBlocks;
static uint32_t PostedSerial;

void PostEventWindowCreate()
{
    PostEventMessage = RegisterWindowMessageA("KX_PostEventMessage");
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = PostEventWindowProc;
    windowClass.hInstance = InstanceHandle;
    windowClass.hbrBackground = (HBRUSH)16;
    windowClass.lpszClassName = "PostEventClass";
    RegisterClassA(&windowClass);
    PostEventWindow = CreateWindowExA(0, "PostEventClass", nullptr, WS_CAPTION, 0, 0, 1, 1,
                                      nullptr, nullptr, InstanceHandle, nullptr);
}

// Unlinks and returns the registered block at address with this serial, or
// null. Only addresses are compared: an unknown lParam is never read.
static PostedEvent* PostedBlockTake(LPARAM address, WPARAM serial)
{
    PostedEvent* found = nullptr;
    EventLockEnter();
    for (PostedEvent** link = &PostedBlocks; *link; link = &(*link)->next) {
        if ((LPARAM)*link == address) {
            if ((*link)->serial == serial) {
                found = *link;
                *link = found->next;
            }
            break;
        }
    }
    EventLockLeave();
    return found;
}

int32_t EventPostMessage(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type,
                         void* data)
{
    HWND target = PostEventWindow;
    if (!target || !PostEventMessage)
        return 0;
    auto* block = static_cast<PostedEvent*>(MainHeapAlloc(sizeof(PostedEvent)));
    if (!block)
        return 0;
    block->code = code;
    block->object = object;
    block->window = window;
    block->type = type;
    block->data = data;
    EventLockEnter();
    if (++PostedSerial == 0)
        ++PostedSerial;
    block->serial = PostedSerial;
    block->next = PostedBlocks;
    PostedBlocks = block;
    EventLockLeave();
    if (PostMessageA(target, PostEventMessage, block->serial, (LPARAM)block))
        return 1;
    if (PostedBlockTake((LPARAM)block, block->serial))
        MainHeapFree(block);
    return 0;
}

void PostEventWindowDestroy()
{
    HWND window = PostEventWindow;
    if (!window)
        return;
    PostEventWindow = nullptr;
    DestroyWindow(window);
    // Blocks still registered now will never be delivered.
    EventLockEnter();
    PostedEvent* block = PostedBlocks;
    PostedBlocks = nullptr;
    EventLockLeave();
    while (block) {
        PostedEvent* next = block->next;
        MainHeapFree(block);
        block = next;
    }
}

LRESULT CALLBACK PostEventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (PostEventMessage && message == PostEventMessage) {
        if (PostedEvent* block = PostedBlockTake(lParam, wParam)) {
            EventEnqueue(block->code, block->object, block->window, block->type, block->data,
                         nullptr, EVENT_FORCE);
            MainHeapFree(block);
        }
    } else if (message == WM_CLOSE) {
        return 0;
    } else if ((message == WM_DESTROY || message == WM_NCDESTROY) && window == PostEventWindow) {
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
