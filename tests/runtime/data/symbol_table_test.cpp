// The runtime symbol table: names in any letter case, re-registration,
// every kind and every type code a reference can be read as.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime/data/symbol_table.h"

namespace {

class SymbolTableTest : public testing::Test {
protected:
    // A fresh table for every test (MapCreate frees the previous one).
    void SetUp() override
    {
        SymbolTableInit();
        ASSERT_NE(SymbolTable, nullptr);
    }
};

}  // namespace

TEST_F(SymbolTableTest, TableShape)
{
    EXPECT_EQ(SymbolTable->bucketCount, 1024u);
    EXPECT_EQ(SymbolTable->typeCode, 7u);
    EXPECT_EQ(SymbolTable->flags, MAP_NOCASE);
    EXPECT_EQ(SymbolTable->elementSize, sizeof(SymbolEntry));
    EXPECT_EQ(SymbolTable->layout, nullptr);
    EXPECT_EQ(SymbolTable->holder, &SymbolTable);
}

TEST_F(SymbolTableTest, NamesIgnoreLetterCase)
{
    static int target;
    intptr_t address = reinterpret_cast<intptr_t>(&target);
    ASSERT_NE(SymbolRegister("Norvane()", address), nullptr);
    for (const char* name : {"Norvane()", "norvane()", "NORVANE()", "nOrVaNe()"})
        EXPECT_EQ(SymbolLookup(name), address) << name;
    EXPECT_EQ(SymbolLookup("Norvane( )"), 0);
    EXPECT_EQ(SymbolLookup("Norvane"), 0);
    EXPECT_EQ(SymbolTable->count, 1u);
}

TEST_F(SymbolTableTest, ReRegistrationKeepsOneEntryAndReplacesTheKind)
{
    void* first = SymbolRegisterDouble("x", 2.9);
    void* second = SymbolRegister("X", 5);
    EXPECT_EQ(first, second);
    EXPECT_EQ(SymbolLookup("x"), 5);
    EXPECT_EQ(SymbolTable->count, 1u);
    SymbolRegisterOpaque("x", 5);
    EXPECT_EQ(SymbolLookup("x"), 0);
    static uint8_t byte = 200;
    SymbolRegisterReference("x", &byte, TYPE_UINT8);
    EXPECT_EQ(SymbolLookup("x"), 200);
    SymbolRegister("x", -1);
    auto* entry = static_cast<SymbolEntry*>(second);
    EXPECT_EQ(entry->kind, SYMBOL_INTEGER);
    EXPECT_EQ(entry->typeCode, 0) << "the old type code does not linger";
    EXPECT_EQ(SymbolTable->count, 1u);
}

TEST_F(SymbolTableTest, DoublesTruncateTowardZeroKeepingThirtyTwoBits)
{
    struct Case {
        double value;
        intptr_t expected;
    } const cases[] = {
        {2.9, 2},
        {-2.9, -2},
        {0.7, 0},
        {-0.3, 0},
        {4294967296.0 + 5.9, 5},
        {2147483648.0, INT32_MIN},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {1e300, 0},
    };
    for (const Case& c : cases) {
        auto* entry = static_cast<SymbolEntry*>(SymbolRegisterDouble("d", c.value));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->kind, SYMBOL_DOUBLE);
        EXPECT_EQ(SymbolLookup("d"), c.expected) << c.value;
    }
}

