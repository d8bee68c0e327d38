// Dynamic arrays: the header in front of the elements, the holder contract
// (freed first, cleared on free), sizes that would wrap, no memory, several
// dimensions, copies and layouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_heap_limit.h"
#include "runtime/data/array.h"

TEST(ArrayCreate, WorkerTableShape)
{
    int32_t* table = nullptr;
    void* made = ArrayCreate(4, 257, TYPE_INTEGER, nullptr, &table);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made, table);
    for (int i = 0; i <= 256; ++i)
        ASSERT_EQ(table[i], 0) << i;
    ArrayHeader* header = ArrayHeaderOf(table);
    EXPECT_EQ(reinterpret_cast<char*>(table) - reinterpret_cast<char*>(header), int(sizeof(ArrayHeader)));
    EXPECT_EQ(header->dimensionCount, 1u);
    EXPECT_EQ(header->elementSize, 4u);
    EXPECT_EQ(header->layout, nullptr);
    EXPECT_EQ(header->holder, reinterpret_cast<void**>(&table));
    EXPECT_EQ(header->elementCount, 257u);
    EXPECT_EQ(header->typeCode, 21u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(table) % sizeof(void*), 0u);
    table[256] = 7;  // the last element is there to write
    ArrayFree(table);
    EXPECT_EQ(table, nullptr);
}

TEST(ArrayCreate, ZeroElementsGiveAValidEmptyArray)
{
    char* empty = nullptr;
    ASSERT_NE(ArrayCreate(8, 0, TYPE_FLOAT64, nullptr, &empty), nullptr);
    EXPECT_EQ(ArrayHeaderOf(empty)->elementCount, 0u);
    EXPECT_EQ(ArrayHeaderOf(empty)->dimensionCount, 1u);
    ArrayFree(empty);
    EXPECT_EQ(empty, nullptr);
}

TEST(ArrayFree, ClearsTheHolderOnlyAndIgnoresNull)
{
    int32_t* table = nullptr;
    ArrayCreate(4, 3, TYPE_INT32, nullptr, &table);
    int32_t* copy = table;
    ArrayFree(copy);
    EXPECT_EQ(table, nullptr) << "the holder is cleared";
    EXPECT_NE(copy, nullptr) << "a copy of the pointer is not";
    ArrayFree(nullptr);
}

TEST(ArrayCreate, SecondCreateOnTheHolderFreesTheFirstBeforeAllocating)
{
    // Room for one 40 KB array but not two: the second fits only if the
    // first is gone before it is allocated.
    MainHeapLimit limit(65536);
    int32_t* table = nullptr;
    ASSERT_NE(ArrayCreate(4, 10000, TYPE_INT32, nullptr, &table), nullptr);
    table[0] = 1;
    int32_t* first = table;
    ASSERT_NE(ArrayCreate(4, 10000, TYPE_INT32, nullptr, &table), nullptr);
    EXPECT_EQ(table[0], 0);
    (void)first;
    // A create that cannot be had leaves the holder null, not the old array.
    EXPECT_EQ(ArrayCreate(4, 100000, TYPE_INT32, nullptr, &table), nullptr);
    EXPECT_EQ(table, nullptr);
}

TEST(ArrayCreate, NoMemoryGivesNullAndANullHolder)
{
    // How a test elsewhere makes ArrayCreate fail: a main heap with no room.
    MainHeapLimit limit;
    int32_t* table = nullptr;
    ArrayCreate(4, 16, TYPE_INTEGER, nullptr, &table);
    ASSERT_NE(table, nullptr);
    limit.Exhaust();
    EXPECT_EQ(ArrayCreate(4, 257, TYPE_INTEGER, nullptr, &table), nullptr);
    EXPECT_EQ(table, nullptr) << "the old array was freed first";
}

TEST(ArrayCreate, SizesThatWouldWrapAreRefused)
{
    struct Case {
        uint32_t elementSize, elementCount;
    } const cases[] = {
        {0xFFFFFFFFu, 0xFFFFFFFFu},
        {0x80000000u, 0xFFFFFFFFu},
#if !defined(__x86_64__)
        {0x10000u, 0x10000u},  // 4 GiB: wraps to 0 in 32 bits
        {4, 0x40000000u},
#endif
    };
    for (const Case& c : cases) {
        int32_t* table = nullptr;
        EXPECT_EQ(ArrayCreate(c.elementSize, c.elementCount, TYPE_INT32, nullptr, &table), nullptr)
            << c.elementSize << " x " << c.elementCount;
        EXPECT_EQ(table, nullptr);
    }
}

TEST(ArrayCreate, UnheldArrayIsStillUsable)
{
    auto* loose = static_cast<int32_t*>(ArrayCreate(4, 4, TYPE_INT32, nullptr, nullptr));
    ASSERT_NE(loose, nullptr);
    EXPECT_EQ(ArrayHeaderOf(loose)->holder, nullptr);
    ArrayFree(loose);
}

