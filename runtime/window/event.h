// The event service: per-thread queues of numbered events, EventWait and
// keyboard navigation between the controls of the active window.
//
// Window procedures post events into the queue of the thread that dispatches
// their messages; EventWait hands out queued events first and otherwise
// fetches and dispatches one window-system message, which may post more.
// Queue nodes come from a per-thread block pool, so posting makes no heap
// call in the common case. EventEnqueue and EventNext hold the process-wide
// event lock for their whole run (bindings and data release included); the
// purges act on the calling thread's queue without it.
#pragma once

#include <stddef.h>

#include "runtime/base.h"

struct BlockPool;
struct KeyedMap;

constexpr int32_t EVT_GADGET = 13100;
constexpr int32_t EVT_MENU_COMMAND = 13101;
constexpr int32_t EVT_TRAY_ICON = 13102;
constexpr int32_t EVT_WINDOW_ACTIVATED = 13104;
constexpr int32_t EVT_WINDOW_MINIMISED = 13107;
constexpr int32_t EVT_WINDOW_MAXIMISED = 13108;
constexpr int32_t EVT_WINDOW_RESTORED = 13109;
constexpr int32_t EVT_TIMER_TICK = 13110;
constexpr int32_t EVT_RIGHT_BUTTON_UP = 13111;
constexpr int32_t EVT_LEFT_BUTTON_UP = 13112;
constexpr int32_t EVT_LEFT_DOUBLE_CLICK = 13113;
constexpr int32_t EVT_WINDOW_DEACTIVATED = 13114;
constexpr int32_t EVT_BACKGROUND_ERASED = 13115;
constexpr int32_t EVT_CLOSE_WINDOW = 13116;
constexpr int32_t EVT_WINDOW_MOVED = 13117;
constexpr int32_t EVT_WINDOW_RESIZED = 13118;

constexpr int32_t EVENT_FORCE = 1;           // queued even while the queue is suppressed
constexpr int32_t EVENT_DEFER_BINDINGS = 2;  // bindings run when EventNext takes it; never coalesced

// Codes from this value up are never coalesced at the tail.
constexpr int32_t EVENT_COALESCE_LIMIT = 0x10000;

typedef void (*EventDataRelease)(void* data);
typedef void (*EventBindingCallback)();

// One queued event, a block of the thread's node pool.
struct EventNode {
    EventNode* next;  // null at the tail
    int32_t code;
    int32_t flags;    // EVENT_FORCE, EVENT_DEFER_BINDINGS
    ObjectNumber object;
    ObjectNumber window;
    int32_t type;
    void* data;
    EventDataRelease dataRelease;  // called with data when the event stops being current
};

// The calling thread's queue and its current event (a per-thread segment).
struct EventQueueState {
    BlockPool* pool;  // the thread's node pool, POOL_UNLOCKED
    EventNode* head;  // oldest queued event, or null
    EventNode* tail;  // newest queued event, or null
    int32_t suppressed;  // while non-zero, posts without EVENT_FORCE are dropped
    int32_t currentCode;    // 0 when none was taken
    ObjectNumber currentWindow;
    ObjectNumber currentObject;  // what EventSource reports
    int32_t currentType;    // -1 when none was taken
    void* currentData;
    EventDataRelease currentDataRelease;
};

#if RUNTIME_PE32
static_assert(sizeof(EventNode) == 32 && offsetof(EventNode, data) == 24);
static_assert(sizeof(EventQueueState) == 40 && offsetof(EventQueueState, currentObject) == 24);
#endif

// One EventBindings element: the callbacks of one key and the window whose
// closing deletes them.
struct EventBindingEntry {
    EventBindingEntry* next;
    EventBindingCallback callback;
};
struct EventBinding {
    EventBindingEntry* callbacks;  // main heap, called in list order
    ObjectNumber window;
};

// Hidden window of the class "PostEventClass" that receives the registered
// message "KX_PostEventMessage"; null before start-up and once destroyed.
extern HWND PostEventWindow;
extern UINT PostEventMessage;
// Bindings keyed "%d:%d:%d:%d" (code, window, object, type; -1 = any).
extern KeyedMap* EventBindings;

