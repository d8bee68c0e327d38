// Push buttons: the "Button" control as gadget kind 1.
//
// The control is created first, with identifier -1, and a gadget number is
// taken only once it exists; a number the table refuses (out of range, no
// memory) destroys the new control again, so a failed ButtonCreate leaves
// neither a number nor a control behind. A button's clicks need nothing from
// its kind: the parent's WM_COMMAND becomes EVT_GADGET in WindowProc.
#include <string.h>

#include "runtime/process/globals.h"
#include "runtime/window/gadget.h"

GadgetKind ButtonKind;

// Room around the text of a push button, in pixels per side.
constexpr int32_t BUTTON_MARGIN_X = 8;
constexpr int32_t BUTTON_MARGIN_Y = 4;

static intptr_t ButtonGetState(GadgetRecord* record)
{
    return SendMessageA(record->window, BM_GETCHECK, 0, 0) & 1;
}

static intptr_t ButtonSetState(GadgetRecord* record, intptr_t state)
{
    return SendMessageA(record->window, BM_SETCHECK, state ? 1 : 0, 0);
}

static intptr_t ButtonRequiredSize(GadgetRecord* record, int32_t* width, int32_t* height)
{
    char text[256];
    int length = GetWindowTextA(record->window, text, sizeof text);
    HDC dc = GetDC(record->window);
    if (!dc)
        return 0;
    HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageA(record->window, WM_GETFONT, 0, 0));
    SIZE size = {};
    BOOL measured = GetTextExtentPoint32A(dc, length ? text : " ", length ? length : 1, &size);
    SelectObject(dc, old);
    ReleaseDC(record->window, dc);
    if (!measured)
        return 0;
    *width = size.cx + 2 * (BUTTON_MARGIN_X + GetSystemMetrics(SM_CXEDGE));
    *height = size.cy + 2 * (BUTTON_MARGIN_Y + GetSystemMetrics(SM_CYEDGE));
    return 1;
}

static void ButtonKindFill()
{
    ButtonKind.getState = ButtonGetState;
    ButtonKind.setState = ButtonSetState;
    ButtonKind.requiredSize = ButtonRequiredSize;
    ButtonKind.code = GADGET_KIND_BUTTON;
}

intptr_t ButtonCreate(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const char* text)
{
    GadgetContainerState* s = GadgetContainerGet();
    if (!ButtonKind.code)
        ButtonKindFill();
    HWND container = s ? s->currentContainer : nullptr;
    if (!container || !GadgetTable)
        return 0;
    HWND window = CreateWindowExA(0, "Button", text ? text : "", GADGET_STYLE | BS_PUSHBUTTON, x, y,
                                  width, height, container, (HMENU)(intptr_t)-1, InstanceHandle,
                                  nullptr);
    if (!window)
        return 0;
    auto* record = static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, number));
    if (!record) {
        DestroyWindow(window);
        return 0;
    }
    return GadgetAttach(number, record, window, &ButtonKind);
}
