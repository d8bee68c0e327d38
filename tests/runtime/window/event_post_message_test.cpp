// The hidden event window and "KX_PostEventMessage": events posted from
// other threads arrive; anything else that arrives under that message
// number, from this process or another, is dropped without being read.
#include <string>

#include "runtime/process/globals.h"
#include "tests/runtime/window/event_test_support.h"

namespace {

class PostEventWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        WindowServicesStart();
        ASSERT_NE(PostEventWindow, nullptr);
        ASSERT_NE(PostEventMessage, 0u);
        EventPump();
        EventQueueTakeAll();
    }
};

// A block laid out as the message's lParam would be, in this process's main
// heap but never handed to EventPostMessage.
struct LookAlike {
    void* next;
    int32_t code;
    uint32_t serial;
    ObjectNumber object, window;
    int32_t type;
    void* data;
};

struct ThreadPost {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

DWORD WINAPI PostFromThread(void* argument)
{
    auto* posts = static_cast<std::vector<ThreadPost>*>(argument);
    for (const ThreadPost& p : *posts)
        PostMessageA(PostEventWindow, p.message, p.wParam, p.lParam);
    return 0;
}

void RunOnThread(LPTHREAD_START_ROUTINE routine, void* argument)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, argument, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
}

DWORD WINAPI PostEventsFromThread(void*)
{
    EventPostMessage(EVT_GADGET, 8, 2, 0, nullptr);
    EventPostMessage(EVT_CLOSE_WINDOW, 2, 2, 0, nullptr);
    return 0;
}

TEST_F(PostEventWindowTest, EventsFromAnotherThreadArriveInOrder)
{
    RunOnThread(PostEventsFromThread, nullptr);
    std::vector<int32_t> codes = EventPump();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), (int32_t)PostEventMessage), 2);
    // Forced posts: the queue took them although EventPump then handed them out.
    EXPECT_EQ(std::count(codes.begin(), codes.end(), EVT_GADGET), 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), EVT_CLOSE_WINDOW), 1);
    EXPECT_EQ(EventSource(), 2);
}

TEST_F(PostEventWindowTest, BogusBlocksFromAnotherThreadAreDropped)
{
    auto* lookAlike = static_cast<LookAlike*>(MainHeapAlloc(sizeof(LookAlike)));
    *lookAlike = {nullptr, EVT_GADGET, 1, 4, 2, 0, nullptr};
    const LookAlike copy = *lookAlike;

    // A real block, consumed once, then replayed and replayed with the
    // wrong serial.
    ASSERT_EQ(EventPostMessage(EVT_GADGET, 16, 2, 0, nullptr), 1);
    MSG real;
    ASSERT_TRUE(PeekMessageA(&real, PostEventWindow, PostEventMessage, PostEventMessage, PM_REMOVE));
    DispatchMessageA(&real);
    ASSERT_EQ(EventNext(), EVT_GADGET);

    // Wrong serial on a live block: dropped, and the block stays valid for
    // its own message.
    ASSERT_EQ(EventPostMessage(EVT_GADGET, 8, 2, 0, nullptr), 1);
    MSG live;
    ASSERT_TRUE(PeekMessageA(&live, PostEventWindow, PostEventMessage, PostEventMessage, PM_REMOVE));

    std::vector<ThreadPost> posts;
    const LPARAM bogus[] = {0, 1, -1, 0x10, (LPARAM)0xDEADBEEF, (LPARAM)0x7FFFFFFFFFFFLL,
                            (LPARAM)lookAlike, (LPARAM)lookAlike + 4, (LPARAM)&copy,
                            (LPARAM)GetModuleHandleA(nullptr), real.lParam};
    for (LPARAM lParam : bogus)
        for (WPARAM wParam : {(WPARAM)0, (WPARAM)1, real.wParam, ~live.wParam})
            posts.push_back({PostEventMessage, wParam, lParam});
    posts.push_back({PostEventMessage, live.wParam + 1, live.lParam});
    // Neither closes nor tears down the window, nor frees the live block.
    for (UINT message : {WM_CLOSE, WM_DESTROY, WM_NCDESTROY})
        posts.push_back({message, 0, 0});
    RunOnThread(PostFromThread, &posts);

    std::vector<int32_t> codes = EventPump();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), (int32_t)PostEventMessage), (long)posts.size() - 3);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), EVT_GADGET), 0) << "a bogus block was queued";
    EXPECT_EQ(memcmp(lookAlike, &copy, sizeof copy), 0) << "a bogus block was written";
    EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
    EXPECT_TRUE(IsWindow(PostEventWindow)) << "WM_CLOSE destroyed the hidden window";
    SendMessageA(PostEventWindow, WM_NCDESTROY, 0, 0);

    DispatchMessageA(&live);
    EXPECT_EQ(EventNext(), EVT_GADGET);
    EXPECT_EQ(EventSource(), 8);
    MainHeapFree(lookAlike);  // still ours: freeing it twice would break the heap
    EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
}

// The poster, a program of its own next to this one, posts and sends the
// registered message with values from its own address space.
TEST_F(PostEventWindowTest, BogusBlocksFromAnotherProcessAreDropped)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string poster = path;
    poster = poster.substr(0, poster.find_last_of("\\/") + 1) + "event_foreign_poster.exe";
    std::string command = "\"" + poster + "\" " + std::to_string((long long)(intptr_t)PostEventWindow);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(poster.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << poster;
    // It sends as well as posts, so keep dispatching while it runs.
    std::vector<int32_t> codes;
    while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 20000, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
        std::vector<int32_t> more = EventPump();
        codes.insert(codes.end(), more.begin(), more.end());
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u) << "the poster could not reach the window";
    std::vector<int32_t> more = EventPump();
    codes.insert(codes.end(), more.begin(), more.end());

    EXPECT_GT(std::count(codes.begin(), codes.end(), (int32_t)PostEventMessage), 0);
    EXPECT_TRUE(EventQueueTakeAll().empty());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), EVT_GADGET), 0);
    EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
    EXPECT_TRUE(IsWindow(PostEventWindow));

    // The path still works for real posts.
    ASSERT_EQ(EventPostMessage(EVT_GADGET, 4, 2, 0, nullptr), 1);
    EventPump();
    EXPECT_EQ(EventSource(), 4);
}

}  // namespace
