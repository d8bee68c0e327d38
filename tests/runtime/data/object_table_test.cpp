// Numbered object tables: slots and growth, reuse of a live number's record,
// dynamic records, the release-all order and cursor, failure without memory,
// and a random differential run against a reference model.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "runtime/data/object_table.h"
#include "runtime/process/globals.h"
#include "tests/runtime/data/main_heap_limit.h"
#include "tests/runtime/data/process_threads.h"

namespace {

struct TestRecord {
    uintptr_t handle;  // the alive mark
    uint32_t payload[5];
};

// The table the callbacks below work on, and every number they were given.
ObjectTable* Current;
std::vector<ObjectNumber> Calls;

// The common release pattern of the services, recording every call.
void ReleasePattern(ObjectNumber number)
{
    Calls.push_back(number);
    if (number == ANY_NUMBER) {
        ObjectReleaseAll(Current);
        return;
    }
    if (ObjectGet(Current, number))
        ObjectRelease(Current, number);
}

ObjectTable* MakeTable(uint32_t growthStep, ReleaseCallback release = ReleasePattern)
{
    Calls.clear();
    Current = ObjectTableCreate(sizeof(TestRecord), growthStep, release);
    return Current;
}

bool AllZero(const void* bytes, size_t size)
{
    auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size; ++i)
        if (p[i])
            return false;
    return true;
}

TestRecord* Live(ObjectTable* table, ObjectNumber number, uintptr_t handle = 0x1234)
{
    auto* record = static_cast<TestRecord*>(ObjectAllocate(table, number));
    if (record)
        record->handle = handle;
    return record;
}

size_t DynamicCount(const ObjectTable* table)
{
    size_t count = 0;
    for (ListLinks* links = table->dynamicRecords; links; links = links->next)
        ++count;
    return count;
}

TEST(ObjectTable, FreshTableHasEmptySlotsAndNewRecordsAreDeadUntilMarked)
{
    ObjectTable* gadgets = MakeTable(50);
    ASSERT_EQ(gadgets->capacity, 50u);
    for (uint32_t i = 0; i < gadgets->capacity; ++i)
        EXPECT_EQ(gadgets->slots[i], nullptr) << "slot " << i;
    EXPECT_EQ(gadgets->dynamicRecords, nullptr);

    auto* record = static_cast<TestRecord*>(ObjectAllocate(gadgets, 4));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(AllZero(record, sizeof(TestRecord)));
    EXPECT_EQ(ObjectGet(gadgets, 4), nullptr);
    record->handle = 0x77;
    EXPECT_EQ(ObjectGet(gadgets, 4), record);
    EXPECT_TRUE(Calls.empty());
}

struct GrowthCase {
    uint32_t growthStep;
    ObjectNumber number;
    uint32_t expectedCapacity;
};

const GrowthCase GROWTH_CASES[] = {
    {16, 20, 36},
    {16, 16, 32},       // first number past the end
    {16, 15, 16},       // last slot: no growth
    {50, 4, 50},
    {16, 0xFFFF, 0x10000},  // the largest static number: growth stops at the limit
    {16, 0xFFF8, 0x10000},
    {0, 0, 1},          // a zero growth step still makes the number fit
    {0, 9, 10},
};

TEST(ObjectTable, StaticNumberPastTheSlotsGrowsByTheStep)
{
    for (const GrowthCase& c : GROWTH_CASES) {
        SCOPED_TRACE(testing::Message() << "step " << c.growthStep << ", number " << c.number);
        ObjectTable* table = MakeTable(c.growthStep);
        void* early = nullptr;
        if (c.growthStep > 1)
            early = Live(table, 1);
        void* record = ObjectAllocate(table, c.number);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(table->capacity, c.expectedCapacity);
        for (uint32_t i = 0; i < table->capacity; ++i) {
            if ((ObjectNumber)i == c.number)
                EXPECT_EQ(table->slots[i], record);
            else if (i == 1 && early)
                EXPECT_EQ(table->slots[i], early) << "existing slot kept";
            else
                ASSERT_EQ(table->slots[i], nullptr) << "slot " << i;
        }
    }
}

TEST(ObjectTable, NumbersThatAreNeitherStaticNorAnyAreRefused)
{
    const ObjectNumber refused[] = {-2, -100, INTPTR_MIN, OBJECT_NUMBER_LIMIT, 0x7fffffff, INTPTR_MAX};
    ObjectTable* table = MakeTable(16);
    TestRecord* two = Live(table, 2);
    size_t busy = HeapBusyBlocks(MainHeap);
    for (ObjectNumber number : refused) {
        SCOPED_TRACE(number);
        EXPECT_EQ(ObjectAllocate(table, number), nullptr);
        EXPECT_EQ(ObjectGet(table, number), nullptr);
        ObjectRelease(table, number);
        EXPECT_EQ(table->capacity, 16u);
        EXPECT_EQ(table->dynamicRecords, nullptr);
    }
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busy);
    EXPECT_EQ(ObjectGet(table, 2), two);
    EXPECT_TRUE(Calls.empty());
}

