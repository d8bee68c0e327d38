// EventWait against window 2 and its buttons: queued events before messages,
// message numbers returned as they are, clicks and close requests arriving
// as events, accelerators, and the time-limited forms on an idle queue.
#include "tests/runtime/window/event_test_support.h"

namespace {

typedef ControlWindowTest EventWaitTest;

TEST_F(EventWaitTest, IdleQueueGivesZeroWithATimeLimit)
{
    EXPECT_EQ(EventWait(0), 0);
    EXPECT_EQ(EventWait(50), 0);
    EXPECT_EQ(EventWait(0), 0);
}

TEST_F(EventWaitTest, QueuedEventsGoOutBeforeNewMessages)
{
    PostMessageA(window, WM_USER + 7, 0, 0);
    EventPost(EVT_GADGET, 8, 2, 0);
    EXPECT_EQ(EventWait(0), EVT_GADGET);
    EXPECT_EQ(EventSource(), 8);
    EXPECT_EQ(EventWait(0), WM_USER + 7);
    EXPECT_EQ(EventWait(0), 0);
}

struct PostedCase {
    const char* name;
    UINT message;
};

TEST_F(EventWaitTest, PostedMessagesAreReturnedByTheirNumber)
{
    const PostedCase cases[] = {
        {"a number equal to EVT_GADGET", (UINT)EVT_GADGET},
        {"a number equal to EVT_CLOSE_WINDOW", (UINT)EVT_CLOSE_WINDOW},
        {"a user message", WM_USER + 1},
        {"WM_NULL", WM_NULL},
    };
    for (const PostedCase& c : cases) {
        ASSERT_TRUE(PostMessageA(window, c.message, 0, 0)) << c.name;
        EXPECT_EQ(EventWait(-1), (int32_t)c.message) << c.name;
        // Nothing was queued by it: the number is not an event.
        EXPECT_TRUE(EventQueueList().empty()) << c.name;
    }
    // WM_QUIT ends no loop here: it is dispatched and returned like the rest.
    PostQuitMessage(3);
    EXPECT_EQ(EventWait(-1), WM_QUIT);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 9, 0, 0);
    EXPECT_EQ(EventWait(50), WM_USER + 9);
}

struct ClickCase {
    ObjectNumber gadget;
};

// Mouse messages posted to a button travel the same path as real input:
// the call that dispatches WM_LBUTTONUP returns 514, the next one the click.
TEST_F(EventWaitTest, AButtonPressAndReleaseGiveOneClickEvent)
{
    for (ObjectNumber gadget : TEST_GADGETS) {
        HWND button = Button(gadget);
        RECT r;
        GetClientRect(button, &r);
        LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
        PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, centre);
        PostMessageA(button, WM_LBUTTONUP, 0, centre);
        // (code, source, type) of each call until the queue is idle.
        std::vector<EventTuple> calls;
        while (int32_t code = EventWait(0))
            calls.emplace_back(code, EventSource(), 0, EventQueueGet()->currentType);
        size_t up = 0;
        while (up < calls.size() && std::get<0>(calls[up]) != WM_LBUTTONUP)
            ++up;
        ASSERT_LT(up + 1, calls.size()) << "gadget " << gadget;
        EXPECT_EQ(calls[up + 1], EventTuple(EVT_GADGET, gadget, 0, 0)) << "gadget " << gadget;
        size_t clicks = 0;
        for (const EventTuple& call : calls)
            clicks += std::get<0>(call) == EVT_GADGET;
        EXPECT_EQ(clicks, 1u) << "gadget " << gadget;
        EXPECT_EQ(GetFocus(), button);
    }
}

TEST_F(EventWaitTest, CloseRequestPostsCloseAndLeavesTheWindowOpen)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(EventWait(-1), WM_CLOSE);
    EXPECT_EQ(EventWait(-1), EVT_CLOSE_WINDOW);
    EXPECT_EQ(EventSource(), 2);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));
}

// A posted Tab key goes through the active window's accelerators: the call
// returns WM_KEYDOWN and the focus has moved.
TEST_F(EventWaitTest, TabKeyIsTranslatedIntoNavigation)
{
    SetActiveWindow(window);
    SetFocus(Button(4));
    EventPump();
    ASSERT_EQ(GetFocus(), Button(4));
    PostMessageA(Button(4), WM_KEYDOWN, VK_TAB, 0x000F0001);
    EXPECT_EQ(EventWait(-1), WM_KEYDOWN);
    EXPECT_EQ(GetFocus(), Button(8));
}

TEST_F(EventWaitTest, FreeingAGadgetDropsItsQueuedClicksOnly)
{
    EventPost(EVT_GADGET, 4, 2, 0);
    EventPost(EVT_GADGET, 8, 2, 0);
    EventPost(EVT_GADGET, 4, 2, 1);
    EventPost(EVT_BACKGROUND_ERASED, 0, 2, 0);
    EXPECT_EQ(GadgetFree(4), 1);
    EXPECT_FALSE(IsWindow(buttons[0]));
    std::vector<EventTuple> expected = {{EVT_GADGET, 8, 2, 0}, {EVT_BACKGROUND_ERASED, 0, 2, 0}};
    EXPECT_EQ(EventQueueList().front(), expected[0]);
    EXPECT_EQ(EventQueueClicks(), std::vector<EventTuple>{expected[0]});
    EXPECT_EQ(ObjectGet(GadgetTable, 4), nullptr);
}

TEST_F(EventWaitTest, ClosingTheWindowKeepsEventsOfWindowMinusOne)
{
    EventPost(EVT_WINDOW_ACTIVATED, 0, -1, 0);
    EventPost(EVT_GADGET, 16, 2, 0);
    EventPost(EVT_MENU_COMMAND, 77, 3, 0);
    EventPost(EVT_MENU_COMMAND, 77, 2, 0);
    WindowClose(WINDOW_MAIN);
    std::vector<EventTuple> queued = EventQueueList();
    EXPECT_EQ(std::count(queued.begin(), queued.end(), EventTuple(EVT_GADGET, 16, 2, 0)), 0);
    EXPECT_EQ(std::count(queued.begin(), queued.end(), EventTuple(EVT_MENU_COMMAND, 77, 2, 0)), 0);
    EXPECT_EQ(queued.front(), EventTuple(EVT_WINDOW_ACTIVATED, 0, -1, 0));
    EXPECT_EQ(std::count(queued.begin(), queued.end(), EventTuple(EVT_MENU_COMMAND, 77, 3, 0)), 1);
    for (ObjectNumber gadget : TEST_GADGETS)
        EXPECT_EQ(ObjectGet(GadgetTable, gadget), nullptr) << "gadget " << gadget;
}

}  // namespace
