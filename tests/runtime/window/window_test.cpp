// Window objects against the real window system: what WindowOpen hands to
// CreateWindowExA and ShowWindow, where the window lands, and what
// WindowClose gives back.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "runtime/process/globals.h"
#include "tests/runtime/process/heap_count.h"
#include "tests/runtime/process/import_slot.h"
#include "tests/runtime/window/window_services.h"

IMPORT_SLOT(CreateWindowExA, 48);
IMPORT_SLOT(ShowWindow, 8);
IMPORT_SLOT(CreateSolidBrush, 4);

namespace {

// The arguments of the last CreateWindowExA and ShowWindow of the runtime,
// taken at its import slots: exactly what it passed, before the system adds
// bits of its own.
struct CreateCall {
    bool seen;
    DWORD style;
    DWORD extendedStyle;
    int x, y, width, height;
    std::string className;
};

CreateCall LastCreate;
int LastShowCommand;
int ShowCalls;
bool ShowForReal;

typedef HWND(WINAPI* CreateWindowExARoutine)(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int,
                                              HWND, HMENU, HINSTANCE, LPVOID);
typedef BOOL(WINAPI* ShowWindowRoutine)(HWND, int);
CreateWindowExARoutine RealCreateWindowExA;
ShowWindowRoutine RealShowWindow;

HWND WINAPI RecordingCreateWindowExA(DWORD extendedStyle, LPCSTR className, LPCSTR title,
                                     DWORD style, int x, int y, int width, int height,
                                     HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    if (!IS_INTRESOURCE(className) && std::string(className).rfind("WindowClass_", 0) == 0)
        LastCreate = {true, style, extendedStyle, x, y, width, height, className};
    return RealCreateWindowExA(extendedStyle, className, title, style, x, y, width, height,
                               parent, menu, instance, param);
}

// Showing is recorded; a shown window costs about 2 s to hide or destroy
// under Wine without a window manager, so only tests that look at the
// shown window show it for real.
BOOL WINAPI RecordingShowWindow(HWND window, int command)
{
    LastShowCommand = command;
    ShowCalls++;
    return ShowForReal ? RealShowWindow(window, command) : TRUE;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

WindowRecord* RecordOf(ObjectNumber number)
{
    return static_cast<WindowRecord*>(ObjectGet(WindowTable, number));
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

bool ClassRegistered(const char* name)
{
    WNDCLASSA info;
    return GetClassInfoA(InstanceHandle, name, &info) != 0;
}

class WindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() { WindowServicesStart(); }

    void SetUp() override
    {
        LastCreate = {};
        LastShowCommand = -1;
        ShowCalls = 0;
        ShowForReal = false;
        RealCreateWindowExA = (CreateWindowExARoutine)__imp_CreateWindowExA;
        RealShowWindow = (ShowWindowRoutine)__imp_ShowWindow;
        ImportSlotSwap(&__imp_CreateWindowExA, (void*)RecordingCreateWindowExA);
        ImportSlotSwap(&__imp_ShowWindow, (void*)RecordingShowWindow);
        screenWidth = GetSystemMetrics(SM_CXSCREEN);
        screenHeight = GetSystemMetrics(SM_CYSCREEN);
    }

    void TearDown() override
    {
        ImportSlotSwap(&__imp_CreateWindowExA, (void*)RealCreateWindowExA);
        ImportSlotSwap(&__imp_ShowWindow, (void*)RealShowWindow);
        WindowClose(ANY_NUMBER);
        PumpMessages();
        EventQueueDrain();
    }

    int screenWidth = 0;
    int screenHeight = 0;
};

TEST_F(WindowTest, MainWindowIsACentredCaptionedToolWindow)
{
    ShowForReal = true;
    intptr_t result = WindowOpen(2, 0, 0, 300, 200, "Norvane", 5);
    HWND window = FindWindowA("WindowClass_2", "Norvane");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(result, (intptr_t)window);
    EXPECT_EQ(ClassOf(window), "WindowClass_2");

    ASSERT_TRUE(LastCreate.seen);
    EXPECT_EQ(LastCreate.style, 0x00C00000u);
    EXPECT_EQ(LastCreate.extendedStyle, 0x80u);
    // The system may add bits (clip siblings, window edge); never visibility
    // at creation, and the caption and tool bits stay.
    EXPECT_EQ((DWORD)GetWindowLongA(window, GWL_STYLE) & 0x00CF0000u, 0x00C00000u);
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);

    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 300);
    EXPECT_EQ(client.bottom - client.top, 200);

