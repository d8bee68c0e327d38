// The window services a test program needs, started once per process in
// the start-up order (events, fonts, windows, gadgets). Every test in a
// program shares them, as the program's own code would.
#pragma once

#include "runtime/window/event.h"
#include "runtime/window/font.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

inline void WindowServicesStart()
{
    static bool started;
    if (started)
        return;
    started = true;
    EventServiceInit();
    if (!FontTable)
        FontServiceInit();
    if (!WindowTable)
        WindowServiceInit();
    if (!GadgetTable)
        GadgetServiceInit();
}

// Drops whatever the window procedure has queued on this thread.
inline void EventQueueDrain()
{
    while (EventNext() != 0) {
    }
}
