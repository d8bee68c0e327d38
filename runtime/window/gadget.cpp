#include "runtime/window/gadget.h"

// Stand-ins until the gadget service exists; replaced in place.
ObjectTable* GadgetTable;
void GadgetServiceInit() {}
void GadgetServiceEnd() {}
intptr_t ButtonCreate(ObjectNumber, int32_t, int32_t, int32_t, int32_t, const char*) { return 0; }
intptr_t GadgetSetFont(ObjectNumber, intptr_t) { return 0; }
intptr_t GadgetFree(ObjectNumber) { return 0; }
void GadgetFreeCallback(ObjectNumber) {}
HWND GadgetContainerSet(HWND) { return nullptr; }
LRESULT GadgetNotify(HWND, HWND, UINT, WPARAM, LPARAM) { return NOT_HANDLED; }