    RECT outer;
    GetWindowRect(window, &outer);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    EXPECT_EQ(width, LastCreate.width);
    EXPECT_EQ(height, LastCreate.height);
    EXPECT_EQ(outer.left, (screenWidth - width) / 2);
    EXPECT_EQ(outer.top, (screenHeight - height) / 2);

    EXPECT_EQ(LastShowCommand, SW_SHOWNORMAL);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(IsIconic(window));
    EXPECT_FALSE(IsZoomed(window));
    EXPECT_EQ(GetActiveWindow(), window);
    EXPECT_EQ((intptr_t)GetPropA(window, "KX_WindowID"), 3);

    WindowRecord* record = RecordOf(2);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->window, window);
    EXPECT_EQ(record->backgroundColour, -1);
    EXPECT_EQ(record->backgroundBrush, nullptr);
    EXPECT_EQ(record->sized, 0);
    EXPECT_EQ(record->acceleratorCount, 2);
}

TEST_F(WindowTest, AcceleratorsAreTabAndShiftTab)
{
    ASSERT_NE(WindowOpen(2, 0, 0, 300, 200, "Norvane", 5), 0);
    HACCEL table = WindowAccelerators(2);
    ASSERT_NE(table, nullptr);
    ACCEL entries[4] = {};
    ASSERT_EQ(CopyAcceleratorTableA(table, entries, 4), 2);
    EXPECT_EQ(entries[0].fVirt & 0x7F, 3);
    EXPECT_EQ(entries[0].key, VK_TAB);
    EXPECT_EQ(entries[0].cmd, 64001);
    EXPECT_EQ(entries[1].fVirt & 0x7F, 7);
    EXPECT_EQ(entries[1].key, VK_TAB);
    EXPECT_EQ(entries[1].cmd, 64002);
    EXPECT_EQ(WindowAccelerators(3), nullptr);
}

struct FlagsCase {
    const char* label;
    uint32_t flags;
    DWORD style;          // as passed to CreateWindowExA
    DWORD extendedStyle;
    int showCommand;      // -1: not shown
    int32_t sized;
};

const FlagsCase FLAGS_CASES[] = {
    {"none: captioned", 0, 0x00C00000, 0, SW_SHOWNORMAL, 0},
    {"hidden alone: captioned, not shown", 0x10000000, 0x00C00000, 0, -1, 0},
    {"centring and hidden: captioned", 0x10000003, 0x00C00000, 0, -1, 0},
    {"no container alone: captioned", 0x8, 0x00C00000, 0, SW_SHOWNORMAL, 0},
    {"system menu: no caption added", WS_SYSMENU, WS_SYSMENU, 0, SW_SHOWNORMAL, 0},
    {"caption and system menu kept", WS_CAPTION | WS_SYSMENU, WS_CAPTION | WS_SYSMENU, 0,
     SW_SHOWNORMAL, 0},
    {"tool", 0x4, 0x00C00000, 0x80, SW_SHOWNORMAL, 0},
    {"tool keeps other styles", 0x4 | WS_SYSMENU | WS_THICKFRAME,
     0x00C00000 | WS_SYSMENU | WS_THICKFRAME, 0x80, SW_SHOWNORMAL, 0},
    {"tool drops maximise and the boxes", 0x4 | WS_MAXIMIZE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
     0x00C00000, 0x80, SW_SHOWNORMAL, 0},
    {"tool drops minimise", 0x4 | WS_MINIMIZE, 0x00C00000, 0x80, SW_SHOWNORMAL, 0},
    {"tool without activation", 0x4 | 0x02000000, 0x00C00000, 0x80, SW_SHOWNOACTIVATE, 0},
    {"maximised", WS_CAPTION | 0x01000000, WS_CAPTION | WS_MAXIMIZE, 0, SW_SHOWMAXIMIZED, 1},
    {"maximised alone gets no caption", 0x01000000, WS_MAXIMIZE, 0, SW_SHOWMAXIMIZED, 1},
    {"minimised", WS_CAPTION | 0x20000000, WS_CAPTION | WS_MINIMIZE, 0, SW_SHOWMINIMIZED, 1},
    {"both: maximise wins", WS_CAPTION | 0x21000000, WS_CAPTION | WS_MINIMIZE | WS_MAXIMIZE, 0,
     SW_SHOWMAXIMIZED, 1},
    {"no activation is not a style", WS_CAPTION | 0x02000000, WS_CAPTION, 0, SW_SHOWNOACTIVATE, 0},
    {"maximised without activation", WS_CAPTION | 0x03000000, WS_CAPTION | WS_MAXIMIZE, 0,
     SW_SHOWNA, 1},
    {"minimised without activation", WS_CAPTION | 0x22000000, WS_CAPTION | WS_MINIMIZE, 0,
     SW_SHOWMINNOACTIVE, 1},
    {"hidden maximised: sized, not shown", WS_CAPTION | 0x11000000, WS_CAPTION | WS_MAXIMIZE, 0,
     -1, 1},
};

