// A whole start-up and shutdown in a process of its own: after ProcessStart
// every service works without further set-up, slots and per-thread segments
// lie in start-up order, and ProcessEnd releases what the program left open.
// The tests run in file order and share the process's services.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/data/array.h"
#include "runtime/data/symbol_table.h"
#include "runtime/data/thread_data.h"
#include "runtime/process/image_table.h"
#include "runtime/process/library_probe.h"
#include "runtime/process/process_start.h"
#include "runtime/process/spare.h"
#include "runtime/process/string_service.h"
#include "runtime/process/thread.h"
#include "runtime/window/event.h"
#include "runtime/window/font.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

namespace {

bool Started;

class StartEnvironment : public testing::Environment {
public:
    void SetUp() override { Started = ProcessStart(); }
};

testing::Environment* const START = testing::AddGlobalTestEnvironment(new StartEnvironment);

bool HeapExists(HANDLE heap)
{
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    DWORD count = GetProcessHeaps((DWORD)heaps.size(), heaps.data());
    for (DWORD i = 0; i < count && i < heaps.size(); ++i)
        if (heaps[i] == heap)
            return true;
    return false;
}

ptrdiff_t SegmentOffset(const void* segment)
{
    return static_cast<const char*>(segment) - static_cast<const char*>(ThreadDataGet(0));
}

TEST(ProcessStart, EveryServiceComesUp)
{
    ASSERT_TRUE(Started);
    EXPECT_EQ(ProcessServicesStarted, 14);
    EXPECT_TRUE(StringServiceReady());
    EXPECT_TRUE(HeapExists(StringHeap));
    EXPECT_TRUE(HeapExists(SpareHeap));
    EXPECT_NE(SpareSlot, TLS_OUT_OF_INDEXES);
    EXPECT_TRUE(IsWindow(PostEventWindow));
    EXPECT_NE(ImageTable, nullptr);
    EXPECT_NE(FontTable, nullptr);
    EXPECT_NE(WindowTable, nullptr);
    EXPECT_NE(GadgetTable, nullptr);
    EXPECT_NE(SymbolTable, nullptr);
    EXPECT_NE(ContainerOps.arrayCreate, nullptr);
    EXPECT_NE(ContainerOps.mapCreate, nullptr);
    EXPECT_NE(ImagingLibrary, nullptr);
}

// TlsAlloc hands out the lowest free index, so index order is start-up order.
// The per-thread data slot is the one holding this thread's block.
TEST(ProcessStart, SlotsInStartUpOrder)
{
    void* block = ThreadDataGet(0);
    ASSERT_NE(block, nullptr);
    DWORD dataSlot = TLS_OUT_OF_INDEXES;
    for (DWORD slot = 0; slot < 1088 && dataSlot == TLS_OUT_OF_INDEXES; ++slot)
        if (slot != StringWorkSlot && slot != SpareSlot && TlsGetValue(slot) == block)
            dataSlot = slot;
    ASSERT_NE(dataSlot, TLS_OUT_OF_INDEXES);
    EXPECT_LT(StringWorkSlot, dataSlot);
    EXPECT_LT(dataSlot, SpareSlot);
}

// Event, spare, the two window segments, gadget: each right after the last.
// The first window segment is found by the values WindowLastMessageSet
// leaves in it.
TEST(ProcessStart, SegmentsInStartUpOrder)
{
    ptrdiff_t event = SegmentOffset(EventQueueGet());
    ptrdiff_t gadget = SegmentOffset(GadgetContainerGet());
    const WPARAM mark = (WPARAM)0x5A17C0DE;
    WindowLastMessageSet(mark, 0);
    // Segments are 4-byte aligned, so the mark may be unaligned in the port.
    auto* block = static_cast<const char*>(ThreadDataGet(0));
    ptrdiff_t window = -1;
    for (ptrdiff_t at = 0; at < gadget && window < 0; at += 4) {
        WPARAM value;
        memcpy(&value, block + at, sizeof(value));
        if (value == mark)
            window = at;
    }
    WindowLastMessageSet(0, 0);

    EXPECT_EQ(event, 0);
    EXPECT_EQ(SpareSegmentOffset, (sizeof(EventQueueState) + 3) / 4 * 4);
    EXPECT_EQ(window, (ptrdiff_t)(SpareSegmentOffset + SPARE_SEGMENT_SIZE));
    // Two pointer-sized window segments (last message pair, then the destruction mark)
    // lie between the first window segment and the gadget segment.
    EXPECT_EQ(gadget, window + (ptrdiff_t)(3 * sizeof(void*)));
}

DWORD WINAPI Returns7(LPVOID) { return 7; }

HWND MainWindow, RunButton;
HFONT ButtonFont;

TEST(ProcessStart, ServicesWorkWithoutFurtherSetUp)
{
    EXPECT_NE(SymbolRegister("Norvane()", 0x1234), nullptr);
    EXPECT_EQ(SymbolLookup("NORVANE()"), 0x1234);

    int32_t* table = nullptr;
    ASSERT_NE(ArrayCreate(sizeof(int32_t), 8, TYPE_INTEGER, nullptr, &table), nullptr);
    ASSERT_NE(table, nullptr);
    table[7] = 42;
    ArrayFree(table);
    EXPECT_EQ(table, nullptr);

    int32_t thread = ThreadCreate(Returns7, 0);
    EXPECT_EQ(thread, 1);
    EXPECT_EQ(ThreadWait(thread, 5000), 1);
    EXPECT_EQ(ThreadIsRunning(thread), 0);

    ASSERT_NE(FontLoad(1, "Arial", 12, FONT_BOLD), 0);
    ButtonFont = FontHandle(1);
    EXPECT_EQ(GetObjectType(ButtonFont), (DWORD)OBJ_FONT);

    MainWindow = (HWND)WindowOpen(WINDOW_MAIN, 0, 0, 200, 100, "Start-up", WINDOW_CENTRE_SCREEN);
    ASSERT_TRUE(IsWindow(MainWindow));
    RunButton = (HWND)ButtonCreate(4, 10, 10, 80, 24, "Run");
    ASSERT_TRUE(IsWindow(RunButton));
    EXPECT_EQ(GetParent(RunButton), MainWindow);
    EXPECT_NE(GadgetSetFont(4, (intptr_t)ButtonFont), 0);

    while (EventNext() != 0) {
        // the window's own activation events
    }
    EventPost(EVT_GADGET, 4, WINDOW_MAIN, 0);
    EXPECT_EQ(EventNext(), EVT_GADGET);
    EXPECT_EQ(EventSource(), 4);
}

// As after the control window's exit button: the window, its button and the
// font are still there when the end routines run.
TEST(ProcessEnd, ReleasesWhatIsStillHeld)
{
    ASSERT_TRUE(IsWindow(MainWindow));
    HWND eventWindow = PostEventWindow;
    HANDLE spareHeap = SpareHeap;
    ProcessEnd();
    EXPECT_FALSE(IsWindow(MainWindow));
    EXPECT_FALSE(IsWindow(RunButton));
    EXPECT_EQ(GetObjectType(ButtonFont), 0u) << "the font is deleted";
    EXPECT_FALSE(IsWindow(eventWindow));
    EXPECT_FALSE(HeapExists(spareHeap));
    EXPECT_EQ(ImagingLibrary, nullptr);
    EXPECT_EQ(ThreadList, nullptr);
    EXPECT_EQ(ProcessServicesStarted, 0);

    // A second end path finds nothing to end, and the string service still
    // ends after it.
    ProcessEnd();
    HANDLE stringHeap = StringHeap;
    StringServiceEnd();
    EXPECT_FALSE(HeapExists(stringHeap));
}

}  // namespace