TEST(ObjectTable, AllocatingALiveNumberReleasesItFirstAndReusesTheRecord)
{
    ObjectTable* windows = MakeTable(16);
    TestRecord* first = Live(windows, 2, 0xABC);
    first->payload[3] = 99;

    void* second = ObjectAllocate(windows, 2);
    EXPECT_EQ(second, first);
    EXPECT_EQ(Calls, std::vector<ObjectNumber>{2});
    EXPECT_TRUE(AllZero(second, sizeof(TestRecord))) << "the callback's release zero-fills it";
    EXPECT_EQ(ObjectGet(windows, 2), nullptr);
}

TEST(ObjectTable, ReleasingAStaticNumberKeepsItsRecordForReuse)
{
    ObjectTable* windows = MakeTable(16);
    TestRecord* record = Live(windows, 2);
    record->payload[0] = 7;
    size_t busy = HeapBusyBlocks(MainHeap);

    ObjectRelease(windows, 2);
    EXPECT_EQ(ObjectGet(windows, 2), nullptr);
    EXPECT_EQ(windows->slots[2], record);
    EXPECT_TRUE(AllZero(record, sizeof(TestRecord)));
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busy);

    EXPECT_EQ(ObjectAllocate(windows, 2), record);
    ObjectRelease(windows, 3);  // empty slot: nothing
    EXPECT_EQ(windows->slots[3], nullptr);
}

TEST(ObjectTable, DynamicRecordsAreDistinctAndReleasedOneByOne)
{
    ObjectTable* fonts = MakeTable(16);
    size_t busy = HeapBusyBlocks(MainHeap);
    TestRecord* first = Live(fonts, ANY_NUMBER, 1);
    TestRecord* second = Live(fonts, ANY_NUMBER, 2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);
    EXPECT_GE((uintptr_t)first, (uintptr_t)OBJECT_NUMBER_LIMIT);
    auto firstNumber = (ObjectNumber)first;
    auto secondNumber = (ObjectNumber)second;
    EXPECT_EQ(ObjectGet(fonts, firstNumber), first);
    EXPECT_EQ(ObjectGet(fonts, secondNumber), second);

    // Values that are no issued number of this table change nothing.
    for (ObjectNumber stranger : {secondNumber + 8, (ObjectNumber)&busy, ANY_NUMBER, (ObjectNumber)-8}) {
        ObjectRelease(fonts, stranger);
        EXPECT_EQ(ObjectGet(fonts, stranger), nullptr) << stranger;
    }
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busy + 2);

    ObjectRelease(fonts, firstNumber);
    EXPECT_EQ(ObjectGet(fonts, firstNumber), nullptr);
    EXPECT_EQ(ObjectGet(fonts, secondNumber), second);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busy + 1);
    ObjectRelease(fonts, firstNumber);  // twice: no longer issued, nothing happens
    EXPECT_EQ(HeapBusyBlocks(MainHeap), busy + 1);
    EXPECT_EQ(DynamicCount(fonts), 1u);
}

TEST(ObjectTable, ReleaseAllVisitsStaticNumbersAscendingThenDynamicOldestFirst)
{
    ObjectTable* table = MakeTable(16);
    Live(table, 8);
    Live(table, 4);
    Live(table, 16);                   // past the first 16 slots
    ObjectAllocate(table, 30);         // allocated, never marked alive: skipped
    TestRecord* older = Live(table, ANY_NUMBER);
    TestRecord* dead = static_cast<TestRecord*>(ObjectAllocate(table, ANY_NUMBER));
    TestRecord* newer = Live(table, ANY_NUMBER);
    Calls.clear();

    ObjectReleaseAll(table);
    std::vector<ObjectNumber> expected = {4, 8, 16, (ObjectNumber)older, (ObjectNumber)dead, (ObjectNumber)newer};
    EXPECT_EQ(Calls, expected) << "dynamic records are handed out alive or not";
    for (ObjectNumber number : {4, 8, 16})
        EXPECT_EQ(ObjectGet(table, number), nullptr);
    // The pattern releases only live objects: the dead dynamic record stays.
    ASSERT_EQ(DynamicCount(table), 1u);
    EXPECT_EQ(ListPayloadOf(table->dynamicRecords), dead);

    Calls.clear();
    ObjectReleaseAll(table);
    EXPECT_EQ(Calls, std::vector<ObjectNumber>{(ObjectNumber)dead});

    // Without a release routine there is nothing to call: nothing happens,
    // and a live number is reused as it was.
    table->release = nullptr;
    Calls.clear();
    TestRecord* eight = Live(table, 8, 0x88);
    ObjectReleaseAll(table);
    EXPECT_EQ(ObjectAllocate(table, 8), eight);
    EXPECT_EQ(ObjectGet(table, 8), eight);
    EXPECT_TRUE(Calls.empty());
}

