// The gadget service around the buttons: what WM_NCDESTROY returns, the
// notification path, identifiers that name no gadget, and containers.
#include <stdio.h>
#include <string.h>

#include <string>

#include "runtime/process/globals.h"
#include "tests/runtime/process/heap_count.h"
#include "tests/runtime/window/event_test_support.h"

namespace {

typedef ControlWindowTest GadgetTest;

// Wraps GadgetProc to look at the control right after GadgetProc has
// handled WM_NCDESTROY.
struct AfterDestroy {
    WNDPROC gadgetProc;
    bool seen;
    HANDLE idProperty;
    LONG_PTR controlId;
    bool recordAlive;
    size_t queuedClicksOf4;
};
AfterDestroy Watch;

LRESULT CALLBACK WatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcA(Watch.gadgetProc, window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        Watch.seen = true;
        Watch.idProperty = GetPropA(window, "KX_ID");
        Watch.controlId = GetWindowLongPtrA(window, GWLP_ID);
        Watch.recordAlive = ObjectGet(GadgetTable, 4) != nullptr;
        Watch.queuedClicksOf4 = 0;
        for (const EventTuple& e : EventQueueList())
            if (std::get<0>(e) == EVT_GADGET && std::get<1>(e) == 4)
                ++Watch.queuedClicksOf4;
    }
    return result;
}

TEST_F(GadgetTest, DestroyReleasesNumberPropertyAndQueuedClicks)
{
    Watch = {};
    Watch.gadgetProc = (WNDPROC)SetWindowLongPtrA(Button(4), GWLP_WNDPROC, (LONG_PTR)WatchProc);
    ASSERT_EQ(Watch.gadgetProc, GadgetProc);
    EventPost(EVT_GADGET, 4, 2, 0);
    EventPost(EVT_GADGET, 16, 2, 0);
    EventPost(EVT_GADGET, 4, 2, 0);
    EXPECT_EQ(GadgetFree(4), 1);
    ASSERT_TRUE(Watch.seen);
    EXPECT_EQ(Watch.idProperty, nullptr);
    EXPECT_EQ(Watch.controlId, -1);
    EXPECT_FALSE(Watch.recordAlive);
    EXPECT_EQ(Watch.queuedClicksOf4, 0u);
    std::vector<EventTuple> expected = {{EVT_GADGET, 16, 2, 0}};
    EXPECT_EQ(EventQueueClicks(), expected);
    EXPECT_EQ(GadgetFree(4), 0) << "a freed number is no gadget";
}

TEST_F(GadgetTest, ClosingTheWindowReleasesEveryButton)
{
    WindowClose(WINDOW_MAIN);
    for (ObjectNumber gadget : TEST_GADGETS)
        EXPECT_EQ(ObjectGet(GadgetTable, gadget), nullptr) << "gadget " << gadget;
}

// Destruction messages that no destruction sent, as anyone can send or post
// them: the buttons keep their numbers and text, the window stays the
// container, and a click still arrives.
TEST_F(GadgetTest, ForgedDestructionReleasesNothing)
{
    for (UINT message : {WM_DESTROY, WM_NCDESTROY}) {
        for (HWND target : {window, Button(4)}) {
            SendMessageA(target, message, 0, 0);
            PostMessageA(target, message, 0, 0);
        }
    }
    EventPump();
    EventQueueTakeAll();
    EXPECT_NE(ObjectGet(GadgetTable, 4), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(Button(4), GWLP_ID), 4);
    char text[32] = {};
    GetWindowTextA(Button(4), text, sizeof text);
    EXPECT_STREQ(text, "Run norvane");
    EXPECT_EQ(GadgetContainerSet(nullptr), window);
    SendMessageA(Button(4), BM_CLICK, 0, 0);
    std::vector<EventTuple> expected = {{EVT_GADGET, 4, 2, BN_CLICKED}};
    EXPECT_EQ(EventQueueClicks(), expected);
}

// A close request to a control destroys it by the system's own rule; its
// number goes with it, once.
TEST_F(GadgetTest, AButtonClosedByTheSystemReleasesItsNumber)
{
    EventPost(EVT_GADGET, 8, 2, 0);
    SendMessageA(Button(8), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(Button(8)));
    EXPECT_EQ(ObjectGet(GadgetTable, 8), nullptr);
    EXPECT_TRUE(EventQueueClicks().empty());
    EXPECT_EQ(GadgetFree(8), 0);
}

TEST_F(GadgetTest, ButtonsNeedNoNotificationHandler)
{
    EXPECT_EQ(GadgetNotify(nullptr, window, WM_COMMAND, 0, 0), NOT_HANDLED);
    EXPECT_EQ(GadgetNotify(Button(4), window, WM_COMMAND, 0, (LPARAM)Button(4)), NOT_HANDLED);
    SendMessageA(Button(8), BM_CLICK, 0, 0);
    std::vector<EventTuple> expected = {{EVT_GADGET, 8, 2, BN_CLICKED}};
    EXPECT_EQ(EventQueueList(), expected);
}

