#include "runtime/window/drop_target.h"

void DropTargetRemove(HWND window)
{
    // A mark found here was set by someone else: taken away, never acted on.
    RemovePropA(window, "KX_DropAccept");
}
