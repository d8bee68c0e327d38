// The image service is only a table and its release callback: no operation of
// this program makes images, so all that remains is to release whatever is
// left at shutdown. GetObjectType tells a bitmap (a GDI object) from an icon
// (a user object, for which it reports no GDI type).
#include "runtime/process/image_table.h"

ObjectTable* ImageTable;

void ImageTableInit()
{
    ImageTable = ObjectTableCreate(sizeof(ImageRecord), IMAGE_TABLE_GROWTH, ImageRelease);
}

void ImageRelease(ObjectNumber number)
{
    if (!ImageTable)
        return;
    if (number == ANY_NUMBER) {
        ObjectReleaseAll(ImageTable);
        return;
    }
    auto* image = static_cast<ImageRecord*>(ObjectGet(ImageTable, number));
    if (!image)
        return;
    if (GetObjectType(image->handle) == OBJ_BITMAP)
        DeleteObject(static_cast<HGDIOBJ>(image->handle));
    else
        DestroyIcon(static_cast<HICON>(image->handle));
    ObjectRelease(ImageTable, number);
}

void ImageServiceEnd()
{
    if (ImageTable)
        ObjectReleaseAll(ImageTable);
}
