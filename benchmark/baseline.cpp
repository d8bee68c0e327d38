// The yardstick for the user-facing figures of benchmark/user_bench.py: the
// least a Win32 program needs to show the same control window. Title
// "Norvane", a 300 x 200 client area, the same tool-window style, centred on
// the screen, and the three push buttons at the same places and sizes; no
// fonts, colours, runtime services or exercise blocks.
//
// The window is shown before its buttons are made, as the program does, so
// both are timed to the same point: the moment the window is mapped. EXIT
// and a close request end the process with code 0; the other two buttons
// do nothing.
//
// Built twice. With BASELINE_FLOOR it is the whole floor instead: every
// Win32 call the program's design makes from the entry point until the
// control window and its buttons exist, in the design's order, made directly
// with none of the runtime (no tables, maps, pools or per-thread segments,
// only the system calls they come down to): first the bare-name search
// narrowed and winmm and comctl32 loaded from the system folder, then the
// three private heaps and the
// TLS slots, the hidden "PostEventClass" window and "KX_PostEventMessage",
// the message filter, the locks and the run-once look-ups, the library probe, the icon, cursor
// and stock font, InitCommonControlsEx 0xB48, the processor count (the
// launch procedure's, before the window), the two fonts through their
// CreateDCA/CreateFontA, then the window's class, window, centring, show,
// accelerators, properties and container subclass, its brush, and the
// three buttons, each subclassed and given its font. Like the program it has
// no C runtime start-up (its own entry point), imports what the program
// imports (msvcrt, gdi32, user32, kernel32) and carries its icon, version
// resource and manifest. The program over this floor is the cost of its own
// code.
#include <windows.h>
#ifdef BASELINE_FLOOR
#include <commctrl.h>
#include <shlwapi.h>
#include <stdio.h>
#endif

namespace {

const int BASELINE_RUN = 4;
const int BASELINE_REPEAT = 8;
const int BASELINE_EXIT = 16;

#ifndef BASELINE_FLOOR
LRESULT CALLBACK BaselineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == BASELINE_EXIT)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void BaselineButton(HWND parent, int id, int x, int y, int width, int height, const char* text)
{
    CreateWindowExA(0, "Button", text, WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON,
                    x, y, width, height, parent, (HMENU)(INT_PTR)id, GetModuleHandleA(nullptr),
                    nullptr);
}
#endif

