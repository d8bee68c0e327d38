// Drop targets of windows and gadgets.
#pragma once

#include <windows.h>

// Removes the "KX_DropAccept" property of a window being destroyed. Whether
// a window has a drop target to revoke is the program's own knowledge, not
// the property's: any process can set the property, and the system's revoke
// would then trust registration properties that process can forge as well.
// This program registers no drop target, so nothing is revoked and ole32 is
// never loaded.
void DropTargetRemove(HWND window);
