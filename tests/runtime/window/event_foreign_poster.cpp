// A second process for the hidden-window tests: event_foreign_poster HWND
// posts and sends "KX_PostEventMessage" to the given window with lParam
// values that mean nothing in the receiver: small numbers, all ones, and
// addresses from this process (a heap block laid out like an event, the
// stack, the image). Exit code 0 when the window could be reached.
#include <windows.h>

#include <stdint.h>
#include <stdlib.h>

#include <initializer_list>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    HWND target = (HWND)(intptr_t)_strtoi64(argv[1], nullptr, 10);
    if (!IsWindow(target))
        return 3;
    UINT message = RegisterWindowMessageA("KX_PostEventMessage");
    auto* block = static_cast<int32_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 64));
    block[1] = 13100;
    block[3] = 4;
    block[4] = 2;
    int32_t local[16] = {0, 13100, 1, 4, 2, 0};
    const LPARAM values[] = {0, 1, -1, 4096, (LPARAM)0xDEADBEEF, (LPARAM)block,
                             (LPARAM)local, (LPARAM)GetModuleHandleA(nullptr),
                             (LPARAM)0x7FFE0000, (LPARAM)0x10000};
    int reached = 0;
    for (LPARAM lParam : values) {
        for (WPARAM wParam : {(WPARAM)0, (WPARAM)1, (WPARAM)2, (WPARAM)-1}) {
            reached += PostMessageA(target, message, wParam, lParam) ? 1 : 0;
            DWORD_PTR result = 0;
            SendMessageTimeoutA(target, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
        }
    }
    PostMessageA(target, WM_CLOSE, 0, 0);
    HeapFree(GetProcessHeap(), 0, block);
    return reached > 0 ? 0 : 4;
}