#ifdef BASELINE_FLOOR
template <typename Entry>
Entry BaselineEntry(HMODULE library, const char* name)
{
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// A library by its full path in the system folder, as the program loads
// every library.
HMODULE BaselineLoad(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length + 2 + strlen(name) > sizeof path)
        return nullptr;
    path[length] = '\\';
    strcpy(path + length + 1, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// What the program does first, in place of importing winmm and comctl32:
// the bare-name search narrowed, both libraries loaded and kept.
BOOL(WINAPI* FloorInitCommonControlsEx)(const INITCOMMONCONTROLSEX*);

void BaselineSystemImports()
{
    HMODULE kernel = BaselineLoad("Kernel32.dll");
    if (auto narrow = kernel ? BaselineEntry<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories") : nullptr)
        narrow(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (kernel)
        FreeLibrary(kernel);
    if (HMODULE timer = BaselineLoad("winmm.dll"))
        (void)GetProcAddress(timer, "timeBeginPeriod");
    if (HMODULE controls = BaselineLoad("COMCTL32.DLL"))
        FloorInitCommonControlsEx =
            BaselineEntry<decltype(FloorInitCommonControlsEx)>(controls, "InitCommonControlsEx");
}

void BaselineLibraryWork()
{
    HMODULE imaging = BaselineLoad("msimg32.dll");  // kept to the end
    volatile FARPROC alphaBlend = imaging ? GetProcAddress(imaging, "AlphaBlend") : nullptr;
    (void)alphaBlend;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    bool probe = GetVersionExA(&version) &&
                 !(version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ||
                   (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion < 5));
    if (probe) {
        if (HMODULE controls = BaselineLoad("COMCTL32.DLL")) {
            if (auto getVersion = BaselineEntry<DLLGETVERSIONPROC>(controls, "DllGetVersion")) {
                DLLVERSIONINFO info = {};
                info.cbSize = sizeof info;
                getVersion(&info);
            }
            FreeLibrary(controls);
        }
        if (HMODULE theme = BaselineLoad("uxtheme.dll")) {
            if (auto themed = BaselineEntry<BOOL(WINAPI*)()>(theme, "IsAppThemed"))
                themed();
            FreeLibrary(theme);
        }
    }

}

// What the runtime's services come down to, in ProcessStart's order. The
// sizes are the program's records; the contents do not matter here.
HINSTANCE FloorInstance;
HANDLE FloorMainHeap;
CRITICAL_SECTION FloorLocks[8];
int FloorLockCount;
WNDPROC FloorContainerNext;
WNDPROC FloorButtonNext;
HBRUSH FloorBrush;
HACCEL FloorAccelerators;
HFONT FloorDefaultFont;
HICON FloorClassIcon;
HCURSOR FloorClassCursor;

void FloorLock() { InitializeCriticalSection(&FloorLocks[FloorLockCount++]); }

void* FloorAlloc(size_t bytes) { return HeapAlloc(FloorMainHeap, HEAP_ZERO_MEMORY, bytes); }

// An object table: its record, its first slots and its lock.
void FloorTable(int growthStep)
{
    FloorAlloc(32);
    FloorAlloc(growthStep * sizeof(void*));
    FloorLock();
}

BOOL CALLBACK FloorRunOnce(PINIT_ONCE, PVOID, PVOID*)
{
    FloorLock();  // the pool registry's lock
    return TRUE;
}

// Every map made runs the pool registry's set-up once through
// InitOnceExecuteOnce, looked up at run time.
void FloorRunOnceLookUp()
{
    typedef BOOL(WINAPI * RunOnceEntry)(PINIT_ONCE, PINIT_ONCE_FN, PVOID, PVOID*);
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    HMODULE kernel = BaselineLoad("Kernel32.dll");
    auto runOnce = kernel ? BaselineEntry<RunOnceEntry>(kernel, "InitOnceExecuteOnce") : nullptr;
    if (runOnce)
        runOnce(&once, FloorRunOnce, nullptr, nullptr);
    if (kernel)
        FreeLibrary(kernel);
}

LRESULT CALLBACK FloorPostEventProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK FloorMessageFilter(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void FloorServices()
{
    // String service: its heap, slot and the main thread's work record.
    HANDLE stringHeap = HeapCreate(0, 4096, 0);
    DWORD stringSlot = TlsAlloc();
    void* work = HeapAlloc(stringHeap, 0, 12);
    HeapAlloc(stringHeap, 0, 16);
    TlsSetValue(stringSlot, work);

    // Event service: lock, hidden window, message, message filter, the
    // per-thread data slot with the main thread's block, the bindings map
    // behind the run-once pool registry.
    FloorLock();
    RegisterWindowMessageA("KX_PostEventMessage");
    WNDCLASSA postClass = {};
    postClass.style = CS_DBLCLKS;
    postClass.lpfnWndProc = FloorPostEventProc;
    postClass.hInstance = FloorInstance;
    postClass.hbrBackground = (HBRUSH)16;
    postClass.lpszClassName = "PostEventClass";
    RegisterClassA(&postClass);
    CreateWindowExA(0, "PostEventClass", nullptr, WS_CAPTION, 0, 0, 1, 1, nullptr, nullptr,
                    FloorInstance, nullptr);
    SetWindowsHookExA(WH_MSGFILTER, FloorMessageFilter, nullptr, GetCurrentThreadId());
    DWORD dataSlot = TlsAlloc();
    TlsSetValue(dataSlot, FloorAlloc(256));
    FloorRunOnceLookUp();
    FloorAlloc(64);
    FloorAlloc(1024 * sizeof(void*));

    FloorTable(16);  // fonts
    TlsAlloc();      // spare slot
    HeapCreate(0, 4096, 0);  // spare heap
    FloorTable(16);  // images
    BaselineLibraryWork();
    FloorTable(16);  // windows
    FloorClassIcon = LoadIconA(FloorInstance, MAKEINTRESOURCEA(1));
    FloorClassCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    FloorLock();  // gadgets
    FloorDefaultFont = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    FloorTable(50);
    INITCOMMONCONTROLSEX classes = {8, 0xB48};
    if (FloorInitCommonControlsEx)
        FloorInitCommonControlsEx(&classes);
    FloorRunOnceLookUp();  // the symbol table's map
    FloorAlloc(64);
    FloorAlloc(1024 * sizeof(void*));
    FloorLock();  // threads
}

HFONT FloorFont(int points)
{
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial");
    DeleteDC(dc);
    return font;
}

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        if (FloorBrush) {
            RECT client;
            GetClientRect(window, &client);
            FillRect((HDC)wParam, &client, FloorBrush);
            return 1;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == BASELINE_EXIT)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK FloorContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(FloorContainerNext, window, message, wParam, lParam);
}

LRESULT CALLBACK FloorButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(FloorButtonNext, window, message, wParam, lParam);
}

void FloorButton(HWND parent, int id, int x, int y, int width, int height, const char* text,
                 HFONT font)
{
    HWND button = CreateWindowExA(0, "Button", text, 0x50030000 | BS_PUSHBUTTON, x, y, width, height,
                                  parent, (HMENU)(INT_PTR)-1, FloorInstance, nullptr);
    FloorAlloc(64);
    FloorButtonNext = (WNDPROC)SetWindowLongPtrA(button, GWLP_WNDPROC, (LONG_PTR)FloorButtonProc);
    SetWindowLongPtrA(button, GWLP_ID, id);
    SetPropA(button, "KX_ID", (HANDLE)(INT_PTR)id);
    SendMessageA(button, WM_SETFONT, (WPARAM)FloorDefaultFont, TRUE);
    SendMessageA(button, WM_SETFONT, (WPARAM)font, TRUE);
}

HWND FloorControlWindow()
{
    // The launch procedure counts the processors before the window.
    DWORD_PTR processMask, systemMask;
    GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
    HFONT small = FloorFont(12);
    HFONT large = FloorFont(14);

    FloorAlloc(64);  // the window's record
    char className[40];
    sprintf(className, "WindowClass_%d", 2);
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = FloorInstance;
    windowClass.hIcon = FloorClassIcon;  // loaded once, with the window service
    windowClass.hCursor = FloorClassCursor;
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    RECT outer = {0, 0, 300, 200};
    AdjustWindowRectEx(&outer, WS_CAPTION, FALSE, WS_EX_TOOLWINDOW);
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, className, "Norvane", WS_CAPTION, 0, 0,
                                  outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                  nullptr, FloorInstance, nullptr);
    if (!window)
        return nullptr;
    RECT own;
    GetWindowRect(window, &own);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(window, nullptr, (screenWidth - width) / 2, (screenHeight - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOWNORMAL);

    static const ACCEL keys[2] = {{FVIRTKEY | FNOINVERT, VK_TAB, 64001},
                                  {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, 64002}};
    auto* entries = static_cast<ACCEL*>(FloorAlloc(sizeof keys));
    CopyMemory(entries, keys, sizeof keys);
    FloorAccelerators = CreateAcceleratorTableA(entries, 2);
    char property[48];
    sprintf(property, "KX_GadgetStack_%i", (int)(INT_PTR)FloorInstance);
    SetPropA(window, property, FloorAlloc(32));
    FloorContainerNext = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)FloorContainerProc);
    SetPropA(window, "KX_WindowID", (HANDLE)3);
    FloorBrush = CreateSolidBrush(RGB(1, 0, 0));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE);

    FloorButton(window, BASELINE_RUN, 20, 20, 256, 60, "Run norvane", large);
    FloorButton(window, BASELINE_REPEAT, 20, 100, 256, 40, "Repeat the run every 34min", large);
    FloorButton(window, BASELINE_EXIT, 230, 155, 50, 35, "EXIT", small);
    return window;
}
#endif

}  // namespace

#ifdef BASELINE_FLOOR
// The entry point: no C runtime start-up, as in the program.
extern "C" void FloorEntry()
{
    BaselineSystemImports();
    FloorInstance = GetModuleHandleA(nullptr);
    FloorMainHeap = HeapCreate(0, 4096, 0);
    FloorServices();
    HWND window = FloorControlWindow();
    MSG message;
    while (window && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(GetActiveWindow(), FloorAccelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    ExitProcess(0);
}
#else
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BaselineProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "BaselineWindow";
    RegisterClassA(&windowClass);

    const DWORD style = WS_CAPTION;
    const DWORD extendedStyle = WS_EX_TOOLWINDOW;
    RECT outer = {0, 0, 300, 200};
    AdjustWindowRectEx(&outer, style, FALSE, extendedStyle);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    HWND window = CreateWindowExA(extendedStyle, "BaselineWindow", "Norvane", style,
                                  (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                  (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                  nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);

    BaselineButton(window, BASELINE_RUN, 20, 20, 256, 60, "Run norvane");
    BaselineButton(window, BASELINE_REPEAT, 20, 100, 256, 40, "Repeat the run every 34min");
    BaselineButton(window, BASELINE_EXIT, 230, 155, 50, 35, "EXIT");

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
#endif