TEST_F(SymbolTableTest, ReferencesReadByTypeCode)
{
    static int8_t int8 = -56;
    static uint8_t uint8 = 200;
    static int16_t int16 = -32767;
    static uint16_t uint16 = 65535;
    static int32_t int32 = -123456;
    static float float32 = -2.9f;
    static double float64 = 7.99;
    static intptr_t integer = intptr_t(-5);
    struct Case {
        const char* what;
        const void* address;
        TypeCode typeCode;
        intptr_t expected;
    } const cases[] = {
        {"uint8 as TYPE_UINT8", &uint8, TYPE_UINT8, 200},
        {"uint8 as TYPE_INT8", &uint8, TYPE_INT8, -56},
        {"int8", &int8, TYPE_INT8, -56},
        {"int16", &int16, TYPE_INT16, -32767},
        {"uint16", &uint16, TYPE_UINT16, 65535},
        {"uint16 as TYPE_INT16", &uint16, TYPE_INT16, -1},
        {"int32", &int32, TYPE_INT32, -123456},
        {"float", &float32, TYPE_FLOAT32, -2},
        {"double", &float64, TYPE_FLOAT64, 7},
        {"integer", &integer, TYPE_INTEGER, -5},
        {"type 7", &int32, 7, 0},
        {"type 0", &int32, 0, 0},
        {"type 300 stored as a byte (44)", &int32, 300, 0},
        {"no address", nullptr, TYPE_INT32, 0},
    };
    for (const Case& c : cases) {
        auto* entry = static_cast<SymbolEntry*>(SymbolRegisterReference("ref", c.address, c.typeCode));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->kind, SYMBOL_REFERENCE);
        EXPECT_EQ(entry->typeCode, int8_t(c.typeCode));
        EXPECT_EQ(SymbolLookup("ref"), c.expected) << c.what;
    }
}

TEST_F(SymbolTableTest, ReferenceReadsTheVariableAtLookup)
{
    static int32_t counter = 1;
    SymbolRegisterReference("counter", &counter, TYPE_INT32);
    counter = 41;
    EXPECT_EQ(SymbolLookup("counter"), 41);
    counter = -7;
    EXPECT_EQ(SymbolLookup("COUNTER"), -7);
}

TEST_F(SymbolTableTest, PointerWidthIntegersSurviveWhole)
{
    intptr_t wide = intptr_t(uintptr_t(0x7654321F) * (sizeof(void*) > 4 ? 0x10000u : 1u));
    SymbolRegister("wide", wide);
    EXPECT_EQ(SymbolLookup("wide"), wide);
    static intptr_t variable = wide;
    SymbolRegisterReference("wideref", &variable, TYPE_INTEGER);
    EXPECT_EQ(SymbolLookup("wideref"), wide);
}

TEST_F(SymbolTableTest, OpaqueAndUnknownNamesLookUpAsZero)
{
    SymbolRegisterOpaque("hidden", 1234);
    EXPECT_EQ(SymbolLookup("hidden"), 0);
    EXPECT_EQ(SymbolLookup("never registered"), 0);
    EXPECT_EQ(SymbolLookup(""), 0);
    auto* entry = static_cast<SymbolEntry*>(MapFind(SymbolTable, "hidden"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->value.integer, 1234) << "stored, only not revealed";
    entry->kind = 9;  // a kind no registration writes
    EXPECT_EQ(SymbolLookup("hidden"), 0);
}

TEST_F(SymbolTableTest, NullNameIsTheEmptyString)
{
    SymbolRegister(nullptr, 9);
    EXPECT_EQ(SymbolLookup(""), 9);
    EXPECT_EQ(SymbolLookup(nullptr), 9);
    SymbolRegister("", 10);
    EXPECT_EQ(SymbolLookup(nullptr), 10);
    EXPECT_EQ(SymbolTable->count, 1u);
}

TEST(SymbolTableAbsent, OperationsWithoutATableStoreAndFindNothing)
{
    KeyedMap* saved = SymbolTable;
    SymbolTable = nullptr;
    EXPECT_EQ(SymbolRegister("x", 1), nullptr);
    EXPECT_EQ(SymbolRegisterDouble("x", 1.0), nullptr);
    EXPECT_EQ(SymbolRegisterOpaque("x", 1), nullptr);
    EXPECT_EQ(SymbolRegisterReference("x", &saved, TYPE_INTEGER), nullptr);
    EXPECT_EQ(SymbolLookup("x"), 0);
    SymbolTable = saved;
}