// Start-up: the hidden window and its class, the registered message, the
// message filter on the calling thread, the per-thread queue segment, the
// bindings map, the event lock.
void EventServiceInit();
// Destroys the hidden window and removes the message filter.
void EventServiceEnd();

// EventEnqueue without data and flags.
int32_t EventPost(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type);
// Appends to the calling thread's queue unless the queue is suppressed (and
// EVENT_FORCE absent) or an identical event (code below EVENT_COALESCE_LIMIT,
// no EVENT_DEFER_BINDINGS) is already at the tail; a post the node pool
// cannot hold is dropped. Then, unless deferred, runs the bindings with the
// event made current for their duration. The result carries no meaning.
int32_t EventEnqueue(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type,
                     void* data, EventDataRelease dataRelease, int32_t flags);
// Takes the oldest queued event into the current event and returns its code;
// 0 with current type -1 on an empty queue (object and window then keep
// their values).
int32_t EventNext();
// A queued event's code, else the number of the one message fetched and
// dispatched (or translated as an accelerator). timeout in ms, -1 = no limit;
// 0 when nothing arrived in time.
int32_t EventWait(int32_t timeout = -1);
// The object of the calling thread's current event.
ObjectNumber EventSource();
// Drops queued events matching all four values, -1 matching anything.
void EventPurge(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type);
void EventPurgeWindow(ObjectNumber window);
// Deletes every binding that belongs to window.
void EventBindingsPurgeWindow(ObjectNumber window);
// Adds callback to the bindings of (code, window, object, type), -1 = any;
// the binding belongs to window. 0 when no memory.
int32_t EventBind(int32_t code, ObjectNumber window, ObjectNumber object, int32_t type,
                  EventBindingCallback callback);

// The calling thread's queue state; null only without per-thread data.
EventQueueState* EventQueueGet();
// The process-wide event lock (re-entrant).
void EventLockEnter();
void EventLockLeave();
// Runs the bindings of the five keys of an event (exact, any type, any
// object and type, code only, any window), under the event lock.
void EventBindingsRun(int32_t code, ObjectNumber window, ObjectNumber object, int32_t type);

// Queues (code, object, window, type, data) on the thread that owns the
// hidden window, from any thread, through "KX_PostEventMessage". 0 when the
// message could not be posted (nothing is then left behind).
int32_t EventPostMessage(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type,
                         void* data);
// The hidden window's procedure; accepts only blocks EventPostMessage
// handed out and not yet consumed.
LRESULT CALLBACK PostEventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Start-up part of EventServiceInit: the registered message, the class
// "PostEventClass" and the hidden window.
void PostEventWindowCreate();
// End part of EventServiceEnd: destroys the hidden window and frees the
// blocks it will no longer deliver.
void PostEventWindowDestroy();

// Whether a message taken from the queue carries what only the system
// itself hands over, and so was posted by someone else with made-up values:
// a WM_TIMER naming a timer procedure (DispatchMessageA would call it; the
// runtime sets no timer with one), a device context in a queued message
// (they travel only in sent ones; not every platform checks one before
// drawing on it). EventWait dispatches no such message, nor do the system's
// modal loops while the message filter is installed.
bool QueuedMessageForged(const MSG& msg);
// A message-filter hook on the calling thread, through which the system's
// modal loops (moving, sizing, menus) skip what QueuedMessageForged refuses;
// installed by EventServiceInit, removed by EventServiceEnd. Without it the
// program works as before, EventWait alone refusing.
void MessageFilterInstall();
void MessageFilterRemove();

// Accelerators for the message EventWait is about to dispatch, or null.
HACCEL ActiveAccelerators(HWND activeWindow);
// Shows or hides focus rectangles and accelerator underlines.
void KeyboardCues(HWND window, bool show);
// Moves the focus to the next (previous) enabled, visible tab stop of the
// active window, wrapping around.
void TabNavigate(bool backward);
