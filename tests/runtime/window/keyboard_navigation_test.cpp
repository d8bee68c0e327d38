// Tab navigation, focus cues and the choice of accelerators.
#include "tests/runtime/window/event_test_support.h"

namespace {

class KeyboardTest : public ControlWindowTest {
protected:
    void SetUp() override
    {
        ControlWindowTest::SetUp();
        SetActiveWindow(window);
        ASSERT_EQ(GetActiveWindow(), window);
    }

    // The gadget number of the focus, 0 for the window itself, -1 for other.
    ObjectNumber FocusGadget() const
    {
        HWND focus = GetFocus();
        if (focus == window)
            return 0;
        for (ObjectNumber gadget : TEST_GADGETS)
            if (focus == Button(gadget))
                return gadget;
        return -1;
    }

    void FocusOn(ObjectNumber gadget) { SetFocus(gadget ? Button(gadget) : window); }
};

struct TabCase {
    ObjectNumber from;  // 0 = the window itself has the focus
    bool backward;
    ObjectNumber to;
};

TEST_F(KeyboardTest, TabAndShiftTabCycleThroughTheButtons)
{
    const TabCase cases[] = {
        {0, false, 4}, {4, false, 8}, {8, false, 16}, {16, false, 4},
        {0, true, 16}, {16, true, 8}, {8, true, 4},   {4, true, 16},
    };
    for (const TabCase& c : cases) {
        FocusOn(c.from);
        ASSERT_EQ(FocusGadget(), c.from);
        TabNavigate(c.backward);
        EXPECT_EQ(FocusGadget(), c.to) << (c.backward ? "Shift+Tab" : "Tab") << " from " << c.from;
    }
}

TEST_F(KeyboardTest, DisabledHiddenAndNonStopControlsAreSkipped)
{
    struct Case {
        const char* name;
        void (*change)(HWND button);
        void (*undo)(HWND button);
    };
    const Case cases[] = {
        {"disabled", [](HWND b) { EnableWindow(b, FALSE); }, [](HWND b) { EnableWindow(b, TRUE); }},
        {"hidden", [](HWND b) { ShowWindow(b, SW_HIDE); }, [](HWND b) { ShowWindow(b, SW_SHOW); }},
        {"no tab stop",
         [](HWND b) { SetWindowLongA(b, GWL_STYLE, GetWindowLongA(b, GWL_STYLE) & ~WS_TABSTOP); },
         [](HWND b) { SetWindowLongA(b, GWL_STYLE, GetWindowLongA(b, GWL_STYLE) | WS_TABSTOP); }},
    };
    for (const Case& c : cases) {
        c.change(Button(8));
        FocusOn(4);
        TabNavigate(false);
        EXPECT_EQ(FocusGadget(), 16) << c.name << ": Tab from 4";
        TabNavigate(true);
        EXPECT_EQ(FocusGadget(), 4) << c.name << ": Shift+Tab from 16";
        c.undo(Button(8));
    }
}

// A focused control outside the tab order: Tab leaves it, Shift+Tab goes to
// the last stop.
TEST_F(KeyboardTest, FocusOnANonCandidateControl)
{
    HWND label = CreateWindowExA(0, "Static", "x", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, window,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(label, nullptr);
    SetFocus(label);
    ASSERT_EQ(GetFocus(), label);
    TabNavigate(false);
    EXPECT_EQ(GetFocus(), label);
    TabNavigate(true);
    EXPECT_EQ(FocusGadget(), 16);
    DestroyWindow(label);
}

TEST_F(KeyboardTest, NoActiveWindowMovesNothing)
{
    FocusOn(8);
    SetActiveWindow(nullptr);
    HWND before = GetFocus();
    TabNavigate(false);
    TabNavigate(true);
    EXPECT_EQ(GetFocus(), before);
}

// A window that answers WM_QUERYUISTATE with a chosen state and records the
// WM_CHANGEUISTATE it receives.
LRESULT CuesState;
std::vector<WPARAM> CuesChanges;
LRESULT CALLBACK CuesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYUISTATE)
        return CuesState;
    if (message == WM_CHANGEUISTATE) {
        CuesChanges.push_back(wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(KeyboardCuesTest, ChangesOnlyWhatIsNotAlreadySo)
{
    WNDCLASSA cls = {};
    cls.lpfnWndProc = CuesProc;
    cls.lpszClassName = "KeyboardCuesProbe";
    RegisterClassA(&cls);
    HWND probe = CreateWindowExA(0, "KeyboardCuesProbe", "", WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(probe, nullptr);
    struct Case {
        bool show;
        LRESULT state;     // UISF_HIDEFOCUS 1, UISF_HIDEACCEL 2
        WPARAM expected;   // 0: nothing sent
    };
    const Case cases[] = {
        {true, 0, 0},        {true, 1, 0x30002},  {true, 2, 0x30002},  {true, 3, 0x30002},
        {false, 0, 0x30001}, {false, 1, 0x30001}, {false, 2, 0x30001}, {false, 3, 0},
        {true, 4, 0},        {false, 7, 0},
    };
    for (const Case& c : cases) {
        CuesState = c.state;
        CuesChanges.clear();
        KeyboardCues(probe, c.show);
        std::vector<WPARAM> expected;
        if (c.expected)
            expected.push_back(c.expected);
        EXPECT_EQ(CuesChanges, expected) << (c.show ? "show" : "hide") << " with state " << c.state;
    }
    DestroyWindow(probe);
}

TEST_F(KeyboardTest, AcceleratorsAreThoseOfTheActiveNumberedWindow)
{
    HACCEL own = WindowAccelerators(WINDOW_MAIN);
    ASSERT_NE(own, nullptr);
    FocusOn(4);
    EXPECT_EQ(ActiveAccelerators(window), own);
    EXPECT_EQ(ActiveAccelerators(nullptr), nullptr);

    HWND plain = CreateWindowExA(0, "Static", "plain", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    EXPECT_EQ(ActiveAccelerators(plain), nullptr) << "a window without a number";
    DestroyWindow(plain);

    // "KX_Hotkey" is ours only on a gadget that takes its keys itself; on a
    // push button someone else put it there.
    SetPropA(Button(4), "KX_Hotkey", (HANDLE)1);
    EXPECT_EQ(ActiveAccelerators(window), own) << "a push button with KX_Hotkey";
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, 4));
    ASSERT_NE(record, nullptr);
    static const GadgetKind hotKey = {GADGET_KIND_BUTTON + 1, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr};
    record->kind = &hotKey;
    EXPECT_EQ(ActiveAccelerators(window), nullptr) << "a gadget taking keys, with KX_Hotkey";
    record->kind = &ButtonKind;
    RemovePropA(Button(4), "KX_Hotkey");

    SetPropA(window, "KX_WindowID", (HANDLE)(uintptr_t)0x41414141);
    EXPECT_EQ(ActiveAccelerators(window), nullptr) << "a number set by someone else";
    SetPropA(window, "KX_WindowID", (HANDLE)(WINDOW_MAIN + 1));

    // A stale number: the property names a window that is not open.
    HWND stray = CreateWindowExA(0, "Static", "stray", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    SetPropA(stray, "KX_WindowID", (HANDLE)(WINDOW_MAIN + 41));
    EXPECT_EQ(ActiveAccelerators(stray), nullptr);
    DestroyWindow(stray);
}

}  // namespace
