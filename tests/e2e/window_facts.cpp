// Looks at the running program's control window from another process, as
// any desktop tool could, and prints what it finds, one fact per line:
//   system <platform> <major> <minor> <build>   what GetVersionExA answers
//       this program (a copy named Norvane.exe gets the program's answer)
//   processors <count> <system mask> <process mask>   GetProcessAffinityMask's
//       answer, the count being the set bits of the system mask
//   window <class> <style> <exstyle> <left> <top> <right> <bottom>
//   client <width> <height>
//   origin <x> <y>   the client area's top left inside the window rectangle
//   screen <width> <height>
//   property KX_WindowID <value>
//   child <id> <class> <style> <left> <top> <width> <height> <text>
// Positions of children are in the window's client coordinates.
// Exit code 1 when no "Norvane" window exists.
#include <windows.h>
#include <stdio.h>

static HWND Main;

static BOOL CALLBACK PrintChild(HWND child, LPARAM)
{
    char cls[64] = "", text[128] = "";
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, Main, reinterpret_cast<POINT*>(&r), 2);
    printf("child %ld %s 0x%08lx %ld %ld %ld %ld %s\n", (long)GetWindowLongPtrA(child, GWLP_ID), cls,
           (unsigned long)GetWindowLongA(child, GWL_STYLE), r.left, r.top, r.right - r.left, r.bottom - r.top, text);
    return TRUE;
}

int main()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version))
        printf("system %lu %lu %lu %lu\n", version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion,
               version.dwBuildNumber & 0xFFFF);
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        int count = 0;
        for (DWORD_PTR bits = system; bits; bits >>= 1)
            count += (int)(bits & 1);
        printf("processors %d 0x%llx 0x%llx\n", count, (unsigned long long)system, (unsigned long long)process);
    }
    Main = FindWindowA(nullptr, "Norvane");
    if (!Main) {
        printf("no window\n");
        return 1;
    }
    char cls[64] = "";
    GetClassNameA(Main, cls, sizeof cls);
    RECT w, c;
    GetWindowRect(Main, &w);
    GetClientRect(Main, &c);
    printf("window %s 0x%08lx 0x%08lx %ld %ld %ld %ld\n", cls, (unsigned long)GetWindowLongA(Main, GWL_STYLE),
           (unsigned long)GetWindowLongA(Main, GWL_EXSTYLE), w.left, w.top, w.right, w.bottom);
    printf("client %ld %ld\n", c.right - c.left, c.bottom - c.top);
    POINT origin = {0, 0};
    ClientToScreen(Main, &origin);
    printf("origin %ld %ld\n", origin.x - w.left, origin.y - w.top);
    printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    printf("visible %d\n", IsWindowVisible(Main) ? 1 : 0);
    printf("property KX_WindowID %ld\n", (long)(intptr_t)GetPropA(Main, "KX_WindowID"));
    EnumChildWindows(Main, PrintChild, 0);
    return 0;
}
