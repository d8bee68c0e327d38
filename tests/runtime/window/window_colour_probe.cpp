// Window 2 as the program shows it, for a screenshot taken from outside:
// window_colour_probe DIR. Opens the window, colours it with 1, writes
// DIR/coloured ("x y width height" of the client area on the screen) and
// waits for DIR/next; then removes the colour, writes DIR/uncoloured (the
// same and the COLOR_BTNFACE value) and waits for DIR/done. Messages are
// dispatched all the while, so the window repaints whenever X asks.
#include <cstdio>
#include <string>

#include "runtime/process/globals.h"
#include "tests/runtime/window/window_services.h"

namespace {

void PumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 600; i++) {
        if (Exists(path))
            return true;
        PumpFor(50);
    }
    return false;
}

void Report(HWND window, const std::string& path, const char* extra)
{
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::string temporary = path + ".part";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file)
        return;
    std::fprintf(file, "%ld %ld %ld %ld %s\n", origin.x, origin.y, client.right, client.bottom, extra);
    std::fclose(file);
    MoveFileA(temporary.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::string dir = argv[1];
    InstanceHandle = GetModuleHandleA(nullptr);
    MainHeap = HeapCreate(0, 4096, 0);
    WindowServicesStart();

    auto window = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 300, 200, "Norvane", 5));
    if (!window)
        return 3;
    WindowSetColor(2, 1);
    PumpFor(300);
    Report(window, dir + "/coloured", "1 0 0");
    if (!WaitForFile(dir + "/next"))
        return 4;

    WindowSetColor(2, -1);
    PumpFor(300);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    char extra[32];
    std::snprintf(extra, sizeof(extra), "%d %d %d", GetRValue(face), GetGValue(face), GetBValue(face));
    Report(window, dir + "/uncoloured", extra);
    if (!WaitForFile(dir + "/done"))
        return 5;
    WindowClose(2);
    return 0;
}
