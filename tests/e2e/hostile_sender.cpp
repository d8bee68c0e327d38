// Random window-system messages from a second process against the running
// program: hostile_sender SEED COUNT, or hostile_sender lifecycle I for
// the destruction case I (0 to 19) alone, or hostile_sender property I
// [container] for the property case I (0 to 5, or all of them one after
// another) on every property name the program reads, or on the container's
// alone, then the drop-target marks on every window, left for the end; or
// hostile_sender modal I for the modal-loop case I alone.
//
// Targets: the control window "Norvane" (class "WindowClass_2"), its buttons
// 4, 8 and 16, and the program's hidden "PostEventClass" window. First the
// forged cases and the destruction cases of hostile_messages.h are
// delivered one at a time, each followed by the check below and a look at
// the window's and the buttons' texts; then the random messages. Each drawn
// message is posted, or sent with a time limit (a receiver that stops
// answering is a fault, not a wait). Every BARRIER messages the run waits
// until the receiver has taken everything posted so far: it posts
// BM_SETSTATE to the EXIT button, flipping its highlight, and reads the
// state back with sent BM_GETSTATE until the flip shows; then it checks that
// the window and its buttons are still there, shown, enabled, not captured
// and not in a modal loop. The first fault ends the run and lists the
// messages since the last barrier. Lines on stdout:
//   targets WINDOW B4 B8 B16 EVENTWINDOW
//   pointer-messages M... (those the system will not post)
//   forged WHAT: survived   made-up values only the system should hand over
//   done sent S posted P refused R excluded E ms T
//   fault TEXT (then the recent messages)
//   sender-fault ...   the system faulted in this process on the message shown
// Exit code 0 when no fault was seen.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "tests/e2e/hostile_messages.h"

constexpr int BARRIER = 500;
constexpr UINT SEND_LIMIT_MS = 5000;
constexpr DWORD BARRIER_LIMIT_MS = 30000;

static unsigned char RandomBuffer[HOSTILE_BUFFER_SIZE];  // in this image: near the receiver's

static HostileTarget Targets[HOSTILE_TARGETS];
static HostileTexts Texts;  // as found
static std::vector<HostileMessage> Recent;

static const char* const TARGET_NAMES[HOSTILE_TARGETS] = {"window", "button4", "button8",
                                                          "button16", "eventwindow"};

static HostileMessage Current;

// The system reads some structures and memory blocks in the sender before
// anything reaches the receiver; a fault there is the sender's own, and
// names the message.
static LONG WINAPI SenderFault(EXCEPTION_POINTERS* e)
{
    static LONG inside;
    if (InterlockedExchange(&inside, 1))
        ExitProcess(4);
    static char line[200];
    int length = snprintf(line, sizeof line, "sender-fault %s %s 0x%x 0x%llx 0x%llx at 0x%llx\n",
                          Current.send ? "send" : "post", TARGET_NAMES[Current.target],
                          Current.message, (unsigned long long)Current.wParam,
                          (unsigned long long)Current.lParam,
                          (unsigned long long)e->ExceptionRecord->ExceptionInformation[1]);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)length, &written, nullptr);
    ExitProcess(3);
}

static HWND EventWindowFind(DWORD process)
{
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "PostEventClass", nullptr))) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == process)
            return w;
    }
    return nullptr;
}

static int Fault(const char* what, int index)
{
    printf("fault %s (after %d messages; windows left:", what, index);
    for (int i = 0; i < HOSTILE_TARGETS; ++i)
        if (IsWindow(Targets[i].window))
            printf(" %s", TARGET_NAMES[i]);
    printf(")\n");
    for (const HostileMessage& m : Recent)
        printf("  %s %s 0x%x 0x%llx 0x%llx%s\n", m.send ? "send" : "post", TARGET_NAMES[m.target],
               m.message, (unsigned long long)m.wParam, (unsigned long long)m.lParam,
               m.pointer ? " (pointers)" : "");
    fflush(stdout);
    return 1;
}

static bool SendLimited(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result)
{
    SetLastError(0);
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SEND_LIMIT_MS, result))
        return true;
    return GetLastError() != ERROR_TIMEOUT && IsWindow(window);
}

