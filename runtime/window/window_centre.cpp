// Centring a new window, after creation and before it is shown.
//
// Screen centring uses the whole screen, not the work area, and clamps the
// window's size to the screen first, so a window larger than the screen
// lands at 0 on that axis. Parent centring keeps the window's top-left
// corner on the screen. With neither a parent nor an active window there is
// nothing to centre on but the screen, so the screen is used. A window
// whose own size cannot be read stays where it was created: a position
// worked out from an unread rectangle could put it anywhere, off every
// screen.
#include "runtime/window/window.h"

static void CentreOnScreen(int32_t width, int32_t height, int32_t* x, int32_t* y)
{
    int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (width > screenWidth)
        width = screenWidth;
    if (height > screenHeight)
        height = screenHeight;
    *x = (screenWidth - width) / 2;
    *y = (screenHeight - height) / 2;
}

void WindowCentre(HWND window, uint32_t flags, HWND parent)
{
    RECT own;
    if (!GetWindowRect(window, &own))
        return;
    int32_t width = own.right - own.left;
    int32_t height = own.bottom - own.top;
    int32_t x;
    int32_t y;
    HWND reference = nullptr;
    if (!(flags & WINDOW_CENTRE_SCREEN) && (flags & WINDOW_CENTRE_PARENT))
        reference = parent ? parent : GetActiveWindow();
    RECT area;
    if (reference && reference != window && GetWindowRect(reference, &area)) {
        x = area.left + (area.right - area.left - width) / 2;
        y = area.top + (area.bottom - area.top - height) / 2;
        if (x < 0)
            x = 0;
        if (y < 0)
            y = 0;
    } else {
        CentreOnScreen(width, height, &x, &y);
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
