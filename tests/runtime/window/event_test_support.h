// Helpers of the event and gadget tests: the calling thread's queue as a
// list, a message pump through EventWait, and window 2 with the three
// buttons of the control window.
#pragma once

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "runtime/window/event.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"
#include "tests/runtime/window/window_services.h"

// (code, object, window, type) of a queued or taken event.
typedef std::tuple<int32_t, ObjectNumber, ObjectNumber, int32_t> EventTuple;

// The queue, oldest first, without taking anything; also checks that the
// tail is the last node.
inline std::vector<EventTuple> EventQueueList()
{
    std::vector<EventTuple> list;
    EventQueueState* s = EventQueueGet();
    const EventNode* last = nullptr;
    for (const EventNode* node = s->head; node; node = node->next) {
        list.emplace_back(node->code, node->object, node->window, node->type);
        last = node;
    }
    EXPECT_EQ(s->tail, last) << "tail is not the last node";
    return list;
}

// The queued EVT_GADGET events only: destroying or moving a control also
// queues the parent's erase and move events.
inline std::vector<EventTuple> EventQueueClicks()
{
    std::vector<EventTuple> clicks;
    for (const EventTuple& e : EventQueueList())
        if (std::get<0>(e) == EVT_GADGET)
            clicks.push_back(e);
    return clicks;
}

// Takes every queued event through EventNext.
inline std::vector<EventTuple> EventQueueTakeAll()
{
    std::vector<EventTuple> taken;
    while (int32_t code = EventNext()) {
        EventQueueState* s = EventQueueGet();
        taken.emplace_back(code, s->currentObject, s->currentWindow, s->currentType);
    }
    return taken;
}

// Calls EventWait(0) until it reports nothing (bounded); returns the codes.
inline std::vector<int32_t> EventPump(int limit = 10000)
{
    std::vector<int32_t> codes;
    while (limit-- > 0) {
        int32_t code = EventWait(0);
        if (code == 0)
            break;
        codes.push_back(code);
    }
    return codes;
}

constexpr ObjectNumber TEST_GADGETS[] = {4, 8, 16};

// Window 2 as the control window makes it: 300 x 200, tool style, centred,
// with buttons 4, 8 and 16 in creation order.
class ControlWindowTest : public testing::Test {
protected:
    HWND window = nullptr;
    HWND buttons[3] = {};

    void SetUp() override
    {
        WindowServicesStart();
        window = (HWND)WindowOpen(WINDOW_MAIN, 0, 0, 300, 200, "Norvane", 5);
        ASSERT_NE(window, nullptr);
        buttons[0] = (HWND)ButtonCreate(4, 20, 20, 256, 60, "Run norvane");
        buttons[1] = (HWND)ButtonCreate(8, 20, 100, 256, 40, "Repeat the run every 34min");
        buttons[2] = (HWND)ButtonCreate(16, 230, 155, 50, 35, "EXIT");
        for (HWND button : buttons)
            ASSERT_NE(button, nullptr);
        SetActiveWindow(window);
        Settle();
    }

    // A window manager takes a shown window into its frame a moment later,
    // and Wine then reports moves and activations: wait until the queue has
    // stayed quiet for 150 ms (at most 3 s), so no test meets them.
    static void Settle()
    {
        DWORD start = GetTickCount(), quiet = start;
        while (GetTickCount() - quiet < 150 && GetTickCount() - start < 3000) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            if (!EventPump().empty() || !EventQueueTakeAll().empty())
                quiet = GetTickCount();
        }
    }

    void TearDown() override
    {
        WindowClose(WINDOW_MAIN);
        EventPump();
        EventQueueTakeAll();
    }

    HWND Button(ObjectNumber gadget) const
    {
        for (int i = 0; i < 3; ++i)
            if (TEST_GADGETS[i] == gadget)
                return buttons[i];
        return nullptr;
    }
};
