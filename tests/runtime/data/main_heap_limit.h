// Test helper: runs a stretch of a test with a main heap that cannot grow,
// so that the runtime's allocations fail on demand. Everything allocated
// while the limit is in force must be freed (or abandoned) before it ends:
// the small heap is destroyed with it.
#pragma once

#include "runtime/process/globals.h"

class MainHeapLimit {
public:
    // room: the most the heap may ever hold, in bytes (at least 64 KiB).
    explicit MainHeapLimit(size_t room = 65536) : saved_(MainHeap), limited_(HeapCreate(0, 0, room))
    {
        MainHeap = limited_;
    }
    ~MainHeapLimit()
    {
        MainHeap = saved_;
        HeapDestroy(limited_);
    }
    MainHeapLimit(const MainHeapLimit&) = delete;
    MainHeapLimit& operator=(const MainHeapLimit&) = delete;

    // Takes every byte left, so the next main-heap allocation of any size fails.
    void Exhaust()
    {
        for (size_t size = 65536; size > 0; size /= 2)
            while (HeapAlloc(limited_, 0, size)) {
            }
    }

private:
    HANDLE saved_;
    HANDLE limited_;
};