TEST_F(WindowTest, FlagsDecideStyleAndShowing)
{
    for (const FlagsCase& c : FLAGS_CASES) {
        SCOPED_TRACE(c.label);
        LastCreate = {};
        LastShowCommand = -1;
        ShowCalls = 0;
        intptr_t result = WindowOpen(2, 10, 10, 200, 100, "flags", c.flags);
        ASSERT_NE(result, 0);
        ASSERT_TRUE(LastCreate.seen);
        EXPECT_EQ(LastCreate.className, "WindowClass_2");
        EXPECT_EQ(LastCreate.style, c.style);
        EXPECT_EQ(LastCreate.extendedStyle, c.extendedStyle);
        EXPECT_EQ(LastShowCommand, c.showCommand);
        EXPECT_EQ(ShowCalls, c.showCommand == -1 ? 0 : 1);
        EXPECT_EQ(RecordOf(2)->sized, c.sized);
        // The outer size is the client size adjusted for the style passed.
        RECT outer = {0, 0, 200, 100};
        AdjustWindowRectEx(&outer, c.style, FALSE, c.extendedStyle);
        EXPECT_EQ(LastCreate.width, outer.right - outer.left);
        EXPECT_EQ(LastCreate.height, outer.bottom - outer.top);
        WindowClose(2);
    }
}

struct PositionCase {
    const char* label;
    int32_t x, y;
    uint32_t flags;
    int32_t createdX, createdY;  // as passed to CreateWindowExA
};

const PositionCase POSITION_CASES[] = {
    {"given", 30, 40, 0x8, 30, 40},
    {"default x with y given", -65535, 40, 0x8, CW_USEDEFAULT, CW_USEDEFAULT},
    {"default x while centring", -65535, 40, 0x9, CW_USEDEFAULT, CW_USEDEFAULT},
    {"default y", 30, -65535, 0x8, CW_USEDEFAULT, CW_USEDEFAULT},
    {"default y while centring on the screen", 30, -65535, 0x9, 30, -65535},
    {"default y while centring on the parent", 30, -65535, 0xA, 30, -65535},
};

TEST_F(WindowTest, DefaultPositionRule)
{
    for (const PositionCase& c : POSITION_CASES) {
        SCOPED_TRACE(c.label);
        LastCreate = {};
        ASSERT_NE(WindowOpen(2, c.x, c.y, 120, 80, "position", c.flags), 0);
        ASSERT_TRUE(LastCreate.seen);
        EXPECT_EQ(LastCreate.x, c.createdX);
        EXPECT_EQ(LastCreate.y, c.createdY);
        WindowClose(2);
    }
    ASSERT_NE(WindowOpen(2, 30, 40, 120, 80, "position", 0x8), 0);
    RECT outer;
    GetWindowRect(RecordOf(2)->window, &outer);
    EXPECT_EQ(outer.left, 30);
    EXPECT_EQ(outer.top, 40);
}

