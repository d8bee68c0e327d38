// Push buttons: what ButtonCreate makes, when it refuses, and fonts.
#include <string>

#include "runtime/window/font.h"
#include "tests/runtime/window/event_test_support.h"

namespace {

class ButtonTest : public testing::Test {
protected:
    HWND window = nullptr;
    void SetUp() override
    {
        WindowServicesStart();
        window = (HWND)WindowOpen(WINDOW_MAIN, 0, 0, 300, 200, "Norvane", 5);
        ASSERT_NE(window, nullptr);
        EventPump();
        EventQueueTakeAll();
    }
    void TearDown() override
    {
        GadgetSetFont(ANY_NUMBER, -1);
        WindowClose(WINDOW_MAIN);
        EventPump();
        EventQueueTakeAll();
    }
};

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

TEST_F(ButtonTest, ButtonIsAVisiblePushButtonNamedByItsNumber)
{
    HWND button = (HWND)ButtonCreate(4, 20, 20, 256, 60, "Run norvane");
    ASSERT_TRUE(IsWindow(button));
    EXPECT_EQ(ClassOf(button), "Button");
    EXPECT_EQ(GetParent(button), window);
    EXPECT_TRUE(IsWindowVisible(button));
    LONG style = GetWindowLongA(button, GWL_STYLE);
    EXPECT_EQ(style & 0x50030000, 0x50030000);
    EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(GetWindowLongPtrA(button, GWLP_ID), 4);
    EXPECT_EQ(GetPropA(button, "KX_ID"), (HANDLE)4);
    EXPECT_EQ((HFONT)SendMessageA(button, WM_GETFONT, 0, 0), GadgetDefaultGuiFont);
    EXPECT_EQ(GadgetDefaultGuiFont, (HFONT)GetStockObject(DEFAULT_GUI_FONT));
    char text[32] = {};
    GetWindowTextA(button, text, sizeof text);
    EXPECT_STREQ(text, "Run norvane");
    RECT r;
    GetWindowRect(button, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, 256);
    EXPECT_EQ(r.bottom - r.top, 60);
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, 4));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->window, button);
    EXPECT_EQ(record->kind, &ButtonKind);
    EXPECT_EQ(ButtonKind.code, GADGET_KIND_BUTTON);
    EXPECT_TRUE(ButtonKind.getState && ButtonKind.setState && ButtonKind.requiredSize);
    EXPECT_FALSE(ButtonKind.notify || ButtonKind.destroy || ButtonKind.font);
    EXPECT_EQ((WNDPROC)GetWindowLongPtrA(button, GWLP_WNDPROC), GadgetProc);
}

TEST_F(ButtonTest, NullTextAndIssuedNumbers)
{
    intptr_t issued = ButtonCreate(ANY_NUMBER, 0, 0, 40, 20, nullptr);
    ASSERT_NE(issued, 0);
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, issued));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ((intptr_t)record, issued) << "the issued number is the record's identity";
    EXPECT_EQ(GetWindowLongPtrA(record->window, GWLP_ID), issued);
    EXPECT_EQ((intptr_t)GetPropA(record->window, "KX_ID"), issued);
    EXPECT_EQ(GetWindowTextLengthA(record->window), 0);
    EXPECT_EQ(GadgetFree(issued), 1);
    EXPECT_EQ(ObjectGet(GadgetTable, issued), nullptr);
}

TEST_F(ButtonTest, AButtonUnderATakenNumberReplacesTheOldOne)
{
    HWND first = (HWND)ButtonCreate(8, 0, 0, 40, 20, "first");
    EventPost(EVT_GADGET, 8, 2, 0);
    HWND second = (HWND)ButtonCreate(8, 0, 30, 40, 20, "second");
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(IsWindow(first));
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, 8));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->window, second);
    EXPECT_TRUE(EventQueueClicks().empty()) << "the old button's click outlived it";
}

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

