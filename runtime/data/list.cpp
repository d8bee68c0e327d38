#include "runtime/data/list.h"

#include "runtime/process/globals.h"

void* ListPushFront(ListLinks** head, size_t size)
{
    auto* record = static_cast<ListLinks*>(MainHeapAlloc(size));
    if (!record)
        return nullptr;
    if (*head) {
        (*head)->previous = record;
        record->next = *head;
    }
    *head = record;
    return ListPayloadOf(record);
}

void ListRemove(ListLinks** head, void* payload)
{
    ListLinks* record = ListRecordOf(payload);
    if (record == *head) {
        *head = record->next;
        if (record->next)
            record->next->previous = nullptr;
    } else {
        if (record->previous)
            record->previous->next = record->next;
        if (record->next)
            record->next->previous = record->previous;
    }
    MainHeapFree(record);
}