// A kind with a handler of its own takes the parent's notifications.
LRESULT AnswerNotify(GadgetRecord*, HWND, UINT, WPARAM, LPARAM) { return 77; }

TEST_F(GadgetTest, NotificationsReachOnlyTheGadgetsOwnControl)
{
    static const GadgetKind answering = {99, AnswerNotify, nullptr, nullptr, nullptr, nullptr, nullptr};
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, 4));
    ASSERT_NE(record, nullptr);
    record->kind = &answering;
    EXPECT_EQ(GadgetNotify(Button(4), window, WM_COMMAND, 0, 0), 77);

    // A foreign control wearing gadget 4's identifier and property.
    HWND impostor = CreateWindowExA(0, "Static", "x", WS_CHILD, 0, 0, 5, 5, window, (HMENU)4,
                                    nullptr, nullptr);
    SetPropA(impostor, "KX_ID", (HANDLE)4);
    EXPECT_EQ(GadgetNotify(impostor, window, WM_COMMAND, 0, 0), NOT_HANDLED);
    // A control whose property and identifier disagree.
    SetPropA(Button(8), "KX_ID", (HANDLE)9);
    EXPECT_EQ(GadgetNotify(Button(8), window, WM_COMMAND, 0, 0), NOT_HANDLED);
    SetPropA(Button(8), "KX_ID", (HANDLE)8);
    DestroyWindow(impostor);
    record->kind = &ButtonKind;
}

// An identifier that names no record of this control must not lead
// GadgetProc into another gadget's record; the control keeps working as its
// class, and its own number is left alone when it is destroyed.
TEST_F(GadgetTest, StrayIdentifierFallsBackToTheClassProcedure)
{
    struct Case {
        const char* name;
        LONG_PTR id;
    };
    const Case cases[] = {{"another gadget's number", 16}, {"no gadget", 33},
                          {"an address", (LONG_PTR)&Watch}};
    for (const Case& c : cases) {
        SetWindowLongPtrA(Button(8), GWLP_ID, c.id);
        char text[64] = {};
        EXPECT_GT(SendMessageA(Button(8), WM_GETTEXT, sizeof text, (LPARAM)text), 0) << c.name;
        EXPECT_STREQ(text, "Repeat the run every 34min") << c.name;
        SendMessageA(Button(8), WM_SETTEXT, 0, (LPARAM) "Repeat");
        SendMessageA(Button(8), WM_SETTEXT, 0, (LPARAM) "Repeat the run every 34min");
    }
    SetWindowLongPtrA(Button(8), GWLP_ID, 16);
    DestroyWindow(Button(8));
    EXPECT_NE(ObjectGet(GadgetTable, 16), nullptr) << "gadget 16 was released by another control";
    EXPECT_TRUE(IsWindow(Button(16)));
    EXPECT_NE(ObjectGet(GadgetTable, 8), nullptr);
    ObjectRelease(GadgetTable, 8);  // its control is gone without telling
}

TEST_F(GadgetTest, FreeingAGadgetWhoseControlIsGoneReleasesTheNumber)
{
    auto* record = static_cast<GadgetRecord*>(ObjectGet(GadgetTable, 16));
    ASSERT_NE(record, nullptr);
    // Take the control out of GadgetProc's hands, then destroy it.
    SetWindowLongPtrA(Button(16), GWLP_WNDPROC, (LONG_PTR)record->previousProcedure);
    DestroyWindow(Button(16));
    ASSERT_NE(ObjectGet(GadgetTable, 16), nullptr);
    EventPost(EVT_GADGET, 16, 2, 0);
    EXPECT_EQ(GadgetFree(16), 0);
    EXPECT_EQ(ObjectGet(GadgetTable, 16), nullptr);
    EXPECT_TRUE(EventQueueClicks().empty());
}

std::string ContainerPropertyName()
{
    char name[48];
    sprintf(name, "KX_GadgetStack_%lld", (long long)(intptr_t)InstanceHandle);
    return name;
}

