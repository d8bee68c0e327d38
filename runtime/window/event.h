// The event service: per-thread queues of numbered events, EventWait and
// keyboard navigation between the controls of the active window.
#pragma once

#include "runtime/base.h"

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

constexpr int32_t EVENT_FORCE = 1;
constexpr int32_t EVENT_DEFER_BINDINGS = 2;

typedef void (*EventDataRelease)(void* data);

void EventServiceInit();
void EventServiceEnd();

// Object and window numbers are pointer-sized: an issued number is an address.
int32_t EventPost(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type);
int32_t EventEnqueue(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type,
                     void* data, EventDataRelease dataRelease, int32_t flags);
int32_t EventNext();
int32_t EventWait(int32_t timeout = -1);
ObjectNumber EventSource();
void EventPurge(int32_t code, ObjectNumber object, ObjectNumber window, int32_t type);
void EventPurgeWindow(ObjectNumber window);
void EventBindingsPurgeWindow(ObjectNumber window);

HACCEL ActiveAccelerators(HWND activeWindow);
void KeyboardCues(HWND window, bool show);
void TabNavigate(bool backward);