// Frees the record it is given and also the next newer one, which the
// release-all cursor points at.
void ReleaseWithNeighbour(ObjectNumber number)
{
    Calls.push_back(number);
    if (number < OBJECT_NUMBER_LIMIT) {
        ObjectRelease(Current, number);
        return;
    }
    ListLinks* newer = ListRecordOf((void*)number)->previous;
    ObjectRelease(Current, number);
    if (newer)
        ObjectRelease(Current, (ObjectNumber)ListPayloadOf(newer));
}

TEST(ObjectTable, ReleaseAllSurvivesCallbacksThatFreeDynamicRecords)
{
    ObjectTable* table = MakeTable(4);
    Live(table, 3);
    std::vector<ObjectNumber> dynamic;
    for (int i = 0; i < 5; ++i)
        dynamic.push_back((ObjectNumber)Live(table, ANY_NUMBER));

    // Own record only: every record reached, all freed.
    ObjectReleaseAll(table);
    std::vector<ObjectNumber> expected = {3};
    expected.insert(expected.end(), dynamic.begin(), dynamic.end());
    EXPECT_EQ(Calls, expected);
    EXPECT_EQ(table->dynamicRecords, nullptr);

    // Own record and the next: every second record is reached, none twice.
    table->release = ReleaseWithNeighbour;
    dynamic.clear();
    for (int i = 0; i < 5; ++i)
        dynamic.push_back((ObjectNumber)Live(table, ANY_NUMBER));
    Calls.clear();
    ObjectReleaseAll(table);
    expected = {dynamic[0], dynamic[2], dynamic[4]};
    EXPECT_EQ(Calls, expected);
    EXPECT_EQ(table->dynamicRecords, nullptr);
}

struct NoMemoryCase {
    const char* what;
    ObjectNumber number;
    bool recordFits;  // room for the record, none for a bigger slot array
};

const NoMemoryCase NO_MEMORY_CASES[] = {
    {"dynamic record", ANY_NUMBER, false},
    {"record in an existing slot", 5, false},
    {"record past the slots", 40, false},
    {"record fits, the slot array cannot grow", 5000, true},
};

TEST(ObjectTable, WithoutMemoryAllocationFailsAndTheTableStaysAsItWas)
{
    for (const NoMemoryCase& c : NO_MEMORY_CASES) {
        SCOPED_TRACE(c.what);
        MainHeapLimit limit;
        ObjectTable* table = MakeTable(16);
        TestRecord* two = Live(table, 2);
        TestRecord* dynamic = Live(table, ANY_NUMBER);
        void** slots = table->slots;
        void* hole = c.recordFits ? HeapAlloc(MainHeap, 0, sizeof(TestRecord)) : nullptr;
        limit.Exhaust();
        HeapFree(MainHeap, 0, hole);
        size_t busy = HeapBusyBlocks(MainHeap);

        EXPECT_EQ(ObjectAllocate(table, c.number), nullptr);
        EXPECT_EQ(HeapBusyBlocks(MainHeap), busy) << "nothing left allocated";
        EXPECT_EQ(table->capacity, 16u);
        EXPECT_EQ(table->slots, slots);
        for (uint32_t i = 0; i < 16; ++i)
            EXPECT_EQ(table->slots[i], i == 2 ? two : nullptr) << "slot " << i;
        ASSERT_EQ(DynamicCount(table), 1u);
        EXPECT_EQ(ListPayloadOf(table->dynamicRecords), dynamic);
        EXPECT_EQ(ObjectAllocate(table, 2), two) << "a live number needs no memory";
        if (c.recordFits) {
            EXPECT_NE(HeapAlloc(MainHeap, 0, sizeof(TestRecord)), nullptr) << "the hole was usable";
        }
    }
}

TEST(ObjectTable, CreationWithoutMemoryGivesNoTable)
{
    MainHeapLimit limit;
    limit.Exhaust();
    EXPECT_EQ(ObjectTableCreate(sizeof(TestRecord), 16, nullptr), nullptr);
}

