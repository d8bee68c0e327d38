// Numbered top-level windows.
#pragma once

#include "runtime/base.h"
#include "runtime/data/object_table.h"

constexpr ObjectNumber WINDOW_MAIN = 2;

constexpr uint32_t WINDOW_CENTRE_SCREEN = 0x1;
constexpr uint32_t WINDOW_CENTRE_PARENT = 0x2;
constexpr uint32_t WINDOW_TOOL_STYLE = 0x4;
constexpr uint32_t WINDOW_NO_CONTAINER = 0x8;
constexpr uint32_t WINDOW_START_MAXIMISED = 0x01000000;
constexpr uint32_t WINDOW_NO_ACTIVATE = 0x02000000;
constexpr uint32_t WINDOW_START_HIDDEN = 0x10000000;
constexpr uint32_t WINDOW_START_MINIMISED = 0x20000000;

constexpr WORD ACCEL_NEXT_CONTROL = 64001;
constexpr WORD ACCEL_PREVIOUS_CONTROL = 64002;

struct WindowRecord;

extern ObjectTable* WindowTable;

void WindowServiceInit();
void WindowServiceEnd();

// The window handle for a fixed number, the issued number for ANY_NUMBER, 0 on failure.
intptr_t WindowOpen(ObjectNumber number, int32_t x, int32_t y, int32_t innerWidth,
                    int32_t innerHeight, const char* title, uint32_t flags);
intptr_t WindowSetColor(ObjectNumber number, int32_t colour);
void WindowClose(ObjectNumber number);
// The accelerator table of an open window, or null (used by EventWait).
HACCEL WindowAccelerators(ObjectNumber number);

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
