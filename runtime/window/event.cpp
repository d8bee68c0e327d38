#include "runtime/window/event.h"

// Stand-ins until the event service exists; replaced in place.
void EventServiceInit() {}
void EventServiceEnd() {}
int32_t EventPost(int32_t, ObjectNumber, ObjectNumber, int32_t) { return 0; }
int32_t EventEnqueue(int32_t, ObjectNumber, ObjectNumber, int32_t, void*, EventDataRelease, int32_t) { return 0; }
int32_t EventNext() { return 0; }
int32_t EventWait(int32_t) { return 0; }
ObjectNumber EventSource() { return 0; }
void EventPurge(int32_t, ObjectNumber, ObjectNumber, int32_t) {}
void EventPurgeWindow(ObjectNumber) {}
void EventBindingsPurgeWindow(ObjectNumber) {}
HACCEL ActiveAccelerators(HWND) { return nullptr; }
void KeyboardCues(HWND, bool) {}
void TabNavigate(bool) {}
