#include "runtime/window/drop_target.h"

#include "runtime/process/system_library.h"

void DropTargetRemove(HWND window)
{
    if (!RemovePropA(window, "KX_DropAccept"))
        return;
    HMODULE ole = SystemLibraryLoad("ole32.dll");
    if (!ole)
        return;
    typedef HRESULT(WINAPI * RevokeDragDropEntry)(HWND);
    auto revoke = SystemEntry<RevokeDragDropEntry>(ole, "RevokeDragDrop");
    if (revoke)
        revoke(window);
    FreeLibrary(ole);
}