// Waits until everything posted before has been taken; null when it was,
// else what went wrong.
static const char* Barrier()
{
    HWND exitButton = Targets[3].window;
    DWORD_PTR state = 0;
    if (!SendLimited(exitButton, BM_GETSTATE, 0, 0, &state))
        return "BM_GETSTATE got no answer";
    bool pushed = (state & BST_PUSHED) != 0;
    if (!PostMessageA(exitButton, BM_SETSTATE, !pushed, 0))
        return "BM_SETSTATE could not be posted";
    DWORD start = GetTickCount();
    for (;;) {
        if (!SendLimited(exitButton, BM_GETSTATE, 0, 0, &state))
            return "BM_GETSTATE got no answer";
        if (((state & BST_PUSHED) != 0) != pushed)
            return nullptr;
        if (GetTickCount() - start > BARRIER_LIMIT_MS)
            return "posted messages not taken within 30 s";
        Sleep(1);
    }
}

// Posts or sends one forged case, then the barrier and the checks; null
// when the program took it unharmed, else what went wrong.
static const char* ForgedDeliver(const HostileForgedCase& c, LPARAM lParam)
{
    HWND target = Targets[c.target].window;
    DWORD_PTR result;
    if (c.send ? !SendLimited(target, c.message, c.wParam, lParam, &result)
               : !PostMessageA(target, c.message, c.wParam, lParam))
        return "not delivered";
    const char* fault = Barrier();
    return fault ? fault : HostileCaseFault(Targets, Texts);
}

// A system command that starts a modal loop, the forged timer behind it and
// Escape, all posted before the program takes the first; then the barrier
// and the checks.
static const char* ModalDeliver(const HostileModalCase& c)
{
    HWND window = Targets[0].window;
    auto exitProcess = (LPARAM)GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitProcess");
    if (!exitProcess || !PostMessageA(window, WM_SYSCOMMAND, c.command, 0) ||
        !PostMessageA(window, WM_TIMER, 1, exitProcess) ||
        !PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001))
        return "not delivered";
    const char* fault = Barrier();
    return fault ? fault : HostileCaseFault(Targets, Texts);
}

