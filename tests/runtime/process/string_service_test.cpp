// The string service's heap, slot and work record, and its end routine after
// a full, a partial and a repeated start.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/process/string_service.h"
#include "tls_slots.h"

namespace {

bool HeapExists(HANDLE heap)
{
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    DWORD count = GetProcessHeaps((DWORD)heaps.size(), heaps.data());
    for (DWORD i = 0; i < count && i < heaps.size(); ++i)
        if (heaps[i] == heap)
            return true;
    return false;
}

TEST(StringService, InitMakesHeapSlotAndWorkRecord)
{
    StringServiceInit();
    ASSERT_TRUE(StringServiceReady());
    EXPECT_TRUE(HeapExists(StringHeap));
    auto* work = static_cast<StringWorkBuffer*>(TlsGetValue(StringWorkSlot));
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work->capacity, 16);
    EXPECT_EQ(work->length, 0);
    ASSERT_NE(work->buffer, nullptr);
    EXPECT_EQ(HeapSize(StringHeap, 0, work->buffer), 16u);
    EXPECT_EQ(HeapSize(StringHeap, 0, work), sizeof(StringWorkBuffer));

    HANDLE heap = StringHeap;
    DWORD slot = StringWorkSlot;
    StringServiceEnd();
    EXPECT_FALSE(HeapExists(heap));
    EXPECT_EQ(StringHeap, nullptr);
    EXPECT_EQ(StringWorkSlot, TLS_OUT_OF_INDEXES);
    // TlsAlloc hands out the lowest free index: the freed slot comes back.
    DWORD again = TlsAlloc();
    EXPECT_EQ(again, slot);

    // Ending again must not free the slot that now belongs to someone else.
    StringServiceEnd();
    DWORD next = TlsAlloc();
    EXPECT_NE(next, again);
    TlsFree(next);
    TlsFree(again);
}

TEST(StringService, WithoutASlotKeepsNoRecordAndEndsCleanly)
{
    std::vector<DWORD> taken = TakeEverySlot();
    StringServiceInit();
    FreeSlots(taken);

    EXPECT_FALSE(StringServiceReady());
    EXPECT_EQ(StringWorkSlot, TLS_OUT_OF_INDEXES);
    HANDLE heap = StringHeap;
    ASSERT_NE(heap, nullptr);
    StringServiceEnd();
    EXPECT_FALSE(HeapExists(heap));

    // None of the slots freed above was freed twice: all can be taken again.
    std::vector<DWORD> retaken = TakeEverySlot();
    EXPECT_GE(retaken.size(), taken.size());
    FreeSlots(retaken);
}

}  // namespace
