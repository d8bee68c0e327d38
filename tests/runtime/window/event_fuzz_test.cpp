// Robustness: random messages sent and posted to window 2, its buttons and
// the hidden event window, dispatched through EventWait. Afterwards the
// process must be whole (heap valid, hidden window alive, every button still
// its gadget) and a click must still come out as its EVT_GADGET.
#include "runtime/process/globals.h"
#include "tests/runtime/window/event_message_fuzz.h"
#include "tests/runtime/window/event_test_support.h"

namespace {

typedef ControlWindowTest EventFuzzTest;

constexpr uint32_t FUZZ_SEEDS[] = {20261207, 7, 0xC0FFEE, 4242, 99991};
constexpr int FUZZ_MESSAGES_PER_SEED = 2000;  // 10 000 in all

TEST_F(EventFuzzTest, RandomMessagesLeaveClicksWorking)
{
    int sent = 0, posted = 0;
    for (uint32_t seed : FUZZ_SEEDS) {
        printf("fuzz seed %u, %d messages\n", seed, FUZZ_MESSAGES_PER_SEED);
        std::vector<FuzzTarget> targets = {{window, true}, {PostEventWindow, true}};
        for (HWND button : buttons)
            targets.push_back({button, false});
        FuzzCounts counts = FuzzMessages(seed, FUZZ_MESSAGES_PER_SEED, targets, PostEventMessage, [] {
            EventPump();
            EventQueueTakeAll();
        });
        sent += counts.sent;
        posted += counts.posted;
        ASSERT_TRUE(HeapValidate(MainHeap, 0, nullptr)) << "seed " << seed;
        ASSERT_TRUE(IsWindow(PostEventWindow)) << "seed " << seed;
        ASSERT_TRUE(IsWindow(window)) << "seed " << seed;
        for (ObjectNumber gadget : TEST_GADGETS) {
            auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, gadget));
            ASSERT_NE(record, nullptr) << "seed " << seed << " gadget " << gadget;
            ASSERT_EQ(record->window, Button(gadget)) << "seed " << seed;
        }
    }
    printf("fuzz: %d sent, %d posted\n", sent, posted);
    EXPECT_GT(sent, 3000);
    EXPECT_GT(posted, 3000);

    // The fuzz may have left a button holding the mouse capture, as a real
    // press without a release would; real input would end it too.
    ReleaseCapture();
    EventPump();
    EventQueueTakeAll();
    for (ObjectNumber gadget : TEST_GADGETS) {
        SendMessageA(Button(gadget), BM_CLICK, 0, 0);
        std::vector<EventTuple> taken = EventQueueTakeAll();
        EXPECT_EQ(std::count(taken.begin(), taken.end(), EventTuple(EVT_GADGET, gadget, 2, 0)), 1)
            << "gadget " << gadget;
        EventPump();
        EventQueueTakeAll();
    }
}

}  // namespace
