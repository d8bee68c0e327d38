// Numbered images: bitmaps and icons kept in an object table. This program
// never makes one; the table exists so that a release at shutdown finds it.
#pragma once

#include "runtime/base.h"
#include "runtime/data/object_table.h"

// An image record: the system handle first (the alive mark), a bitmap or an
// icon.
struct ImageRecord {
    HANDLE handle;
};

constexpr uint32_t IMAGE_TABLE_GROWTH = 16;

// Null until ImageTableInit, and when the table could not be made.
extern ObjectTable* ImageTable;

// Makes the image table (growth step 16) with ImageRelease as its callback.
void ImageTableInit();

// The release callback. ANY_NUMBER releases every image; a live number has
// its handle destroyed (DeleteObject for a bitmap, DestroyIcon otherwise)
// and is released; anything else is ignored.
void ImageRelease(ObjectNumber number);

// Releases every image still held; nothing without a table.
void ImageServiceEnd();
