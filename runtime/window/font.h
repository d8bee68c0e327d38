// Numbered GDI fonts.
//
// FontLoad makes a font from a face name, a size in points at the display's
// resolution and style bits; FontHandle gives the handle that controls take.
// FontFree deletes it; it is also the font table's release routine.
#pragma once

#include "runtime/base.h"
#include "runtime/data/object_table.h"

constexpr uint32_t FONT_UNDERLINE = 0x4;
constexpr uint32_t FONT_STRIKEOUT = 0x8;
constexpr uint32_t FONT_PROOF_QUALITY = 0x10;
constexpr uint32_t FONT_BOLD = 0x100;
constexpr uint32_t FONT_ITALIC = 0x200;

// One loaded font; font 0 = no font (the object table's alive mark).
struct FontRecord {
    HFONT font;
};

extern ObjectTable* FontTable;

void FontServiceInit();
// Deletes every loaded font.
void FontServiceEnd();
// The font handle for a fixed number, the issued number for ANY_NUMBER, 0 on
// failure. A font already loaded under the number is deleted first; after a
// failure the number holds no font. Style bits other than the FONT_ ones are
// ignored.
intptr_t FontLoad(ObjectNumber number, const char* faceName, int32_t pointSize, uint32_t style);
// The font's handle, or 0 when the number holds no font.
HFONT FontHandle(ObjectNumber number);
// Deletes the font; ANY_NUMBER deletes every font. A number without a font
// does nothing.
void FontFree(ObjectNumber number);