TEST_F(WindowTest, ScreenCentringClampsWindowsLargerThanTheScreen)
{
    struct {
        const char* label;
        int width, height;
        bool wide, tall;
    } cases[] = {
        {"wider", screenWidth + 200, 100, true, false},
        {"taller", 100, screenHeight + 200, false, true},
        {"both", screenWidth + 50, screenHeight + 50, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        intptr_t result = WindowOpen(2, 5, 5, c.width, c.height, "big", 0x10000001);
        ASSERT_NE(result, 0);
        RECT outer;
        GetWindowRect(reinterpret_cast<HWND>(result), &outer);
        int width = outer.right - outer.left;
        int height = outer.bottom - outer.top;
        EXPECT_EQ(outer.left, c.wide ? 0 : (screenWidth - width) / 2);
        EXPECT_EQ(outer.top, c.tall ? 0 : (screenHeight - height) / 2);
        WindowClose(2);
    }
}

TEST_F(WindowTest, ParentCentring)
{
    ShowForReal = true;  // only shown windows can be activated
    auto reference = reinterpret_cast<HWND>(WindowOpen(3, 100, 60, 400, 300, "reference", 0x8));
    ASSERT_NE(reference, nullptr);
    auto window = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 100, 50, "centred", 0x10000008));
    ASSERT_NE(window, nullptr);
    RECT area, own;
    GetWindowRect(reference, &area);
    GetWindowRect(window, &own);
    int width = own.right - own.left;
    int height = own.bottom - own.top;

    WindowCentre(window, WINDOW_CENTRE_PARENT, reference);
    GetWindowRect(window, &own);
    EXPECT_EQ(own.left, area.left + (area.right - area.left - width) / 2);
    EXPECT_EQ(own.top, area.top + (area.bottom - area.top - height) / 2);

    // Without a parent the active window is the reference.
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetActiveWindow(reference);
    ASSERT_EQ(GetActiveWindow(), reference);
    WindowCentre(window, WINDOW_CENTRE_PARENT, nullptr);
    GetWindowRect(window, &own);
    EXPECT_EQ(own.left, area.left + (area.right - area.left - width) / 2);

    // Neither a parent nor an active window: the screen.
    SetActiveWindow(nullptr);
    if (GetActiveWindow() == nullptr) {
        WindowCentre(window, WINDOW_CENTRE_PARENT, nullptr);
        GetWindowRect(window, &own);
        EXPECT_EQ(own.left, (screenWidth - width) / 2);
        EXPECT_EQ(own.top, (screenHeight - height) / 2);
    } else {
        ADD_FAILURE() << "an active window remains; the no-reference case is unchecked";
    }

    // A reference partly off the screen: the corner is kept on it.
    SetWindowPos(reference, nullptr, -380, -290, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    WindowCentre(window, WINDOW_CENTRE_PARENT, reference);
    GetWindowRect(window, &own);
    EXPECT_EQ(own.left, 0);
    EXPECT_EQ(own.top, 0);
}

TEST_F(WindowTest, SetColorKeepsChangesAndRemovesTheBrush)
{
    ShowForReal = true;  // hidden windows collect no update region
    auto window = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 300, 200, "Norvane", 5));
    ASSERT_NE(window, nullptr);
    PumpMessages();
    WindowRecord* record = RecordOf(2);
    RECT update;

    EXPECT_EQ(WindowSetColor(2, 0x123456), 1);
    HBRUSH first = record->backgroundBrush;
    ASSERT_NE(first, nullptr);
    LOGBRUSH brush = {};
    ASSERT_EQ(GetObjectA(first, sizeof(brush), &brush), (int)sizeof(brush));
    EXPECT_EQ(brush.lbColor, 0x123456u);
    EXPECT_EQ(record->backgroundColour, 0x123456);
    EXPECT_TRUE(GetUpdateRect(window, &update, FALSE)) << "a new colour redraws";
    PumpMessages();

    ValidateRect(window, nullptr);
    EXPECT_EQ(WindowSetColor(2, 0x123456), 1);
    EXPECT_EQ(record->backgroundBrush, first) << "the same colour keeps its brush";
    EXPECT_EQ(GetObjectType(first), (DWORD)OBJ_BRUSH);
    EXPECT_FALSE(GetUpdateRect(window, &update, FALSE)) << "the same colour does not redraw";

    EXPECT_EQ(WindowSetColor(2, 1), 1);
    EXPECT_EQ(GetObjectType(first), 0u) << "the old brush is deleted";
    HBRUSH second = record->backgroundBrush;
    ASSERT_NE(second, nullptr);
    PumpMessages();

    EXPECT_EQ(WindowSetColor(2, -1), 1);
    EXPECT_EQ(record->backgroundBrush, nullptr);
    EXPECT_EQ(record->backgroundColour, -1);
    EXPECT_EQ(GetObjectType(second), 0u);
    EXPECT_TRUE(GetUpdateRect(window, &update, FALSE));

    EXPECT_EQ(WindowSetColor(7, 1), 0) << "no such window";
    EXPECT_EQ(WindowSetColor(ANY_NUMBER, 1), 0);
}

