// Numbered GDI fonts.
//
// Sizes are in points: the height given to CreateFontA is the negated em
// height in pixels at the display's vertical resolution, rounded by MulDiv.
// A failed load releases the number it allocated, so an ANY_NUMBER record
// that never held a font does not linger in the table.
#include "runtime/window/font.h"

ObjectTable* FontTable;

void FontServiceInit()
{
    FontTable = ObjectTableCreate(sizeof(FontRecord), 16, FontFree);
}

void FontServiceEnd()
{
    ObjectReleaseAll(FontTable);
}

intptr_t FontLoad(ObjectNumber number, const char* faceName, int32_t pointSize, uint32_t style)
{
    auto* record = static_cast<FontRecord*>(ObjectAllocate(FontTable, number));
    if (!record)
        return 0;
    ObjectNumber issued = number == ANY_NUMBER ? (ObjectNumber)record : number;

    int weight = (style & FONT_BOLD) ? FW_BOLD : FW_NORMAL;
    DWORD italic = (style & FONT_ITALIC) ? 1 : 0;
    DWORD underline = (style & FONT_UNDERLINE) ? 1 : 0;
    DWORD strikeOut = (style & FONT_STRIKEOUT) ? 1 : 0;
    DWORD quality = (style & FONT_PROOF_QUALITY) ? PROOF_QUALITY : DEFAULT_QUALITY;

    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!dc) {
        ObjectRelease(FontTable, issued);
        return 0;
    }
    int height = -MulDiv(pointSize, GetDeviceCaps(dc, LOGPIXELSY), 72);
    HFONT font = CreateFontA(height, 0, 0, 0, weight, italic, underline, strikeOut,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality,
                             DEFAULT_PITCH | FF_DONTCARE, faceName);
    intptr_t result = 0;
    if (font) {
        record->font = font;
        result = number == ANY_NUMBER ? issued : (intptr_t)font;
    } else {
        ObjectRelease(FontTable, issued);
    }
    DeleteDC(dc);
    return result;
}

HFONT FontHandle(ObjectNumber number)
{
    auto* record = static_cast<FontRecord*>(ObjectGet(FontTable, number));
    return record ? record->font : nullptr;
}

void FontFree(ObjectNumber number)
{
    if (number == ANY_NUMBER) {
        ObjectReleaseAll(FontTable);
        return;
    }
    auto* record = static_cast<FontRecord*>(ObjectGet(FontTable, number));
    if (!record)
        return;
    DeleteObject(record->font);
    ObjectRelease(FontTable, number);
}