// Each name (or the container's alone) on each target, then the barrier and
// the checks after every change.
static int PropertyCase(const HostilePropertyCase& c, bool containerOnly)
{
    HostilePropertyNames names = HostilePropertyNamesOf(Targets[0].window);
    int namesUsed = containerOnly ? 1 : HOSTILE_PROPERTY_NAMES;
    for (int n = 0; n < namesUsed; ++n) {
        for (int i = 0; i < HOSTILE_TARGETS; ++i) {
            HostilePropertyForge(Targets, i, names.name[n], c.value);
            HostilePropertyReaders(Targets, i);
            const char* fault = Barrier();
            if (!fault)
                fault = HostileCaseFault(Targets, Texts);
            if (fault) {
                printf("forged %s %s on %s: %s\n", names.name[n], c.what, TARGET_NAMES[i], fault);
                return 1;
            }
        }
    }
    printf("forged %s %s on every window: survived\n", containerOnly ? names.name[0] : "each property",
           c.what);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    setvbuf(stdout, nullptr, _IONBF, 0);
    SetUnhandledExceptionFilter(SenderFault);
    bool lifecycle = strcmp(argv[1], "lifecycle") == 0;
    bool property = strcmp(argv[1], "property") == 0;
    bool modal = strcmp(argv[1], "modal") == 0;
    bool allProperties = property && strcmp(argv[2], "all") == 0;
    uint64_t seed = _strtoui64(argv[1], nullptr, 10);
    int count = atoi(argv[2]);
    if (lifecycle && (count < 0 || count >= (int)(sizeof HOSTILE_LIFECYCLE / sizeof HOSTILE_LIFECYCLE[0])))
        return 2;
    if (modal && (count < 0 || count >= (int)(sizeof HOSTILE_MODAL / sizeof HOSTILE_MODAL[0])))
        return 2;
    if (property && (count < 0 || count >= (int)(sizeof HOSTILE_PROPERTIES / sizeof HOSTILE_PROPERTIES[0])))
        return 2;

    HWND window = FindWindowA("WindowClass_2", "Norvane");
    if (!window) {
        printf("fault no control window\n");
        return 1;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    Targets[0] = {window, HOSTILE_WINDOW};
    Targets[1] = {GetDlgItem(window, 4), HOSTILE_BUTTON};
    Targets[2] = {GetDlgItem(window, 8), HOSTILE_BUTTON};
    Targets[3] = {GetDlgItem(window, 16), HOSTILE_BUTTON};
    Targets[4] = {EventWindowFind(process), HOSTILE_EVENT_WINDOW};
    printf("targets");
    for (const HostileTarget& t : Targets) {
        printf(" %p", (void*)t.window);
        if (!t.window) {
            printf("\nfault a target is missing\n");
            return 1;
        }
    }
    printf("\n");
    Texts = HostileTextsRead(Targets);
    if (property) {
        bool containerOnly = argc > 3 && strcmp(argv[3], "container") == 0;
        for (const HostilePropertyCase& c : HOSTILE_PROPERTIES) {
            if ((allProperties || &c == &HOSTILE_PROPERTIES[count]) && PropertyCase(c, containerOnly))
                return 1;
        }
        // Left in place for the windows' destruction at the end.
        HostileDropTargetForge(Targets);
        const char* fault = Barrier();
        if (!fault)
            fault = HostileCaseFault(Targets, Texts);
        printf("forged drop-target marks on every window: %s\n", fault ? fault : "survived");
        return fault ? 1 : 0;
    }
    if (lifecycle) {
        const HostileForgedCase& c = HOSTILE_LIFECYCLE[count];
        const char* fault = ForgedDeliver(c, c.lParam);
        printf("forged %s: %s\n", c.what, fault ? fault : "survived");
        return fault ? 1 : 0;
    }
    if (modal) {
        const HostileModalCase& c = HOSTILE_MODAL[count];
        const char* fault = ModalDeliver(c);
        printf("forged %s: %s\n", c.what, fault ? fault : "survived");
        return fault ? 1 : 0;
    }

    auto* zero = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, HOSTILE_BUFFER_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    HostileBuffers buffers = {RandomBuffer, zero};
    UINT postEventMessage = RegisterWindowMessageA("KX_PostEventMessage");
    HostileGenerator generator(seed, Targets, postEventMessage, buffers, nullptr);
    HWND own =
        CreateWindowA("STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    generator.PointerMessagesLearn(own);
    printf("pointer-messages");
    for (UINT message = 0; message < WM_USER; ++message)
        if (generator.PointerMessage(message))
            printf(" 0x%x", message);
    printf("\n");
    fflush(stdout);

    // The receiver's code starts here: the default base of a 64-bit image.
    const LPARAM receiverCode = (LPARAM)0x140001000;
    std::vector<HostileForgedCase> forged(std::begin(HOSTILE_FORGED), std::end(HOSTILE_FORGED));
    forged.insert(forged.end(), std::begin(HOSTILE_LIFECYCLE), std::end(HOSTILE_LIFECYCLE));
    for (const HostileForgedCase& c : forged) {
        LPARAM lParam = c.lParam == HOSTILE_TIMER_PROCEDURE ? receiverCode : c.lParam;
        if (const char* fault = ForgedDeliver(c, lParam)) {
            printf("forged %s: %s\n", c.what, fault);
            return 1;
        }
        printf("forged %s: survived\n", c.what);
    }

    int sent = 0, posted = 0, refused = 0, excluded = 0;
    DWORD start = GetTickCount();
    for (int i = 0; i < count; ++i) {
        HostileMessage m = generator.Next();
        if (generator.Excluded(m)) {
            ++excluded;
            continue;
        }
        Recent.push_back(m);
        Current = m;
        HWND target = Targets[m.target].window;
        if (m.send) {
            DWORD_PTR result;
            if (!SendLimited(target, m.message, m.wParam, m.lParam, &result))
                return Fault(IsWindow(target) ? "a sent message got no answer within 5 s"
                                              : "the target is gone",
                             i);
            ++sent;
        } else if (PostMessageA(target, m.message, m.wParam, m.lParam)) {
            ++posted;
        } else {
            ++refused;  // pointer-carrying messages cannot be posted
        }
        if ((i + 1) % BARRIER == 0 || i + 1 == count) {
            const char* fault = Barrier();
            if (!fault)
                fault = HostileWindowFault(Targets);
            if (fault)
                return Fault(fault, i + 1);
            Recent.clear();
        }
    }
    // Leave the EXIT button as it was found.
    DWORD_PTR state = 0;
    if (SendLimited(Targets[3].window, BM_GETSTATE, 0, 0, &state) && (state & BST_PUSHED)) {
        const char* fault = Barrier();
        if (fault)
            return Fault(fault, count);
    }
    printf("done sent %d posted %d refused %d excluded %d ms %lu\n", sent, posted, refused,
           excluded, (unsigned long)(GetTickCount() - start));
    return 0;
}