HBRUSH WINAPI FailingCreateSolidBrush(COLORREF)
{
    return nullptr;
}

// Without a brush the class background shows, and the record says so: the
// same colour asked for again is tried again.
TEST_F(WindowTest, SetColorWithoutABrushRecordsNoColour)
{
    ASSERT_NE(WindowOpen(2, 0, 0, 300, 200, "Norvane", 0x10000005), 0);
    WindowRecord* record = RecordOf(2);
    ASSERT_EQ(WindowSetColor(2, 0x00FF00), 1);
    HBRUSH old = record->backgroundBrush;
    {
        ImportSlotScope failing(&__imp_CreateSolidBrush, (void*)FailingCreateSolidBrush);
        EXPECT_EQ(WindowSetColor(2, 5), 0);
    }
    EXPECT_EQ(GetObjectType(old), 0u);
    EXPECT_EQ(record->backgroundBrush, nullptr);
    EXPECT_EQ(record->backgroundColour, -1);
    EXPECT_EQ(WindowSetColor(2, 5), 1);
    EXPECT_NE(record->backgroundBrush, nullptr);
    EXPECT_EQ(record->backgroundColour, 5);
}

TEST_F(WindowTest, CloseReturnsEverythingAndASecondCloseDoesNothing)
{
    auto window = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 300, 200, "Norvane", 5));
    ASSERT_NE(window, nullptr);
    auto other = reinterpret_cast<HWND>(WindowOpen(3, 0, 0, 100, 100, "other", 0x8));
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(WindowSetColor(2, 1), 1);
    HACCEL accelerators = WindowAccelerators(2);
    HBRUSH brush = RecordOf(2)->backgroundBrush;
    ASSERT_TRUE(ClassRegistered("WindowClass_2"));

    WindowClose(2);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(ClassRegistered("WindowClass_2"));
    EXPECT_EQ(CopyAcceleratorTableA(accelerators, nullptr, 0), 0) << "accelerator table destroyed";
    EXPECT_EQ(GetObjectType(brush), 0u) << "brush deleted";
    EXPECT_EQ(RecordOf(2), nullptr);
    EXPECT_EQ(WindowAccelerators(2), nullptr);

    WindowClose(2);
    WindowClose(9);
    EXPECT_TRUE(IsWindow(other));
    EXPECT_TRUE(ClassRegistered("WindowClass_3"));
    EXPECT_NE(RecordOf(3), nullptr);
}

TEST_F(WindowTest, OpeningANumberInUseClosesItsWindowFirst)
{
    auto first = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 100, 100, "first", 0x8));
    ASSERT_NE(first, nullptr);
    auto second = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 100, 100, "second", 0x8));
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindow(second));
    EXPECT_EQ(RecordOf(2)->window, second);
    EXPECT_TRUE(ClassRegistered("WindowClass_2"));
}

TEST_F(WindowTest, AnyNumberIssuesANumberOfItsOwn)
{
    intptr_t issued = WindowOpen(ANY_NUMBER, 0, 0, 100, 100, nullptr, 0x8);
    ASSERT_NE(issued, 0);
    WindowRecord* record = RecordOf(issued);
    ASSERT_NE(record, nullptr);
    HWND window = record->window;
    EXPECT_NE(issued, (intptr_t)window);
    EXPECT_EQ((intptr_t)GetPropA(window, "KX_WindowID"), issued + 1);
    std::string className = "WindowClass_" + std::to_string(issued);
    EXPECT_EQ(ClassOf(window), className);
    char title[8] = "x";
    EXPECT_EQ(GetWindowTextA(window, title, sizeof(title)), 0) << "a null title is empty";

    auto fixed = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 100, 100, "fixed", 0x8));
    WindowClose(ANY_NUMBER);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(fixed));
    EXPECT_FALSE(ClassRegistered(className.c_str()));
    EXPECT_EQ(RecordOf(issued), nullptr);
}

TEST_F(WindowTest, ServiceEndClosesEveryWindow)
{
    auto two = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 100, 100, "two", 0x8));
    intptr_t issued = WindowOpen(ANY_NUMBER, 0, 0, 100, 100, "any", 0x8);
    HWND any = RecordOf(issued)->window;
    WindowServiceEnd();
    EXPECT_FALSE(IsWindow(two));
    EXPECT_FALSE(IsWindow(any));
    EXPECT_FALSE(ClassRegistered("WindowClass_2"));
}

