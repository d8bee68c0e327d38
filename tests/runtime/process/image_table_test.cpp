// The image release callback: a bitmap goes to DeleteObject, an icon to
// DestroyIcon, ANY_NUMBER and the end routine release every image.
#include <gtest/gtest.h>

#include "runtime/process/image_table.h"

namespace {

HBITMAP MakeBitmap()
{
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HICON MakeIcon()
{
    BYTE andMask[32 * 4] = {};
    BYTE xorMask[32 * 4] = {};
    return CreateIcon(GetModuleHandleA(nullptr), 32, 32, 1, 1, andMask, xorMask);
}

bool BitmapAlive(HBITMAP bitmap)
{
    return GetObjectType(bitmap) == OBJ_BITMAP;
}

bool IconAlive(HICON icon)
{
    ICONINFO info;
    if (!GetIconInfo(icon, &info))
        return false;
    DeleteObject(info.hbmMask);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    return true;
}

ObjectNumber Keep(ObjectNumber number, HANDLE handle)
{
    auto* image = static_cast<ImageRecord*>(ObjectAllocate(ImageTable, number));
    if (!image)
        return 0;
    image->handle = handle;
    return number == ANY_NUMBER ? (ObjectNumber)image : number;
}

class ImageTableTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!ImageTable)
            ImageTableInit();
    }
};

TEST_F(ImageTableTest, ReleaseDestroysByKind)
{
    ASSERT_NE(ImageTable, nullptr);
    HBITMAP bitmap = MakeBitmap();
    HICON icon = MakeIcon();
    ASSERT_TRUE(BitmapAlive(bitmap));
    ASSERT_TRUE(IconAlive(icon));
    ObjectNumber b = Keep(3, bitmap);
    ObjectNumber i = Keep(ANY_NUMBER, icon);
    ASSERT_NE(i, 0);

    ImageRelease(b);
    EXPECT_FALSE(BitmapAlive(bitmap));
    EXPECT_EQ(ObjectGet(ImageTable, b), nullptr);
    EXPECT_TRUE(IconAlive(icon)) << "only the number given is released";

    ImageRelease(i);
    EXPECT_FALSE(IconAlive(icon));
    EXPECT_EQ(ObjectGet(ImageTable, i), nullptr);

    // Numbers that name nothing (again, or never) are ignored.
    ImageRelease(b);
    ImageRelease(i);
    ImageRelease(7);
}

TEST_F(ImageTableTest, AnyNumberAndEndReleaseEverything)
{
    struct Round {
        const char* name;
        void (*release)();
    };
    const Round rounds[] = {
        {"ImageRelease(ANY_NUMBER)", [] { ImageRelease(ANY_NUMBER); }},
        {"ImageServiceEnd", [] { ImageServiceEnd(); }},
    };
    for (const Round& round : rounds) {
        HBITMAP bitmaps[2] = {MakeBitmap(), MakeBitmap()};
        HICON icons[2] = {MakeIcon(), MakeIcon()};
        Keep(0, bitmaps[0]);
        Keep(20, icons[0]);  // past the first 16 slots
        Keep(ANY_NUMBER, bitmaps[1]);
        Keep(ANY_NUMBER, icons[1]);
        round.release();
        for (HBITMAP bitmap : bitmaps)
            EXPECT_FALSE(BitmapAlive(bitmap)) << round.name;
        for (HICON icon : icons)
            EXPECT_FALSE(IconAlive(icon)) << round.name;
        EXPECT_EQ(ObjectGet(ImageTable, 0), nullptr) << round.name;
        EXPECT_EQ(ObjectGet(ImageTable, 20), nullptr) << round.name;
    }
}

}  // namespace
