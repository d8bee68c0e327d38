// Start-up is a fixed table of initialisers, each with the test that tells
// whether its service came up (none for services whose failure cannot be
// observed or does not matter). The services assume their predecessors
// exist, so the first failure stops the sequence. Every step is also
// followed by the per-thread data's own test, since four services reserve
// segments there and a reservation has no result to examine. Shutdown is a second
// table in its own order, not the reverse of the first: each end routine
// names the initialiser whose work it undoes and runs only when that one came
// up, so the end routines never meet a service that was never made.
#include "runtime/process/process_start.h"

#include "runtime/data/array.h"
#include "runtime/data/keyed_map.h"
#include "runtime/data/symbol_table.h"
#include "runtime/data/thread_data.h"
#include "runtime/process/image_table.h"
#include "runtime/process/library_probe.h"
#include "runtime/process/spare.h"
#include "runtime/process/string_service.h"
#include "runtime/process/thread.h"
#include "runtime/window/event.h"
#include "runtime/window/font.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

int32_t ProcessServicesStarted;

namespace {

struct StartStep {
    void (*init)();
    bool (*cameUp)();  // null: nothing to test, or a failure the program survives
};

struct EndStep {
    void (*end)();
    int32_t startStep;  // index in START_STEPS of the service it ends
};

}  // namespace

// The queue lives in per-thread data. Without the per-thread data slot each
// ThreadDataGet hands out a fresh block, so a queue that does not stay put
// means the slot is missing and every queued event would be lost; so would
// they be with a queue that has no pool to take its nodes from.
static bool EventServiceUp()
{
    EventQueueState* queue = EventQueueGet();
    return PostEventWindow && EventBindings && queue && queue == EventQueueGet() && queue->pool;
}

static bool FontServiceUp() { return FontTable != nullptr; }
static bool WindowServiceUp() { return WindowTable != nullptr; }
static bool GadgetServiceUp() { return GadgetTable != nullptr; }
static bool SymbolTableUp() { return SymbolTable != nullptr; }

// Per-thread segments are laid out in registration order (event, spare,
// window ×2, gadget) and TLS slots are taken in this order too (string work,
// per-thread data, spare).
static const StartStep START_STEPS[] = {
    {StringServiceInit, StringServiceReady},
    {ArrayServiceInit, nullptr},
    {MapServiceInit, nullptr},
    {EventServiceInit, EventServiceUp},
    {FontServiceInit, FontServiceUp},
    {SpareSlotInit, nullptr},
    {SpareHeapInit, nullptr},
    {SpareRecordInit, nullptr},
    {ImageTableInit, nullptr},
    {LibraryProbe, nullptr},
    {WindowServiceInit, WindowServiceUp},
    {GadgetServiceInit, GadgetServiceUp},
    {SymbolTableInit, SymbolTableUp},
    {ThreadServiceInit, nullptr},
};

enum : int32_t {
    STEP_EVENTS = 3,
    STEP_FONTS = 4,
    STEP_SPARE_HEAP = 6,
    STEP_IMAGES = 8,
    STEP_LIBRARIES = 9,
    STEP_WINDOWS = 10,
    STEP_GADGETS = 11,
    STEP_THREADS = 13,
};

// Windows are closed (their buttons with them) before the fonts they use
// are freed, and the hidden event window goes after both.
static const EndStep END_STEPS[] = {
    {ThreadReleaseAll, STEP_THREADS},
    {GadgetServiceEnd, STEP_GADGETS},
    {WindowServiceEnd, STEP_WINDOWS},
    {LibraryRelease, STEP_LIBRARIES},
    {ImageServiceEnd, STEP_IMAGES},
    {FontServiceEnd, STEP_FONTS},
    {EventServiceEnd, STEP_EVENTS},
    {SpareHeapEnd, STEP_SPARE_HEAP},
};

static_assert(sizeof(START_STEPS) / sizeof(START_STEPS[0]) == 14);
static_assert(sizeof(END_STEPS) / sizeof(END_STEPS[0]) == 8);

bool ProcessStart()
{
    ProcessServicesStarted = 0;
    for (const StartStep& step : START_STEPS) {
        step.init();
        // The per-thread data first: a service's own test may read its
        // segment, and without the slot that read would take the main
        // thread for a new one.
        if (!ThreadDataComplete() || (step.cameUp && !step.cameUp()))
            return false;
        ++ProcessServicesStarted;
    }
    return true;
}

void ProcessEnd()
{
    int32_t started = ProcessServicesStarted;
    ProcessServicesStarted = 0;
    for (const EndStep& step : END_STEPS)
        if (step.startStep < started)
            step.end();
}
