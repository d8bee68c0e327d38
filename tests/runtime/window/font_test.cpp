// Fonts: what FontLoad asks GDI for (read back from the font object), what
// it returns for fixed and issued numbers, and that freeing deletes.
#include <gtest/gtest.h>

#include "runtime/process/globals.h"
#include "tests/runtime/process/heap_count.h"
#include "tests/runtime/process/import_slot.h"
#include "tests/runtime/window/window_services.h"

IMPORT_SLOT(CreateDCA, 16);
IMPORT_SLOT(CreateFontA, 56);

namespace {

LOGFONTA FontDescription(HFONT font)
{
    LOGFONTA description = {};
    EXPECT_EQ(GetObjectA(font, sizeof(description), &description), (int)sizeof(description));
    return description;
}

int DisplayPixelsPerInch()
{
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    DeleteDC(dc);
    return dpi;
}

class FontTest : public testing::Test {
protected:
    static void SetUpTestSuite() { WindowServicesStart(); }
    void TearDown() override { FontFree(ANY_NUMBER); }
};

TEST_F(FontTest, ProgramFontsHaveTheirSizeWeightAndQuality)
{
    int dpi = DisplayPixelsPerInch();
    struct {
        int points;
        LONG heightAt96;
    } sizes[] = {{14, -19}, {12, -16}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.points);
        intptr_t number = FontLoad(ANY_NUMBER, "Arial", size.points, 16);
        ASSERT_NE(number, 0);
        HFONT font = FontHandle(number);
        ASSERT_NE(font, nullptr);
        EXPECT_NE(number, (intptr_t)font) << "an issued number, not the handle";
        LOGFONTA description = FontDescription(font);
        EXPECT_EQ(description.lfHeight, -MulDiv(size.points, dpi, 72));
        if (dpi == 96) {
            EXPECT_EQ(description.lfHeight, size.heightAt96);
        }
        EXPECT_EQ(description.lfWidth, 0);
        EXPECT_EQ(description.lfWeight, 400);
        EXPECT_EQ(description.lfQuality, 2);
        EXPECT_EQ(description.lfItalic, 0);
        EXPECT_EQ(description.lfUnderline, 0);
        EXPECT_EQ(description.lfStrikeOut, 0);
        EXPECT_EQ(description.lfCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(description.lfOutPrecision, OUT_DEFAULT_PRECIS);
        EXPECT_EQ(description.lfClipPrecision, CLIP_DEFAULT_PRECIS);
        EXPECT_EQ(description.lfPitchAndFamily, 0);
        EXPECT_STREQ(description.lfFaceName, "Arial");

        FontFree(number);
        EXPECT_EQ(GetObjectType(font), 0u) << "the font is deleted";
        EXPECT_EQ(FontHandle(number), nullptr);
    }
}

TEST_F(FontTest, StyleBits)
{
    struct StyleCase {
        const char* label;
        uint32_t style;
        LONG weight;
        BYTE italic, underline, strikeOut, quality;
    } cases[] = {
        {"none", 0, 400, 0, 0, 0, 0},
        {"underline", 0x4, 400, 0, 1, 0, 0},
        {"strike-out", 0x8, 400, 0, 0, 1, 0},
        {"proof quality", 0x10, 400, 0, 0, 0, 2},
        {"bold", 0x100, 700, 0, 0, 0, 0},
        {"italic", 0x200, 400, 1, 0, 0, 0},
        {"all", 0x31C, 700, 1, 1, 1, 2},
        {"other bits are ignored", 0xFFFFFCE3u, 400, 0, 0, 0, 0},
    };
    for (const StyleCase& c : cases) {
        SCOPED_TRACE(c.label);
        intptr_t handle = FontLoad(5, "Arial", 10, c.style);
        ASSERT_NE(handle, 0);
        LOGFONTA description = FontDescription(reinterpret_cast<HFONT>(handle));
        EXPECT_EQ(description.lfWeight, c.weight);
        EXPECT_EQ(description.lfItalic, c.italic);
        EXPECT_EQ(description.lfUnderline, c.underline);
        EXPECT_EQ(description.lfStrikeOut, c.strikeOut);
        EXPECT_EQ(description.lfQuality, c.quality);
    }
}

TEST_F(FontTest, FixedNumbersReturnTheHandleAndReplaceTheirFont)
{
    intptr_t first = FontLoad(3, "Arial", 12, 16);
    ASSERT_NE(first, 0);
    EXPECT_EQ(FontHandle(3), reinterpret_cast<HFONT>(first));
    intptr_t second = FontLoad(3, "Arial", 14, 16);
    ASSERT_NE(second, 0);
    EXPECT_EQ(FontHandle(3), reinterpret_cast<HFONT>(second));
    EXPECT_EQ(GetObjectType(reinterpret_cast<HFONT>(first)), 0u) << "the old font is deleted";
    EXPECT_EQ(GetObjectType(reinterpret_cast<HFONT>(second)), (DWORD)OBJ_FONT);

    FontFree(3);
    EXPECT_EQ(GetObjectType(reinterpret_cast<HFONT>(second)), 0u);
    EXPECT_EQ(FontHandle(3), nullptr);
    FontFree(3);  // nothing left: does nothing
    FontFree(12345);
    EXPECT_EQ(FontHandle(-7), nullptr);
}

TEST_F(FontTest, FreeingEveryFont)
{
    intptr_t a = FontLoad(ANY_NUMBER, "Arial", 12, 16);
    intptr_t b = FontLoad(ANY_NUMBER, "Arial", 14, 16);
    intptr_t c = FontLoad(1, "Arial", 9, 0);
    HFONT fonts[] = {FontHandle(a), FontHandle(b), reinterpret_cast<HFONT>(c)};
    for (HFONT font : fonts)
        ASSERT_EQ(GetObjectType(font), (DWORD)OBJ_FONT);
    FontFree(ANY_NUMBER);
    for (HFONT font : fonts)
        EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(FontHandle(a), nullptr);
    EXPECT_EQ(FontHandle(1), nullptr);
    FontServiceEnd();  // an empty table: nothing to do
}

HDC WINAPI FailingCreateDCA(LPCSTR, LPCSTR, LPCSTR, const DEVMODEA*)
{
    return nullptr;
}

HFONT WINAPI FailingCreateFontA(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                DWORD, DWORD, LPCSTR)
{
    return nullptr;
}

int MainHeapBlocks()
{
    return (int)HeapBusyBlocks(MainHeap);
}

// A failed load leaves the number without a font, and an ANY_NUMBER record
// that never held one is not kept.
TEST_F(FontTest, FailedLoadsLeaveNoFontAndNoRecord)
{
    struct {
        const char* label;
        void** slot;
        void* replacement;
    } failures[] = {
        {"no display context", &__imp_CreateDCA, (void*)FailingCreateDCA},
        {"no font", &__imp_CreateFontA, (void*)FailingCreateFontA},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.label);
        intptr_t previous = FontLoad(6, "Arial", 12, 0);
        ASSERT_NE(previous, 0);
        int blocks = MainHeapBlocks();
        ImportSlotScope failing(failure.slot, failure.replacement);
        EXPECT_EQ(FontLoad(6, "Arial", 14, 0), 0);
        EXPECT_EQ(FontHandle(6), nullptr);
        EXPECT_EQ(GetObjectType(reinterpret_cast<HFONT>(previous)), 0u) << "the old font went first";
        EXPECT_EQ(FontLoad(ANY_NUMBER, "Arial", 14, 0), 0);
        EXPECT_EQ(MainHeapBlocks(), blocks);
    }
}

TEST_F(FontTest, BadNumbersLoadNothing)
{
    EXPECT_EQ(FontLoad(-2, "Arial", 12, 0), 0);
    EXPECT_EQ(FontLoad(OBJECT_NUMBER_LIMIT, "Arial", 12, 0), 0);
}

}  // namespace
