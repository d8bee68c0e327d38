// The shared list form: a record begins with the links next and previous,
// followed by its payload; a list is named by a pointer to its first record.
// Used by the thread service, the object tables' dynamic records and the
// per-thread data registrations.
#pragma once

#include <stddef.h>

struct ListLinks {
    ListLinks* next;      // the next (older) record, null in the last
    ListLinks* previous;  // the previous (newer) record, null in the first
};

// Allocates size bytes (the two links included) zero-filled from the main
// heap and puts the record at the front of *head. Returns the payload (the
// bytes after the links), or null with the list unchanged when no memory.
void* ListPushFront(ListLinks** head, size_t size);

// Unlinks the record whose payload is given and frees it to the main heap.
void ListRemove(ListLinks** head, void* payload);

// The record of a payload, and the payload of a record.
inline ListLinks* ListRecordOf(void* payload) { return static_cast<ListLinks*>(payload) - 1; }
inline void* ListPayloadOf(ListLinks* record) { return record + 1; }
