// Numbered GDI fonts.
#pragma once

#include "runtime/base.h"

constexpr uint32_t FONT_UNDERLINE = 0x4;
constexpr uint32_t FONT_STRIKEOUT = 0x8;
constexpr uint32_t FONT_PROOF_QUALITY = 0x10;
constexpr uint32_t FONT_BOLD = 0x100;
constexpr uint32_t FONT_ITALIC = 0x200;

void FontServiceInit();
void FontServiceEnd();
// The font handle for a fixed number, the issued number for ANY_NUMBER, 0 on failure.
intptr_t FontLoad(ObjectNumber number, const char* faceName, int32_t pointSize, uint32_t style);
HFONT FontHandle(ObjectNumber number);
void FontFree(ObjectNumber number);
