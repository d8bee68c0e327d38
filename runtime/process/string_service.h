// The string service: its private heap and the main thread's work buffer.
#pragma once

#include "runtime/base.h"

// The work record of one thread, in StringHeap.
struct StringWorkBuffer {
    char* buffer;      // StringHeap block, contents not cleared
    int32_t capacity;  // bytes in buffer
    int32_t length;    // bytes in use
};

constexpr int32_t STRING_WORK_CAPACITY = 16;

// Private heap of the string service (HeapCreate(0, 4096, 0)); null before
// StringServiceInit, after StringServiceEnd, or when it could not be made.
extern HANDLE StringHeap;
// Thread-local slot holding each thread's StringWorkBuffer (only the main
// thread ever has one); TLS_OUT_OF_INDEXES when there is none.
extern DWORD StringWorkSlot;

// Makes the heap, the slot and the calling thread's work record with a
// 16-byte buffer. Whatever could not be made stays null (the slot
// TLS_OUT_OF_INDEXES); StringServiceReady tells whether all of it exists.
void StringServiceInit();
// True when the heap, the slot and the calling thread's work record exist.
bool StringServiceReady();
// Destroys the string heap (the work record goes with it), then frees the
// slot. Safe after a partial or missing StringServiceInit.
void StringServiceEnd();