namespace {
struct Grid {
    int32_t* cells;
    int32_t sizes[3];
};
}  // namespace

TEST(ArrayCreateDims, SizesBecomeStridesAndTheTotalIsAllocated)
{
    Grid grid = {nullptr, {2, 3, 4}};
    ASSERT_NE(ArrayCreateDims(4, 3, TYPE_INT32, nullptr, &grid), nullptr);
    ArrayHeader* header = ArrayHeaderOf(grid.cells);
    EXPECT_EQ(header->dimensionCount, 3u);
    EXPECT_EQ(header->elementCount, 24u);
    EXPECT_EQ(header->holder, reinterpret_cast<void**>(&grid.cells));
    EXPECT_EQ(grid.sizes[0], 12);
    EXPECT_EQ(grid.sizes[1], 4);
    EXPECT_EQ(grid.sizes[2], 1);
    grid.cells[1 * 12 + 2 * 4 + 3] = 5;  // the last element, (1, 2, 3)
    EXPECT_EQ(grid.cells[23], 5);
    ArrayFree(grid.cells);
    EXPECT_EQ(grid.cells, nullptr);
}

TEST(ArrayCreateDims, BadDimensionsGiveNullWithSizesUntouched)
{
    struct Case {
        const char* what;
        uint32_t dimensions;
        int32_t sizes[3];
    } const cases[] = {
        {"no dimensions", 0, {2, 3, 4}},
        {"a negative size", 3, {2, -3, 4}},
        {"a total beyond 31 bits", 3, {65536, 65536, 2}},
    };
    for (const Case& c : cases) {
        Grid grid = {nullptr, {c.sizes[0], c.sizes[1], c.sizes[2]}};
        EXPECT_EQ(ArrayCreateDims(4, c.dimensions, TYPE_INT32, nullptr, &grid), nullptr) << c.what;
        EXPECT_EQ(grid.cells, nullptr);
        EXPECT_EQ(grid.sizes[1], c.sizes[1]) << c.what;
    }
    EXPECT_EQ(ArrayCreateDims(4, 1, TYPE_INT32, nullptr, nullptr), nullptr) << "no holder";
}

TEST(ArrayCopy, CopiesWhatBothHoldWhenShapesAgree)
{
    int32_t *a = nullptr, *b = nullptr, *c = nullptr;
    ArrayCreate(4, 5, TYPE_INT32, nullptr, &a);
    ArrayCreate(4, 3, TYPE_INT32, nullptr, &b);
    ArrayCreate(2, 5, TYPE_INT16, nullptr, &c);
    for (int i = 0; i < 5; ++i)
        a[i] = i + 1;
    EXPECT_EQ(ArrayCopy(b, a), b);
    EXPECT_EQ(std::vector<int32_t>(b, b + 3), (std::vector<int32_t>{1, 2, 3}));
    b[0] = 9;
    EXPECT_EQ(ArrayCopy(a, b), a);
    EXPECT_EQ(std::vector<int32_t>(a, a + 5), (std::vector<int32_t>{9, 2, 3, 4, 5}));
    EXPECT_EQ(ArrayCopy(c, a), nullptr) << "element sizes differ";
    EXPECT_EQ(c[0], 0);
    Grid grid = {nullptr, {1, 5, 1}};
    ArrayCreateDims(4, 3, TYPE_INT32, nullptr, &grid);
    EXPECT_EQ(ArrayCopy(grid.cells, a), nullptr) << "dimension counts differ";
    EXPECT_EQ(ArrayCopy(nullptr, a), nullptr);
    ArrayFree(a);
    ArrayFree(b);
    ArrayFree(c);
    ArrayFree(grid.cells);
}

namespace {
std::vector<std::string> LayoutLog;
void MarkAndLog(void* element)
{
    static int32_t next = 0;
    auto* value = static_cast<int32_t*>(element);
    LayoutLog.push_back("set-up of " + std::to_string(*value));
    *value = ++next;
}
void LogCleanUp(void* element) { LayoutLog.push_back("clean-up " + std::to_string(*static_cast<int32_t*>(element))); }
}  // namespace

TEST(ArrayLayout, SetUpAscendingOnCreateCleanUpFirstToLastOnFree)
{
    static const ElementLayout layout = {MarkAndLog, LogCleanUp};
    LayoutLog.clear();
    int32_t* table = nullptr;
    ArrayCreate(4, 3, 0, &layout, &table);
    EXPECT_EQ(LayoutLog, std::vector<std::string>(3, "set-up of 0"));
    // Each element was zero-filled before its set-up marked it, in ascending order.
    EXPECT_EQ(table[0] + 1, table[1]);
    EXPECT_EQ(table[1] + 1, table[2]);
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i)
        expected.push_back("clean-up " + std::to_string(table[i]));
    LayoutLog.clear();
    ArrayFree(table);
    EXPECT_EQ(LayoutLog, expected);
    EXPECT_EQ(table, nullptr);
}
