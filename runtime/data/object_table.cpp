// Numbered object tables.
//
// Static records live in a slot array indexed by their number and are never
// freed: releasing zero-fills them, so a number's record address is stable
// for the life of the process. Dynamic records sit in a list of the shared
// form; their payload address is the issued number, so looking one up is a
// walk of that list (the value is never trusted as a pointer). The slot
// array only grows, by the growth step past the number asked for. Every
// operation holds the table's critical section; it is re-entrant because
// release callbacks run under it and call back in. ObjectReleaseAll keeps
// its position and cursor in the table and advances them before each
// callback; ObjectRelease moves the cursor off a record it frees, so a
// callback may free any dynamic record, not only the one it was given.
#include "runtime/data/object_table.h"

#include <string.h>

#include "runtime/process/globals.h"

// Records are never smaller than the alive mark they are tested by.
static size_t RecordBytes(const ObjectTable* table)
{
    return table->recordSize < sizeof(uintptr_t) ? sizeof(uintptr_t) : table->recordSize;
}

static bool IsSlotNumber(const ObjectTable* table, ObjectNumber number)
{
    return number >= 0 && (uintptr_t)number < table->capacity;
}

// The dynamic list record whose issued number is number, or null.
static ListLinks* DynamicRecordFind(const ObjectTable* table, ObjectNumber number)
{
    for (ListLinks* record = table->dynamicRecords; record; record = record->next) {
        if ((ObjectNumber)ListPayloadOf(record) == number)
            return record;
    }
    return nullptr;
}

// Grows the slot array so that number fits; false (nothing changed) when no memory.
static bool SlotsGrow(ObjectTable* table, ObjectNumber number)
{
    uint64_t wanted = (uint64_t)number + (table->growthStep ? table->growthStep : 1);
    if (wanted > (uint64_t)OBJECT_NUMBER_LIMIT)
        wanted = OBJECT_NUMBER_LIMIT;
    void** slots = static_cast<void**>(MainHeapRealloc(table->slots, (size_t)wanted * sizeof(void*)));
    if (!slots)
        return false;
    table->slots = slots;
    table->capacity = (uint32_t)wanted;
    return true;
}

static void* StaticAllocate(ObjectTable* table, ObjectNumber number)
{
    if (IsSlotNumber(table, number) && table->slots[number]) {
        if (table->release)
            table->release(number);
        return table->slots[number];
    }
    // The record first: a failure after growing would leave the table changed.
    void* record = MainHeapAlloc(RecordBytes(table));
    if (!record)
        return nullptr;
    if (!IsSlotNumber(table, number) && !SlotsGrow(table, number)) {
        MainHeapFree(record);
        return nullptr;
    }
    table->slots[number] = record;
    return record;
}

ObjectTable* ObjectTableCreate(uint32_t recordSize, uint32_t growthStep, ReleaseCallback release)
{
    // Start-up checks the result: without memory there is no table at all,
    // rather than a half-made one written through a null pointer.
    auto* table = static_cast<ObjectTable*>(MainHeapAlloc(sizeof(ObjectTable)));
    if (!table)
        return nullptr;
    void** slots = static_cast<void**>(MainHeapAlloc((size_t)growthStep * sizeof(void*)));
    if (!slots && growthStep != 0) {
        MainHeapFree(table);
        return nullptr;
    }
    table->recordSize = recordSize;
    table->growthStep = growthStep;
    table->capacity = growthStep;
    table->slots = slots;
    table->release = release;
    InitializeCriticalSection(&table->lock);
    return table;
}

void* ObjectAllocate(ObjectTable* table, ObjectNumber number)
{
    void* result = nullptr;
    EnterCriticalSection(&table->lock);
    if (number == ANY_NUMBER)
        result = ListPushFront(&table->dynamicRecords, sizeof(ListLinks) + RecordBytes(table));
    else if (number >= 0 && number < OBJECT_NUMBER_LIMIT)
        result = StaticAllocate(table, number);
    LeaveCriticalSection(&table->lock);
    return result;
}

void* ObjectGet(ObjectTable* table, ObjectNumber number)
{
    void* record = nullptr;
    EnterCriticalSection(&table->lock);
    if (IsSlotNumber(table, number)) {
        record = table->slots[number];
    } else {
        ListLinks* links = DynamicRecordFind(table, number);
        if (links)
            record = ListPayloadOf(links);
    }
    LeaveCriticalSection(&table->lock);
    if (record && *static_cast<volatile uintptr_t*>(record) != 0)
        return record;
    return nullptr;
}

void ObjectRelease(ObjectTable* table, ObjectNumber number)
{
    EnterCriticalSection(&table->lock);
    if (IsSlotNumber(table, number)) {
        if (table->slots[number])
            memset(table->slots[number], 0, RecordBytes(table));
    } else if (ListLinks* record = DynamicRecordFind(table, number)) {
        if (record == table->iterationCursor)
            table->iterationCursor = record->previous;
        ListRemove(&table->dynamicRecords, ListPayloadOf(record));
    }
    LeaveCriticalSection(&table->lock);
}

// The next live static number from the iteration position, advancing the
// position past it; false when the slots are exhausted. The capacity is
// re-read each time: a callback may grow the table.
static bool NextStaticNumber(ObjectTable* table, ObjectNumber* number)
{
    while ((uint32_t)table->iterationPosition < table->capacity) {
        int32_t position = table->iterationPosition++;
        void* record = table->slots[position];
        if (record && *static_cast<uintptr_t*>(record) != 0) {
            *number = position;
            return true;
        }
    }
    return false;
}

void ObjectReleaseAll(ObjectTable* table)
{
    if (!table->release)
        return;
    EnterCriticalSection(&table->lock);
    table->iterationPosition = 0;
    ListLinks* oldest = table->dynamicRecords;
    while (oldest && oldest->next)
        oldest = oldest->next;
    table->iterationCursor = oldest;
    for (;;) {
        ObjectNumber number;
        if (!NextStaticNumber(table, &number)) {
            ListLinks* record = table->iterationCursor;
            if (!record)
                break;
            table->iterationCursor = record->previous;
            number = (ObjectNumber)ListPayloadOf(record);
        }
        table->release(number);
    }
    table->iterationCursor = nullptr;
    LeaveCriticalSection(&table->lock);
}