struct RefusedCase {
    const char* name;
    ObjectNumber number;
};

TEST_F(ButtonTest, NumbersTheTableRefusesLeaveNoControl)
{
    const RefusedCase cases[] = {{"negative", -7}, {"past the limit", OBJECT_NUMBER_LIMIT}};
    for (const RefusedCase& c : cases) {
        int before = 0;
        EnumChildWindows(window, CountChild, (LPARAM)&before);
        EXPECT_EQ(ButtonCreate(c.number, 0, 0, 10, 10, "x"), 0) << c.name;
        int after = 0;
        EnumChildWindows(window, CountChild, (LPARAM)&after);
        EXPECT_EQ(after, before) << c.name << ": a control was left behind";
    }
}

TEST_F(ButtonTest, NoContainerAfterTheWindowClosed)
{
    WindowClose(WINDOW_MAIN);
    EXPECT_EQ(GadgetContainerSet(nullptr), nullptr);
    EXPECT_EQ(ButtonCreate(30, 0, 0, 10, 10, "late"), 0);
    EXPECT_EQ(ObjectGet(GadgetTable, 30), nullptr);
}

DWORD WINAPI CreateOnFreshThread(void* result)
{
    *static_cast<intptr_t*>(result) = ButtonCreate(31, 0, 0, 10, 10, "early");
    return 0;
}

TEST_F(ButtonTest, NoContainerOnAThreadThatOpenedNoWindow)
{
    intptr_t result = -1;
    HANDLE thread = CreateThread(nullptr, 0, CreateOnFreshThread, &result, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ObjectGet(GadgetTable, 31), nullptr);
}

TEST_F(ButtonTest, FontsForOneGadgetAndForTheThreadsNextGadgets)
{
    intptr_t loaded = FontLoad(ANY_NUMBER, "Arial", 14, FONT_PROOF_QUALITY);
    ASSERT_NE(loaded, 0);
    HFONT arial = FontHandle(loaded);
    HWND plain = (HWND)ButtonCreate(4, 0, 0, 40, 20, "a");
    EXPECT_EQ(GadgetSetFont(4, (intptr_t)arial), 1);
    EXPECT_EQ((HFONT)SendMessageA(plain, WM_GETFONT, 0, 0), arial);
    EXPECT_EQ(GadgetSetFont(4, -1), 1);
    EXPECT_EQ((HFONT)SendMessageA(plain, WM_GETFONT, 0, 0), GadgetDefaultGuiFont);
    EXPECT_EQ(GadgetSetFont(99, (intptr_t)arial), 0) << "no gadget 99";

    GadgetSetFont(ANY_NUMBER, (intptr_t)arial);
    HWND styled = (HWND)ButtonCreate(8, 0, 30, 40, 20, "b");
    EXPECT_EQ((HFONT)SendMessageA(styled, WM_GETFONT, 0, 0), arial);
    EXPECT_EQ((HFONT)SendMessageA(plain, WM_GETFONT, 0, 0), GadgetDefaultGuiFont)
        << "existing gadgets keep their font";
    GadgetSetFont(ANY_NUMBER, -1);
    HWND restored = (HWND)ButtonCreate(16, 0, 60, 40, 20, "c");
    EXPECT_EQ((HFONT)SendMessageA(restored, WM_GETFONT, 0, 0), GadgetDefaultGuiFont);
    GadgetFree(ANY_NUMBER);
    FontFree(loaded);
}

TEST_F(ButtonTest, StateAndSizeOperations)
{
    ButtonCreate(4, 0, 0, 40, 20, "Run norvane");
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, 4));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ButtonKind.getState(record), 0);
    int32_t width = 0, height = 0;
    ASSERT_EQ(ButtonKind.requiredSize(record, &width, &height), 1);
    EXPECT_GT(width, 40) << "the text alone is wider than 40 pixels";
    EXPECT_GT(height, 8);
}

}  // namespace
