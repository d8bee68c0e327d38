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
// Built twice. With BASELINE_FLOOR it also does the library work that every
// start of the program must do and nothing more, in the program's order:
// the imaging library loaded and kept with its "AlphaBlend" looked up, the
// version question, the common-controls and theme libraries loaded, asked
// and freed, InitCommonControlsEx with the classes 0xB48, and the timer
// routine imported (so the multimedia library comes with the image). The
// program over this floor is the cost of its own code.
#include <windows.h>
#ifdef BASELINE_FLOOR
#include <commctrl.h>
#include <mmsystem.h>
#include <shlwapi.h>
#endif

namespace {

const int BASELINE_RUN = 4;
const int BASELINE_REPEAT = 8;
const int BASELINE_EXIT = 16;

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

#ifdef BASELINE_FLOOR
// Kept referenced, never called at start-up: the import is the cost.
MMRESULT(WINAPI* volatile BaselineTimerRoutine)(UINT) = timeBeginPeriod;

template <typename Entry>
Entry BaselineEntry(HMODULE library, const char* name)
{
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void BaselineLibraryWork()
{
    HMODULE imaging = LoadLibraryA("msimg32.dll");  // kept to the end
    volatile FARPROC alphaBlend = imaging ? GetProcAddress(imaging, "AlphaBlend") : nullptr;
    (void)alphaBlend;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    bool probe = GetVersionExA(&version) &&
                 !(version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ||
                   (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion < 5));
    if (probe) {
        if (HMODULE controls = LoadLibraryA("COMCTL32.DLL")) {
            if (auto getVersion = BaselineEntry<DLLGETVERSIONPROC>(controls, "DllGetVersion")) {
                DLLVERSIONINFO info = {};
                info.cbSize = sizeof info;
                getVersion(&info);
            }
            FreeLibrary(controls);
        }
        if (HMODULE theme = LoadLibraryA("uxtheme.dll")) {
            if (auto themed = BaselineEntry<BOOL(WINAPI*)()>(theme, "IsAppThemed"))
                themed();
            FreeLibrary(theme);
        }
    }

    INITCOMMONCONTROLSEX classes = {sizeof classes, 0xB48};
    InitCommonControlsEx(&classes);
}
#endif

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
#ifdef BASELINE_FLOOR
    BaselineLibraryWork();
#endif
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
