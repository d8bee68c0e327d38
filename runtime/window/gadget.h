// Gadgets: numbered child controls (push buttons) of numbered windows.
#pragma once

#include "runtime/base.h"
#include "runtime/data/object_table.h"

extern ObjectTable* GadgetTable;

void GadgetServiceInit();
void GadgetServiceEnd();

// Push button in the calling thread's current container: the control's handle
// for a fixed number, the issued number for ANY_NUMBER, 0 on failure.
intptr_t ButtonCreate(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const char* text);
// fontHandle -1 stands for the default GUI font; ANY_NUMBER sets the thread's
// default gadget font.
intptr_t GadgetSetFont(ObjectNumber number, intptr_t fontHandle);
intptr_t GadgetFree(ObjectNumber number);
void GadgetFreeCallback(ObjectNumber number);

// Makes window the calling thread's current gadget container and returns the
// previous one; a null window only returns the current one.
HWND GadgetContainerSet(HWND window);

// Passes a parent's message about a control to the control's gadget kind;
// NOT_HANDLED when it is not a gadget or its kind has no handler.
LRESULT GadgetNotify(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam);
