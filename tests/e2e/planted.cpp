// A library an attacker plants beside the program or in its current folder,
// under the name of a library the program uses (copied to msimg32.dll,
// uxtheme.dll, comctl32.dll and winmm.dll by planted_library_test.sh). If
// its code ever runs, it leaves "<its own path>.ran" behind. It exports the
// entries the program would bind to, so that a program that takes it still
// starts and the test sees the mark, not a failed start.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
        if (length && length < MAX_PATH) {
            lstrcpyA(path + length, ".ran");
            HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (mark != INVALID_HANDLE_VALUE)
                CloseHandle(mark);
        }
    }
    return TRUE;
}

extern "C" __declspec(dllexport) UINT WINAPI timeBeginPeriod(UINT) { return 0; }
extern "C" __declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void*) { return TRUE; }
