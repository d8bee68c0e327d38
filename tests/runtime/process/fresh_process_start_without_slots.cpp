// Start-up without thread-local storage: with no slot at all the string
// service cannot come up; with one slot left, the per-thread data behind the
// event queue cannot. ProcessStart reports false, stops there, and the end
// path then ends only what came up.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/data/symbol_table.h"
#include "runtime/process/process_start.h"
#include "runtime/process/spare.h"
#include "runtime/process/string_service.h"
#include "runtime/window/event.h"
#include "runtime/window/font.h"
#include "tls_slots.h"

namespace {

struct SlotCase {
    const char* name;
    size_t slotsLeft;
    int32_t started;    // initialisers that came up
    bool eventWindow;   // the event service's window was made
};

// Runs in this order: a start-up that stopped leaves the later services
// unmade, so the second case starts where the first one stopped.
const SlotCase SLOT_CASES[] = {
    {"no slot at all", 0, 0, false},
    {"one slot, taken by the string service", 1, 3, true},
};

TEST(ProcessStartWithoutSlots, StopsAtTheFirstServiceThatCannotComeUp)
{
    for (const SlotCase& c : SLOT_CASES) {
        std::vector<DWORD> taken = TakeEverySlot();
        ASSERT_GE(taken.size(), c.slotsLeft);
        for (size_t i = 0; i < c.slotsLeft; ++i) {
            TlsFree(taken.back());
            taken.pop_back();
        }
        bool started = ProcessStart();
        EXPECT_FALSE(started) << c.name;
        EXPECT_EQ(ProcessServicesStarted, c.started) << c.name;
        EXPECT_EQ(PostEventWindow != nullptr, c.eventWindow) << c.name;
        EXPECT_EQ(FontTable, nullptr) << c.name << ": nothing after the failure ran";
        EXPECT_EQ(SpareHeap, nullptr) << c.name;
        EXPECT_EQ(SymbolTable, nullptr) << c.name;

        // The end path: no end routine meets a service that was never made.
        ProcessEnd();
        StringServiceEnd();
        EXPECT_EQ(ProcessServicesStarted, 0) << c.name;
        EXPECT_EQ(StringHeap, nullptr) << c.name;
        FreeSlots(taken);
    }
}

}  // namespace
