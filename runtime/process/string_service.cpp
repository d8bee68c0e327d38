// The string service keeps a private heap so that string work never
// fragments the main heap, and one work record per thread behind a TLS slot.
// In this program only the main thread gets a record, made at start-up; the
// record and its buffer live in StringHeap, so destroying the heap at the end
// frees them both and the slot is freed after it.
#include "runtime/process/string_service.h"

HANDLE StringHeap;
DWORD StringWorkSlot = TLS_OUT_OF_INDEXES;

void StringServiceInit()
{
    StringHeap = HeapCreate(0, 4096, 0);
    StringWorkSlot = TlsAlloc();
    if (!StringHeap || StringWorkSlot == TLS_OUT_OF_INDEXES)
        return;
    auto* work = static_cast<StringWorkBuffer*>(HeapAlloc(StringHeap, 0, sizeof(StringWorkBuffer)));
    if (!work)
        return;
    work->buffer = static_cast<char*>(HeapAlloc(StringHeap, 0, STRING_WORK_CAPACITY));
    if (!work->buffer) {
        HeapFree(StringHeap, 0, work);
        return;
    }
    work->capacity = STRING_WORK_CAPACITY;
    work->length = 0;
    TlsSetValue(StringWorkSlot, work);
}

bool StringServiceReady()
{
    return StringHeap && StringWorkSlot != TLS_OUT_OF_INDEXES && TlsGetValue(StringWorkSlot);
}

void StringServiceEnd()
{
    if (StringHeap)
        HeapDestroy(StringHeap);
    StringHeap = nullptr;
    if (StringWorkSlot != TLS_OUT_OF_INDEXES)
        TlsFree(StringWorkSlot);
    StringWorkSlot = TLS_OUT_OF_INDEXES;
}
