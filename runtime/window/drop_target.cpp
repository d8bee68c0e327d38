#include "runtime/window/drop_target.h"

void DropTargetRemove(HWND window)
{
    if (!RemovePropA(window, "KX_DropAccept"))
        return;
    HMODULE ole = LoadLibraryA("ole32.dll");
    if (!ole)
        return;
    typedef HRESULT(WINAPI * RevokeDragDropEntry)(HWND);
    auto revoke = reinterpret_cast<RevokeDragDropEntry>(
        reinterpret_cast<void*>(GetProcAddress(ole, "RevokeDragDrop")));
    if (revoke)
        revoke(window);
    FreeLibrary(ole);
}
