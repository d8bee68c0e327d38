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
#include <windows.h>

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

}  // namespace

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
