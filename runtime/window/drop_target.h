// Drop targets of windows and gadgets.
#pragma once

#include <windows.h>

// Removes the "KX_DropAccept" property and, when it was there, revokes the
// window's drop target. Nothing in this program makes drop targets, so ole32
// is loaded only in that case, at run time, and is not an import.
void DropTargetRemove(HWND window);
