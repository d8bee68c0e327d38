// The event queue on its own: coalescing at the tail, suppression, the
// current event, purges, bindings, data release, and a node pool that
// cannot grow.
#include <string>

#include "runtime/data/keyed_map.h"
#include "runtime/process/globals.h"
#include "tests/runtime/window/event_test_support.h"

namespace {

class EventQueueTest : public testing::Test {
protected:
    void SetUp() override
    {
        WindowServicesStart();
        EventQueueTakeAll();
        EventQueueGet()->suppressed = 0;
    }
    void TearDown() override
    {
        EventQueueGet()->suppressed = 0;
        EventQueueTakeAll();
    }
};

struct Post {
    int32_t code;
    ObjectNumber object, window;
    int32_t type;
    int32_t flags;
};

struct CoalesceCase {
    const char* name;
    std::vector<Post> posts;
    size_t expectedNodes;
};

TEST_F(EventQueueTest, IdenticalPostsCoalesceOnlyAtTheTail)
{
    const Post erased = {EVT_BACKGROUND_ERASED, 0, 2, 0, 0};
    const Post moved = {EVT_WINDOW_MOVED, 2, 2, 0, 0};
    const CoalesceCase cases[] = {
        {"same event twice", {erased, erased}, 1},
        {"moved between", {erased, moved, erased}, 3},
        {"copy behind another copy after a different one", {erased, moved, erased, erased}, 3},
        {"other type", {erased, {EVT_BACKGROUND_ERASED, 0, 2, 1, 0}}, 2},
        {"other object", {{EVT_GADGET, 4, 2, 0, 0}, {EVT_GADGET, 8, 2, 0, 0}}, 2},
        {"other window", {{EVT_GADGET, 4, 2, 0, 0}, {EVT_GADGET, 4, -1, 0, 0}}, 2},
        {"code 0xFFFF coalesces", {{0xFFFF, 1, 2, 3, 0}, {0xFFFF, 1, 2, 3, 0}}, 1},
        {"code 0x10000 never coalesces", {{0x10000, 1, 2, 3, 0}, {0x10000, 1, 2, 3, 0}}, 2},
        {"deferred post never coalesces",
         {{EVT_GADGET, 4, 2, 0, EVENT_DEFER_BINDINGS}, {EVT_GADGET, 4, 2, 0, EVENT_DEFER_BINDINGS}}, 2},
        {"plain post onto a deferred copy", {{EVT_GADGET, 4, 2, 0, EVENT_DEFER_BINDINGS}, {EVT_GADGET, 4, 2, 0, 0}}, 1},
        {"thirty clicks", std::vector<Post>(30, {EVT_GADGET, 16, 2, 0, 0}), 1},
    };
    for (const CoalesceCase& c : cases) {
        for (const Post& p : c.posts)
            EventEnqueue(p.code, p.object, p.window, p.type, nullptr, nullptr, p.flags);
        EXPECT_EQ(EventQueueList().size(), c.expectedNodes) << c.name;
        EventQueueTakeAll();
    }
}

TEST_F(EventQueueTest, EventsComeOutOldestFirstWithTheirFields)
{
    EventPost(EVT_WINDOW_ACTIVATED, 0, -1, 0);
    EventPost(EVT_GADGET, 8, 2, 5);
    EventPost(EVT_CLOSE_WINDOW, 2, 2, 0);
    std::vector<EventTuple> expected = {
        {EVT_WINDOW_ACTIVATED, 0, -1, 0}, {EVT_GADGET, 8, 2, 5}, {EVT_CLOSE_WINDOW, 2, 2, 0}};
    EXPECT_EQ(EventQueueTakeAll(), expected);
    EXPECT_TRUE(EventQueueList().empty());
}

TEST_F(EventQueueTest, EmptyQueueKeepsThePreviousSource)
{
    EventPost(EVT_GADGET, 4, 2, 0);
    ASSERT_EQ(EventNext(), EVT_GADGET);
    EXPECT_EQ(EventSource(), 4);
    EXPECT_EQ(EventNext(), 0);
    EventQueueState* s = EventQueueGet();
    EXPECT_EQ(s->currentCode, 0);
    EXPECT_EQ(s->currentType, -1);
    EXPECT_EQ(EventSource(), 4);
    EXPECT_EQ(s->currentWindow, 2);
}

TEST_F(EventQueueTest, SuppressedQueueTakesOnlyForcedPosts)
{
    EventQueueGet()->suppressed = 1;
    EventPost(EVT_GADGET, 4, 2, 0);
    EventEnqueue(EVT_GADGET, 8, 2, 0, nullptr, nullptr, EVENT_FORCE);
    EventQueueGet()->suppressed = 0;
    std::vector<EventTuple> expected = {{EVT_GADGET, 8, 2, 0}};
    EXPECT_EQ(EventQueueList(), expected);
}

struct PurgeCase {
    const char* name;
    void (*purge)();
    std::vector<EventTuple> kept;
};

TEST_F(EventQueueTest, PurgesDropMatchesAndKeepTheRestInOrder)
{
    const std::vector<EventTuple> queue = {
        {EVT_GADGET, 4, 2, 0},  {EVT_BACKGROUND_ERASED, 0, 2, 0}, {EVT_GADGET, 4, 3, 0},
        {EVT_GADGET, 8, 2, 0},  {EVT_WINDOW_ACTIVATED, 0, -1, 0}, {EVT_GADGET, 4, 2, 5},
        {EVT_CLOSE_WINDOW, 2, 2, 0}, {EVT_GADGET, 4, -1, 0},
    };
    const PurgeCase cases[] = {
        {"clicks of gadget 4 from any window", [] { EventPurge(EVT_GADGET, 4, -1, -1); },
         {{EVT_BACKGROUND_ERASED, 0, 2, 0}, {EVT_GADGET, 8, 2, 0}, {EVT_WINDOW_ACTIVATED, 0, -1, 0},
          {EVT_CLOSE_WINDOW, 2, 2, 0}}},
        {"window 2 only", [] { EventPurgeWindow(2); },
         {{EVT_GADGET, 4, 3, 0}, {EVT_WINDOW_ACTIVATED, 0, -1, 0}, {EVT_GADGET, 4, -1, 0}}},
        {"window -1 is a number, not a wildcard", [] { EventPurgeWindow(-1); },
         {{EVT_GADGET, 4, 2, 0}, {EVT_BACKGROUND_ERASED, 0, 2, 0}, {EVT_GADGET, 4, 3, 0},
          {EVT_GADGET, 8, 2, 0}, {EVT_GADGET, 4, 2, 5}, {EVT_CLOSE_WINDOW, 2, 2, 0}}},
        {"every field -1 drops all", [] { EventPurge(-1, -1, -1, -1); }, {}},
        {"by type", [] { EventPurge(-1, -1, -1, 5); },
         {{EVT_GADGET, 4, 2, 0}, {EVT_BACKGROUND_ERASED, 0, 2, 0}, {EVT_GADGET, 4, 3, 0},
          {EVT_GADGET, 8, 2, 0}, {EVT_WINDOW_ACTIVATED, 0, -1, 0}, {EVT_CLOSE_WINDOW, 2, 2, 0},
          {EVT_GADGET, 4, -1, 0}}},
        {"the head and the tail", [] { EventPurge(EVT_GADGET, 4, -1, 0); },
         {{EVT_BACKGROUND_ERASED, 0, 2, 0}, {EVT_GADGET, 8, 2, 0}, {EVT_WINDOW_ACTIVATED, 0, -1, 0},
          {EVT_GADGET, 4, 2, 5}, {EVT_CLOSE_WINDOW, 2, 2, 0}}},
        {"nothing matches", [] { EventPurge(EVT_TIMER_TICK, -1, -1, -1); }, queue},
    };
    for (const PurgeCase& c : cases) {
        for (const EventTuple& e : queue)
            EventPost(std::get<0>(e), std::get<1>(e), std::get<2>(e), std::get<3>(e));
        c.purge();
        EXPECT_EQ(EventQueueList(), c.kept) << c.name;
        // The tail must still be right: a new post lands after the survivors.
        EventPost(EVT_WINDOW_RESIZED, 0, 9, 0);
        std::vector<EventTuple> expected = c.kept;
        expected.emplace_back(EVT_WINDOW_RESIZED, 0, 9, 0);
        EXPECT_EQ(EventQueueTakeAll(), expected) << c.name;
    }
}

int ReleaseCalls;
void* ReleasedData;
void CountRelease(void* data)
{
    ++ReleaseCalls;
    ReleasedData = data;
}

TEST_F(EventQueueTest, DataIsReleasedWhenItsEventStopsBeingCurrent)
{
    ReleaseCalls = 0;
    static int payload;
    EventEnqueue(EVT_TIMER_TICK, 1, 2, 0, &payload, CountRelease, 0);
    EventPost(EVT_GADGET, 4, 2, 0);
    EXPECT_EQ(ReleaseCalls, 0) << "released while still queued";
    ASSERT_EQ(EventNext(), EVT_TIMER_TICK);
    EXPECT_EQ(ReleaseCalls, 0) << "released while current";
    ASSERT_EQ(EventNext(), EVT_GADGET);
    EXPECT_EQ(ReleaseCalls, 1);
    EXPECT_EQ(ReleasedData, &payload);
    EXPECT_EQ(EventNext(), 0);
    EXPECT_EQ(ReleaseCalls, 1) << "released twice";
}

// What each binding callback saw: which one ran and the current event then.
std::vector<std::tuple<int, ObjectNumber, int32_t>> BindingLog;
template <int N>
void Bound()
{
    EventQueueState* s = EventQueueGet();
    BindingLog.emplace_back(N, s->currentObject, s->currentCode);
}

TEST_F(EventQueueTest, BindingsRunForTheFiveKeysInOrderWithTheEventCurrent)
{
    constexpr int32_t code = 13199;  // no window procedure posts it
    ASSERT_EQ(EventBind(code, -1, 4, 0, Bound<5>), 1);
    ASSERT_EQ(EventBind(code, -1, -1, -1, Bound<4>), 1);
    ASSERT_EQ(EventBind(code, 2, -1, -1, Bound<3>), 1);
    ASSERT_EQ(EventBind(code, 2, 4, -1, Bound<2>), 1);
    ASSERT_EQ(EventBind(code, 2, 4, 0, Bound<1>), 1);
    ASSERT_EQ(EventBind(code, 2, 4, 0, Bound<6>), 1);  // second callback of one key
    ASSERT_EQ(EventBind(code, 2, 8, 0, Bound<9>), 1);  // another object: never runs here

    EventPost(EVT_GADGET, 16, 2, 0);
    ASSERT_EQ(EventNext(), EVT_GADGET);
    BindingLog.clear();
    EventPost(code, 4, 2, 0);
    std::vector<std::tuple<int, ObjectNumber, int32_t>> expected = {
        {1, 4, code}, {6, 4, code}, {2, 4, code}, {3, 4, code}, {4, 4, code}, {5, 4, code}};
    EXPECT_EQ(BindingLog, expected);
    EXPECT_EQ(EventSource(), 16) << "the poster's current event was not restored";
    EXPECT_EQ(EventQueueGet()->currentCode, EVT_GADGET);

    BindingLog.clear();
    EventPost(code, 4, 2, 0);  // coalesced, yet its bindings run
    EXPECT_EQ(BindingLog.size(), 6u);

    // Deferred: nothing at the post, everything when it is taken.
    EventQueueTakeAll();
    BindingLog.clear();
    EventEnqueue(code, 4, 2, 0, nullptr, nullptr, EVENT_DEFER_BINDINGS);
    EXPECT_TRUE(BindingLog.empty());
    EXPECT_EQ(EventNext(), code);
    EXPECT_EQ(BindingLog, expected);

    // Closing window 2 takes its bindings; those of any window stay.
    EventBindingsPurgeWindow(2);
    BindingLog.clear();
    EventPost(code, 4, 2, 0);
    std::vector<std::tuple<int, ObjectNumber, int32_t>> afterPurge = {{4, 4, code}, {5, 4, code}};
    EXPECT_EQ(BindingLog, afterPurge);
    EventBindingsPurgeWindow(-1);
    BindingLog.clear();
    EventPost(code, 4, 2, 0);
    EXPECT_TRUE(BindingLog.empty());
    EXPECT_EQ(MapFind(EventBindings, "13199:-1:-1:-1"), nullptr);
}

// The node pool draws its chunks from the main heap. A main heap that can
// give nothing more makes the pool fail once its open chunk is used up;
// every post from then on must be dropped, and the queue must hold exactly
// the posts that got a node.
TEST_F(EventQueueTest, PostsThePoolCannotHoldAreDropped)
{
    HANDLE full = HeapCreate(0, 0, 64 * 1024);
    ASSERT_NE(full, nullptr);
    while (HeapAlloc(full, 0, 256)) {
    }
    while (HeapAlloc(full, 0, 8)) {
    }
    HANDLE mainHeap = MainHeap;
    MainHeap = full;
    std::vector<int32_t> results;
    for (int32_t i = 0; i < 100; ++i)
        results.push_back(EventPost(EVT_GADGET, i, 2, 0));  // all distinct: no coalescing
    MainHeap = mainHeap;

    size_t accepted = 0;
    while (accepted < results.size() && results[accepted] == 1)
        ++accepted;
    EXPECT_GT(accepted, 0u) << "the open chunk should still have served";
    EXPECT_LT(accepted, results.size()) << "the full heap never refused";
    for (size_t i = accepted; i < results.size(); ++i)
        EXPECT_EQ(results[i], 0) << "post " << i << " accepted after a refusal";
    std::vector<EventTuple> queued = EventQueueTakeAll();
    ASSERT_EQ(queued.size(), accepted);
    for (size_t i = 0; i < accepted; ++i)
        EXPECT_EQ(queued[i], EventTuple(EVT_GADGET, (ObjectNumber)i, 2, 0));

    EXPECT_EQ(EventPost(EVT_GADGET, 4, 2, 0), 1) << "posting does not recover";
    EXPECT_EQ(EventNext(), EVT_GADGET);
    EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
    HeapDestroy(full);
}

}  // namespace