TEST_F(GadgetTest, ContainersFollowTheLastOpenedWindow)
{
    auto* record =
        static_cast<GadgetContainerRecord*>(GetPropA(window, ContainerPropertyName().c_str()));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->window, window);
    EXPECT_EQ((WNDPROC)GetWindowLongPtrA(window, GWLP_WNDPROC), GadgetContainerProc);
    EXPECT_EQ(GadgetContainerSet(nullptr), window);

    HWND second = (HWND)WindowOpen(3, 0, 0, 100, 80, "second", 5);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GadgetContainerSet(nullptr), second);
    HWND inner = (HWND)ButtonCreate(40, 0, 0, 20, 20, "in 3");
    EXPECT_EQ(GetParent(inner), second);

    // Back to window 2, then to 3 again: each keeps its own record.
    EXPECT_EQ(GadgetContainerSet(window), second);
    EXPECT_EQ(GetParent((HWND)ButtonCreate(41, 0, 0, 20, 20, "in 2")), window);
    EXPECT_EQ(GadgetContainerSet(second), window);
    EXPECT_EQ(GadgetContainerSet(nullptr), second);

    WindowClose(3);
    EXPECT_EQ(ObjectGet(GadgetTable, 40), nullptr);
    EXPECT_EQ(GadgetContainerSet(nullptr), nullptr) << "a closed container stays current";
    EXPECT_EQ(ButtonCreate(42, 0, 0, 20, 20, "nowhere"), 0);
    EXPECT_EQ(GadgetContainerSet(window), nullptr);
    EXPECT_EQ(GetParent((HWND)ButtonCreate(42, 0, 0, 20, 20, "in 2 again")), window);
    EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
}

IMPORT_SLOT(SetPropA, 12);
typedef BOOL(WINAPI* SetPropARoutine)(HWND, LPCSTR, HANDLE);
SetPropARoutine RealSetPropA;

// As when another process has used up the desktop's atoms: no new property
// name can be made.
BOOL WINAPI ContainerPropertyRefused(HWND window, LPCSTR name, HANDLE value)
{
    if ((uintptr_t)name > 0xFFFF && strncmp(name, "KX_GadgetStack_", 15) == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return RealSetPropA(window, name, value);
}

// Any process can overwrite or remove a container's property, or leave no
// room to set it. The window keeps its record: it is found again as a
// container, its messages still reach the window procedure, and the record
// goes with the window, once, leaving no current container behind.
TEST_F(GadgetTest, ContainerOutlivesAForeignProperty)
{
    const std::string name = ContainerPropertyName();
    HANDLE ownRecord = GetPropA(window, name.c_str());
    const struct {
        const char* what;
        HANDLE value;  // null: removed
        bool refused;  // never set: SetPropA fails
    } cases[] = {
        {"a wild address", (HANDLE)(uintptr_t)0x41414141, false}, {"a small integer", (HANDLE)2, false},
        {"-1", (HANDLE)-1, false}, {"another window's handle", Button(4), false},
        {"another container's record", ownRecord, false}, {"removed", nullptr, false},
        {"refused", nullptr, true},
    };
    // The first round takes the table slots that stay for reuse.
    size_t blocks = 0;
    for (int round = -1; round < (int)(sizeof cases / sizeof cases[0]); ++round) {
        SCOPED_TRACE(round < 0 ? "untouched" : cases[round].what);
        bool refused = round >= 0 && cases[round].refused;
        ImportSlotScope refusing(&__imp_SetPropA, refused ? (void*)ContainerPropertyRefused : __imp_SetPropA);
        RealSetPropA = (SetPropARoutine)refusing.previous();
        HWND second = (HWND)WindowOpen(3, 0, 0, 100, 80, "second", 5);
        ASSERT_NE(second, nullptr);
        if (refused) {
            EXPECT_EQ(GetPropA(second, name.c_str()), nullptr);
        }
        if (round >= 0 && !refused && cases[round].value)
            SetPropA(second, name.c_str(), cases[round].value);
        else if (round >= 0 && !refused)
            RemovePropA(second, name.c_str());
        EXPECT_EQ(GadgetContainerSet(window), second);
        EXPECT_EQ(GadgetContainerSet(second), window) << "found again";
        EXPECT_EQ(GetParent((HWND)ButtonCreate(40, 0, 0, 20, 20, "in 3")), second);
        EXPECT_EQ(SendMessageA(second, WM_GETTEXTLENGTH, 0, 0), 6);
        EventQueueTakeAll();
        SendMessageA(second, WM_CLOSE, 0, 0);
        std::vector<EventTuple> close = {{EVT_CLOSE_WINDOW, 3, 3, 0}};
        EXPECT_EQ(EventQueueTakeAll(), close) << "the window procedure still answers";
        WindowClose(3);
        EventPump();
        EventQueueTakeAll();
        EXPECT_EQ(GadgetContainerSet(window), nullptr);
        if (round < 0)
            blocks = HeapBusyBlocks(MainHeap);
        EXPECT_EQ(HeapBusyBlocks(MainHeap), blocks) << "the record went with the window";
        EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
    }
    EXPECT_EQ(GetPropA(window, name.c_str()), ownRecord);
}

}  // namespace