// The reference model: what the table should hold.
struct Model {
    uint32_t growthStep;
    uint32_t capacity;
    std::map<ObjectNumber, uintptr_t> statics;  // allocated slot -> alive mark
    std::vector<std::pair<ObjectNumber, uintptr_t>> dynamics;  // oldest first

    uintptr_t* Find(ObjectNumber number)
    {
        if (number >= 0 && number < (ObjectNumber)capacity) {
            auto it = statics.find(number);
            return it == statics.end() ? nullptr : &it->second;
        }
        for (auto& d : dynamics)
            if (d.first == number)
                return &d.second;
        return nullptr;
    }
    void Forget(ObjectNumber number)
    {
        for (size_t i = 0; i < dynamics.size(); ++i)
            if (dynamics[i].first == number) {
                dynamics.erase(dynamics.begin() + i);
                return;
            }
    }
};

TEST(ObjectTable, RandomOperationsMatchAReferenceModel)
{
    const uint32_t seed = 20261207;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    ObjectTable* table = MakeTable(4);
    Model model{4, 4, {}, {}};
    std::vector<ObjectNumber> everIssued;
    uintptr_t nextMark = 1;

    auto pick = [&](void) -> ObjectNumber {
        switch (random() % 4) {
        case 0:
            if (!everIssued.empty())
                return everIssued[random() % everIssued.size()];
            [[fallthrough]];
        case 1:
        case 2:
            return (ObjectNumber)(random() % 48);
        default:
            return -(ObjectNumber)(random() % 3) - 1;
        }
    };

    for (int step = 0; step < 6000; ++step) {
        SCOPED_TRACE(testing::Message() << "step " << step);
        unsigned operation = random() % 100;
        if (operation < 25) {  // allocate a static number, maybe mark it
            ObjectNumber number = (ObjectNumber)(random() % 48);
            Calls.clear();
            auto* record = static_cast<TestRecord*>(ObjectAllocate(table, number));
            ASSERT_NE(record, nullptr);
            std::vector<ObjectNumber> expectedCalls;
            if (number >= (ObjectNumber)model.capacity)
                model.capacity = (uint32_t)number + model.growthStep;
            else if (model.statics.count(number))
                expectedCalls.push_back(number);
            ASSERT_EQ(Calls, expectedCalls);
            ASSERT_TRUE(AllZero(record, sizeof(TestRecord)));
            model.statics[number] = 0;
            if (random() % 4) {
                record->handle = nextMark;
                model.statics[number] = nextMark++;
            }
        } else if (operation < 45) {  // a dynamic record, maybe marked
            auto* record = static_cast<TestRecord*>(ObjectAllocate(table, ANY_NUMBER));
            ASSERT_NE(record, nullptr);
            ASSERT_TRUE(AllZero(record, sizeof(TestRecord)));
            uintptr_t mark = random() % 4 ? nextMark++ : 0;
            record->handle = mark;
            model.dynamics.push_back({(ObjectNumber)record, mark});
            everIssued.push_back((ObjectNumber)record);
        } else if (operation < 75) {  // get
            ObjectNumber number = pick();
            uintptr_t* mark = model.Find(number);
            auto* record = static_cast<TestRecord*>(ObjectGet(table, number));
            if (mark && *mark) {
                ASSERT_NE(record, nullptr) << number;
                ASSERT_EQ(record->handle, *mark);
            } else {
                ASSERT_EQ(record, nullptr) << number;
            }
        } else if (operation < 97) {  // release
            ObjectNumber number = pick();
            if (uintptr_t* mark = model.Find(number)) {
                if (number >= 0 && number < (ObjectNumber)model.capacity)
                    *mark = 0;
                else
                    model.Forget(number);
            }
            ObjectRelease(table, number);
        } else {  // release everything through the pattern
            Calls.clear();
            ObjectReleaseAll(table);
            std::vector<ObjectNumber> expectedCalls;
            for (auto& s : model.statics)
                if (s.second) {
                    expectedCalls.push_back(s.first);
                    s.second = 0;
                }
            std::vector<std::pair<ObjectNumber, uintptr_t>> kept;
            for (auto& d : model.dynamics) {
                expectedCalls.push_back(d.first);
                if (!d.second)
                    kept.push_back(d);
            }
            model.dynamics = kept;
            ASSERT_EQ(Calls, expectedCalls);
        }
        ASSERT_EQ(table->capacity, model.capacity);
        ASSERT_EQ(DynamicCount(table), model.dynamics.size());
    }
}

}  // namespace
