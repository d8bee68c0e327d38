// Numbered object tables: object numbers to fixed-size records.
//
// A static number (0 upward) is its own index into the slot array; a dynamic
// object (ANY_NUMBER) gets a record outside the slots whose address is its
// issued number. A record whose first pointer-sized field is 0 counts as no
// object. Each table has a re-entrant lock; release callbacks run under it
// and may call back into the same table.
#pragma once

#include <stddef.h>

#include "runtime/base.h"
#include "runtime/data/list.h"

typedef void (*ReleaseCallback)(ObjectNumber number);

// Static numbers are below this bound and slot arrays never grow past it.
// Windows never maps the lowest 64 KB, so no issued number (a record
// address) can fall in the static range.
constexpr ObjectNumber OBJECT_NUMBER_LIMIT = 0x10000;

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

#if RUNTIME_PE32
static_assert(offsetof(ObjectTable, growthStep) == 4);
static_assert(offsetof(ObjectTable, capacity) == 8);
static_assert(offsetof(ObjectTable, slots) == 12);
static_assert(offsetof(ObjectTable, dynamicRecords) == 16);
static_assert(offsetof(ObjectTable, release) == 20);
static_assert(offsetof(ObjectTable, iterationPosition) == 24);
static_assert(offsetof(ObjectTable, iterationCursor) == 28);
static_assert(offsetof(ObjectTable, lock) == 32);
#endif

// Made once during start-up with growthStep empty slots; never destroyed.
// Null when the main heap has no room for it (start-up then gives up).
ObjectTable* ObjectTableCreate(uint32_t recordSize, uint32_t growthStep, ReleaseCallback release);

// The record for number, zero-filled when new:
// - ANY_NUMBER: a new dynamic record; its address is the issued number.
// - 0 <= number < OBJECT_NUMBER_LIMIT: the slot's record. A slot that holds
//   a record is first released through the callback (with the number) and
//   the same record, as the callback left it, is returned. A number past
//   the slots grows them to number + growth step (at most the limit).
// - anything else (other negatives, numbers at or past the limit): null.
// Null also when no memory; the table is then unchanged.
void* ObjectAllocate(ObjectTable* table, ObjectNumber number);

// The live record of number (a slot number below capacity, else an issued
// number of this table), or null. The alive mark is read after the lock is
// left: the record's contents belong to its service.
void* ObjectGet(ObjectTable* table, ObjectNumber number);

// Zero-fills a static record (it stays allocated for reuse) or frees a live
// dynamic one. Any other value does nothing.
void ObjectRelease(ObjectTable* table, ObjectNumber number);

// Calls the release callback for every object: live static numbers in
// ascending order, then every dynamic record oldest first (alive or not).
// The callback runs under the lock and may release the number it was given
// (or any other). Nothing without a callback.
void ObjectReleaseAll(ObjectTable* table);
