// Numbered object tables: object numbers to fixed-size records.
//
// A static number (0 upward) is its own index into the slot array; a dynamic
// object (ANY_NUMBER) gets a record outside the slots whose address is its
// issued number. A record whose first field is 0 counts as no object. Each
// table has a re-entrant lock; release callbacks run under it and may call
// back into the same table.
#pragma once

#include "runtime/base.h"
#include "runtime/data/list.h"

typedef void (*ReleaseCallback)(ObjectNumber number);

struct ObjectTable {
    uint32_t recordSize;        // bytes per record
    uint32_t growthStep;        // initial slots, and slots added past a number that does not fit
    uint32_t capacity;          // number of slots
    void** slots;               // capacity record pointers; empty slot = null
    ListLinks* dynamicRecords;  // records made for ANY_NUMBER, newest first
    ReleaseCallback release;    // the service's release routine, or null
    int32_t iterationPosition;  // next slot to examine in ObjectReleaseAll
    ListLinks* iterationCursor; // next dynamic record to hand out in ObjectReleaseAll
    CRITICAL_SECTION lock;
};

// Made once during start-up; no failure path, never destroyed.
ObjectTable* ObjectTableCreate(uint32_t recordSize, uint32_t growthStep, ReleaseCallback release);

// The record for number (ANY_NUMBER or a static number), zero-filled when new.
// A live static number is first released through the callback and its record
// reused. Null when no memory (the table is then unchanged).
void* ObjectAllocate(ObjectTable* table, ObjectNumber number);

// The live record of number, or null.
void* ObjectGet(ObjectTable* table, ObjectNumber number);

// Zero-fills a static record (it stays allocated) or frees a dynamic one.
void ObjectRelease(ObjectTable* table, ObjectNumber number);

// Calls the release callback for every object: ascending static numbers,
// then dynamic records oldest first. Nothing without a callback.
void ObjectReleaseAll(ObjectTable* table);