// Counts for the leak test. GetGuiResources is a stub under Wine 8 (0 and
// ERROR_CALL_NOT_IMPLEMENTED), so GDI objects are counted in the process's
// GDI handle table, which Wine keeps where Windows does (the PEB's
// GdiSharedHandleTable; Wine's entries are 24 bytes in 32-bit processes
// too): entries with a type that are not stock objects. Windows are counted
// by enumeration, and main-heap blocks by walking the heap.
struct GdiHandleEntry {
    uint64_t object;
    uint32_t owner;
    uint16_t unique;  // bit 7: stock object
    uint8_t type;
    uint8_t flags;
    uint64_t user;
};
static_assert(sizeof(GdiHandleEntry) == 24);

int GdiObjectCount()
{
    const unsigned char* peb;  // from the TEB
#if defined(__x86_64__)
    asm("movq %%gs:0x60, %0" : "=r"(peb));
    auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + 0xF8);
#else
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + 0x94);
#endif
    if (!table)
        return -1;
    int count = 0;
    for (int i = 0; i < 0x10000; i++)
        count += table[i].type != 0 && !(table[i].unique & 0x80);
    return count;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountWindow, count);
    return TRUE;
}

int ThreadWindowCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

int MainHeapBlockCount()
{
    return (int)HeapBusyBlocks(MainHeap);
}

// Window 2 as the program uses it, a thousand times. The loop records
// ShowWindow instead of mapping the window (each unmapping costs about 2 s
// under Wine without a window manager); the first cycles show it for real.
TEST_F(WindowTest, AThousandOpeningsLeaveTheCountsWhereTheyStarted)
{
    auto cycle = [] {
        intptr_t result = WindowOpen(2, 0, 0, 300, 200, "Norvane", 5);
        WindowSetColor(2, 1);
        PumpMessages();
        WindowClose(2);
        PumpMessages();
        EventQueueDrain();
        return result;
    };
    ShowForReal = true;
    ASSERT_NE(cycle(), 0);  // warms up the pools and the class atom
    ASSERT_NE(cycle(), 0);
    ShowForReal = false;
    int gdi = GdiObjectCount();
    int windows = ThreadWindowCount();
    int blocks = MainHeapBlockCount();
    ASSERT_GE(gdi, 0) << "no GDI handle table to count";

    std::set<uint16_t> windowSlots, acceleratorSlots;
    for (int i = 0; i < 1000; i++) {
        intptr_t result = WindowOpen(2, 0, 0, 300, 200, "Norvane", 5);
        ASSERT_NE(result, 0) << "cycle " << i;
        windowSlots.insert(LOWORD(result));
        HACCEL accelerators = WindowAccelerators(2);
        acceleratorSlots.insert(LOWORD(reinterpret_cast<uintptr_t>(accelerators)));
        WindowSetColor(2, 1);
        PumpMessages();
        WindowClose(2);
        ASSERT_EQ(CopyAcceleratorTableA(accelerators, nullptr, 0), 0) << "cycle " << i;
        PumpMessages();
        EventQueueDrain();
    }
    EXPECT_EQ(GdiObjectCount(), gdi);
    EXPECT_EQ(ThreadWindowCount(), windows);
    EXPECT_EQ(MainHeapBlockCount(), blocks);
    EXPECT_FALSE(ClassRegistered("WindowClass_2"));
    // USER handles are reused slot by slot once freed: a leak would take a
    // new slot on every cycle.
    EXPECT_LE(windowSlots.size(), 4u);
    EXPECT_LE(acceleratorSlots.size(), 4u);
    std::printf("[ measure  ] GDI objects %d, thread windows %d, main-heap blocks %d; "
                "USER slots used: %zu window, %zu accelerator\n",
                gdi, windows, blocks, windowSlots.size(), acceleratorSlots.size());
}

TEST_F(WindowTest, BadNumbersOpenNothing)
{
    EXPECT_EQ(WindowOpen(-2, 0, 0, 100, 100, "negative", 0x8), 0);
    EXPECT_EQ(WindowOpen(OBJECT_NUMBER_LIMIT, 0, 0, 100, 100, "too large", 0x8), 0);
    EXPECT_FALSE(LastCreate.seen);
}

}  // namespace
