// Endurance: a million random operations on each data structure, checked as
// they go against a reference model built from standard containers: block
// pools, keyed maps, object tables, dynamic arrays, and per-thread data over
// a thousand threads. Every run prints its seed and a divergence names its
// operation. A program of its own, so that the quick one stays quick.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "runtime/data/array.h"
#include "runtime/data/keyed_map.h"
#include "runtime/data/object_table.h"
#include "runtime/data/pool.h"
#include "runtime/data/thread_data.h"
#include "runtime/process/globals.h"
#include "tests/runtime/data/process_threads.h"

namespace {

constexpr int OPERATIONS = 1000000;

uint32_t Seed(const char* what, uint32_t seed)
{
    std::printf("%s endurance: seed %u\n", what, seed);
    return seed;
}

bool AllZero(const void* bytes, size_t size)
{
    auto* p = static_cast<const unsigned char*>(bytes);
    return std::all_of(p, p + size, [](unsigned char b) { return b == 0; });
}

// --- Block pools -------------------------------------------------------------

// One caller's use of a pool: what it holds and how much it aims to hold.
struct PoolHand {
    BlockPool* pool;
    uint32_t size;
    size_t most;    // the largest target
    size_t target;  // changes from phase to phase, so that chunks come and go
    std::vector<std::pair<unsigned char*, unsigned char>> held;  // block, its fill
};

// The pool's own records against what its callers hold: each chunk on the
// list its state asks for, sound back links, free lists as long as counted,
// capacities adding up to the total and blocks out to the blocks held.
testing::AssertionResult PoolAgrees(const BlockPool* pool, size_t held)
{
    int64_t capacity = 0, out = 0;
    for (int full = 0; full < 2; ++full) {
        PoolChunk* previous = nullptr;
        for (PoolChunk* chunk = full ? pool->fullChunks : pool->openChunks; chunk; chunk = chunk->next) {
            if (chunk->previous != previous)
                return testing::AssertionFailure() << "broken back link";
            if ((chunk->freeCount == 0 && chunk->carved == chunk->capacity) != bool(full))
                return testing::AssertionFailure() << "chunk on the wrong list";
            if (chunk->freeCount >= chunk->carved)
                return testing::AssertionFailure() << "a chunk with every block back was kept";
            int32_t listed = 0;
            for (void* block = chunk->freeList; block; block = *static_cast<void**>(block))
                ++listed;
            if (listed != chunk->freeCount)
                return testing::AssertionFailure() << "free list " << listed << ", count " << chunk->freeCount;
            capacity += chunk->capacity;
            out += chunk->carved - chunk->freeCount;
            previous = chunk;
        }
    }
    if (capacity != pool->totalBlocks || out != int64_t(held))
        return testing::AssertionFailure() << "capacity " << capacity << " total " << pool->totalBlocks << ", out "
                                           << out << " held " << held;
    return testing::AssertionSuccess();
}

// The block's pool field names a chunk that has carved it, at a block boundary.
bool InItsChunk(const BlockPool* pool, const unsigned char* usable)
{
    auto* chunk = *reinterpret_cast<PoolChunk* const*>(usable - POOL_BLOCK_HEADER);
    uintptr_t first = uintptr_t(chunk + 1), at = uintptr_t(usable - POOL_BLOCK_HEADER);
    return at >= first && (at - first) % pool->stride == 0 && (at - first) / pool->stride < uint32_t(chunk->carved);
}

TEST(Endurance, PoolsHandOutEachBlockOnceAndReturnEveryChunk)
{
    std::mt19937 random(Seed("pool", 61001));
    size_t heapBefore = HeapBusyBlocks(MainHeap);
    struct Config {
        uint32_t size, minimum, maximum, flags;
        size_t most;
    };
    const Config configs[] = {
        {1, 16, 65536, POOL_UNLOCKED, 6000},  // chunks that grow with the pool
        {13, 1, 1, POOL_UNLOCKED, 300},       // one block per chunk, all on the full list
        {24, 3, 5, POOL_UNLOCKED, 2000},      // small chunks of odd sizes
        {40, 16, 64, POOL_LOCKED, 3000},      // cleared now and then
        {56, 16, 256, POOL_SHARED, 2000},     // one shared pool in two hands
        {56, 16, 256, POOL_SHARED, 2000},
    };
    std::vector<PoolHand> hands;
    for (const Config& c : configs)
        hands.push_back({PoolCreate(c.size, c.minimum, c.maximum, c.flags), c.size, c.most, 0, {}});
    ASSERT_EQ(hands[4].pool, hands[5].pool);
    auto heldFrom = [&](const BlockPool* pool) {
        size_t n = 0;
        for (const PoolHand& h : hands)
            n += h.pool == pool ? h.held.size() : 0;
        return n;
    };
    std::unordered_set<void*> live;

    for (int op = 0; op < OPERATIONS; ++op) {
        if (op % 25000 == 0)
            for (PoolHand& h : hands)
                h.target = random() % (h.most + 1);
        size_t which = random() % hands.size();
        PoolHand& hand = hands[which];
        bool wantsMore = hand.held.size() < hand.target;
        if (hand.held.empty() || random() % 100 < (wantsMore ? 70u : 30u)) {
            auto* block = static_cast<unsigned char*>(PoolAlloc(hand.pool));
            ASSERT_NE(block, nullptr) << "op " << op;
            ASSERT_EQ(uintptr_t(block) % sizeof(void*), 0u) << "op " << op;
            ASSERT_TRUE(InItsChunk(hand.pool, block)) << "op " << op;
            ASSERT_TRUE(live.insert(block).second) << "handed out twice, op " << op;
            auto fill = static_cast<unsigned char>(random() | 1);
            std::memset(block, fill, hand.size);
            hand.held.push_back({block, fill});
        } else if (which == 3 && random() % 2000 == 0) {
            PoolClear(hand.pool);
            for (auto& h : hand.held)
                live.erase(h.first);
            hand.held.clear();
            ASSERT_TRUE(PoolAgrees(hand.pool, 0)) << "op " << op;
        } else {
            // Mostly any block, sometimes the last one taken.
            size_t i = random() % 4 ? random() % hand.held.size() : hand.held.size() - 1;
            auto [block, fill] = hand.held[i];
            for (uint32_t k = 0; k < hand.size; ++k)
                ASSERT_EQ(block[k], fill) << "a block changed while out, op " << op;
            PoolFree(hand.pool, block);
            live.erase(block);
            hand.held[i] = hand.held.back();
            hand.held.pop_back();
            if (heldFrom(hand.pool) == 0) {
                ASSERT_EQ(hand.pool->totalBlocks, 0) << "a chunk outlived its blocks, op " << op;
            }
        }
        if (op % 10000 == 0) {
            for (const PoolHand& h : hands)
                ASSERT_TRUE(PoolAgrees(h.pool, heldFrom(h.pool))) << "op " << op;
        }
    }
    for (PoolHand& h : hands) {
        for (auto& held : h.held)
            PoolFree(h.pool, held.first);
        h.held.clear();
    }
    for (PoolHand& h : hands) {
        EXPECT_EQ(h.pool->totalBlocks, 0);
        PoolRelease(h.pool);
    }
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore) << "pools, chunks and the registry entry freed";
}

// --- Keyed maps --------------------------------------------------------------

struct MapModelEntry {
    std::string key;  // as first added: a re-add keeps the node and its key
    uint32_t value;
    uint64_t serial;  // order of addition, for newest first within a bucket
};

struct MapUnderTest {
    bool noCase;
    int32_t buckets;
    uint32_t elementSize;
    size_t keys;  // keys in use; few for few buckets, so that chains stay walkable
    KeyedMap* map;
    std::unordered_map<std::string, MapModelEntry> model;  // by folded key
};

std::string Folded(std::string key, bool noCase)
{
    if (noCase)
        for (char& c : key)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
    return key;
}

// Elements carry a value and its complement, so a torn or shifted element shows.
void Store(void* element, uint32_t value)
{
    static_cast<uint32_t*>(element)[0] = value;
    static_cast<uint32_t*>(element)[1] = ~value;
}
bool Holds(const void* element, uint32_t value)
{
    return static_cast<const uint32_t*>(element)[0] == value && static_cast<const uint32_t*>(element)[1] == ~value;
}

void MakeMap(MapUnderTest& m)
{
    ASSERT_NE(MapCreate(m.elementSize, 7, nullptr, &m.map, m.buckets), nullptr);
    if (m.noCase)
        m.map->flags |= MAP_NOCASE;
    m.model.clear();
}

// One iteration over the whole map, deleting a share of what it meets: every
// element once, buckets ascending, newest first within a bucket.
void IterateDeleting(MapUnderTest& m, uint32_t share, std::mt19937& random, int op)
{
    size_t before = m.model.size();
    std::unordered_set<std::string> seen;
    int64_t lastBucket = -1;
    uint64_t lastSerial = 0;
    MapResetCursor(m.map);
    while (void* element = MapNextElement(m.map)) {
        const char* key = MapNodeOf(element)->key;
        auto it = m.model.find(Folded(key, m.noCase));
        ASSERT_NE(it, m.model.end()) << "unknown key " << key << ", op " << op;
        ASSERT_TRUE(seen.insert(it->first).second) << "yielded twice: " << key << ", op " << op;
        ASSERT_TRUE(Holds(element, it->second.value)) << key << ", op " << op;
        int64_t bucket = MapBucketOf(MapKeyHash(key, m.noCase), m.map->bucketCount);
        ASSERT_EQ(bucket, m.map->currentBucket) << "node in a foreign bucket, op " << op;
        ASSERT_TRUE(bucket > lastBucket || (bucket == lastBucket && it->second.serial < lastSerial))
            << "order, op " << op;
        lastBucket = bucket;
        lastSerial = it->second.serial;
        if (random() % 100 < share) {
            MapDeleteCurrent(m.map);
            m.model.erase(it);
        }
    }
    ASSERT_EQ(seen.size(), before) << "not every element visited, op " << op;
    ASSERT_EQ(m.map->count, m.model.size()) << "op " << op;
}

void MapStep(MapUnderTest& m, const std::vector<std::string>& keys, uint64_t& serial, std::mt19937& random, int op)
{
    std::string key = keys[random() % m.keys];
    if (m.noCase)  // another spelling of the same key
        for (char& c : key)
            if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && random() % 2)
                c = char(c ^ 0x20);
    uint32_t r = random() % 100000;
    if (r >= 40000 && r < 95000 && random() % 4 == 0)
        key = "#" + std::to_string(random() % 1000);  // a find that misses: never added

    if (r < 40000) {
        void* element = MapAdd(m.map, key.c_str());
        ASSERT_NE(element, nullptr) << "op " << op;
        ASSERT_TRUE(AllZero(element, m.elementSize)) << "op " << op;
        auto it = m.model.try_emplace(Folded(key, m.noCase), MapModelEntry{key, 0, serial++}).first;
        ASSERT_STREQ(MapNodeOf(element)->key, it->second.key.c_str()) << "op " << op;
        it->second.value = random();
        Store(element, it->second.value);
    } else if (r < 95000) {
        void* element = MapFind(m.map, key.c_str());
        auto it = m.model.find(Folded(key, m.noCase));
        ASSERT_EQ(element != nullptr, it != m.model.end()) << key << ", op " << op;
        if (element) {
            ASSERT_TRUE(Holds(element, it->second.value)) << key << ", op " << op;
            ASSERT_STREQ(MapNodeOf(element)->key, it->second.key.c_str()) << "op " << op;
            if (r >= 75000) {  // delete what was found
                MapDeleteCurrent(m.map);
                m.model.erase(it);
                ASSERT_EQ(MapFind(m.map, key.c_str()), nullptr) << key << ", op " << op;
            }
        }
    } else if (r < 95300) {
        IterateDeleting(m, random() % 50, random, op);
    } else if (r < 95305) {
        MapClear(m.map);
        m.model.clear();
        ASSERT_EQ(MapNextElement(m.map), nullptr) << "op " << op;
    } else if (r < 95307) {
        MapFree(m.map);
        ASSERT_EQ(m.map, nullptr) << "the holder is cleared, op " << op;
        MakeMap(m);
    }
    ASSERT_EQ(m.map->count, m.model.size()) << "op " << op;
}

TEST(Endurance, KeyedMapsMatchAModelThroughAddsFindsDeletesAndIterations)
{
    std::mt19937 random(Seed("keyed map", 61002));
    size_t heapBefore = HeapBusyBlocks(MainHeap);
    std::vector<std::string> keys(4000);
    const char alphabet[] = "abcXYZ_()019\xe9\xc9";
    for (std::string& key : keys)
        for (uint32_t n = random() % 9; n > 0; --n)
            key += alphabet[random() % (sizeof alphabet - 1)];
    // The first three share one node pool (same element size).
    MapUnderTest maps[] = {
        {true, 1, 12, 150, nullptr, {}},
        {false, 1024, 12, 4000, nullptr, {}},
        {true, 7, 12, 600, nullptr, {}},
        {false, 61, 20, 4000, nullptr, {}},
    };
    for (MapUnderTest& m : maps)
        ASSERT_NO_FATAL_FAILURE(MakeMap(m));
    uint64_t serial = 1;
    for (int op = 0; op < OPERATIONS; ++op) {
        MapStep(maps[random() % 4], keys, serial, random, op);
        if (HasFatalFailure())
            return;
        if (op % 50000 == 0) {
            for (MapUnderTest& m : maps)
                ASSERT_NO_FATAL_FAILURE(IterateDeleting(m, 0, random, op));
        }
    }
    for (MapUnderTest& m : maps)
        MapFree(m.map);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore) << "maps, keys, nodes and their pools freed";
}

// --- Object tables -----------------------------------------------------------

struct TableRecord {
    uintptr_t mark;  // the alive mark
    uint32_t payload[4];
};

struct StaticModel {
    void* record;
    uintptr_t mark;
    uint32_t payload;
};

struct DynamicModel {
    uintptr_t mark;
    uint32_t payload;
};

struct TableUnderTest {
    ObjectTable* table;
    uint32_t growthStep;
    uint32_t payloadWords;  // record words past the mark
    uint32_t capacity;
    std::map<ObjectNumber, StaticModel> statics;
    std::unordered_map<ObjectNumber, DynamicModel> dynamics;
    std::vector<ObjectNumber> order;   // dynamic numbers, oldest first
    std::vector<ObjectNumber> issued;  // numbers issued lately, stale ones too
};

// The table the release callback works on, the numbers it was given, and
// for ObjectReleaseAll other numbers to release when it is given one.
TableUnderTest* Active;
std::vector<ObjectNumber> ReleaseCalls;
std::unordered_map<ObjectNumber, ObjectNumber> AlsoRelease;

void ReleasePattern(ObjectNumber number)
{
    ReleaseCalls.push_back(number);
    if (ObjectGet(Active->table, number))
        ObjectRelease(Active->table, number);
    auto also = AlsoRelease.find(number);
    if (also != AlsoRelease.end())
        ObjectRelease(Active->table, also->second);
}

// What ObjectRelease must do, in the model.
void ModelRelease(TableUnderTest& t, ObjectNumber number)
{
    if (number >= 0 && number < ObjectNumber(t.capacity)) {
        auto it = t.statics.find(number);
        if (it != t.statics.end())
            it->second.mark = it->second.payload = 0;
    } else if (t.dynamics.erase(number)) {
        t.order.erase(std::find(t.order.begin(), t.order.end(), number));
    }
}

// Fills a new record as a service would: most come alive with a payload,
// the rest stay zero (a record the service never filled).
std::pair<uintptr_t, uint32_t> Mark(TableUnderTest& t, void* record, std::mt19937& random, uintptr_t& nextMark)
{
    if (random() % 4 == 0)
        return {0, 0};
    auto* r = static_cast<TableRecord*>(record);
    r->mark = nextMark++;
    uint32_t payload = random() | 1;
    for (uint32_t i = 0; i < t.payloadWords; ++i)
        r->payload[i] = payload + i;
    return {r->mark, payload};
}

bool Carries(const TableUnderTest& t, const void* record, uintptr_t mark, uint32_t payload)
{
    auto* r = static_cast<const TableRecord*>(record);
    for (uint32_t i = 0; i < t.payloadWords; ++i)
        if (r->payload[i] != (payload ? payload + i : 0))
            return false;
    return r->mark == mark;
}

ObjectNumber PickNumber(TableUnderTest& t, std::mt19937& random)
{
    switch (random() % 8) {
    case 0:
    case 1:
    case 2:
        return ObjectNumber(random() % 400);
    case 3:
    case 4:
        if (!t.order.empty())
            return t.order[random() % t.order.size()];
        [[fallthrough]];
    case 5:
        if (!t.issued.empty())
            return t.issued[random() % t.issued.size()];  // perhaps stale
        [[fallthrough]];
    case 6:
        return -ObjectNumber(random() % 4) - 2;
    default:
        return OBJECT_NUMBER_LIMIT + ObjectNumber(random() % 3);
    }
}

void TableStep(TableUnderTest& t, std::mt19937& random, uintptr_t& nextMark, int op)
{
    Active = &t;
    ReleaseCalls.clear();
    AlsoRelease.clear();
    uint32_t r = random() % 1000;
    const size_t recordBytes = sizeof(uintptr_t) + t.payloadWords * 4;
    if (r < 200) {  // a static number, perhaps one that grows the slots
        ObjectNumber number = ObjectNumber(random() % 20 ? random() % 400 : random() % 3000);
        auto it = t.statics.find(number);
        void* record = ObjectAllocate(t.table, number);
        ASSERT_NE(record, nullptr) << "op " << op;
        if (it != t.statics.end()) {
            ASSERT_EQ(ReleaseCalls, std::vector<ObjectNumber>{number}) << "op " << op;
            ASSERT_EQ(record, it->second.record) << "op " << op;
        } else {
            ASSERT_TRUE(ReleaseCalls.empty()) << "op " << op;
            if (number >= ObjectNumber(t.capacity))
                t.capacity = uint32_t(std::min<ObjectNumber>(number + t.growthStep, OBJECT_NUMBER_LIMIT));
        }
        ASSERT_TRUE(AllZero(record, recordBytes)) << "op " << op;
        auto [mark, payload] = Mark(t, record, random, nextMark);
        t.statics[number] = {record, mark, payload};
    } else if (r < 350 && t.order.size() >= 250) {  // enough dynamic records: one goes
        ObjectNumber number = t.order[random() % t.order.size()];
        ObjectRelease(t.table, number);
        ModelRelease(t, number);
    } else if (r < 350) {  // a dynamic record
        void* record = ObjectAllocate(t.table, ANY_NUMBER);
        ASSERT_NE(record, nullptr) << "op " << op;
        ASSERT_TRUE(AllZero(record, recordBytes)) << "op " << op;
        auto number = ObjectNumber(record);
        ASSERT_EQ(t.dynamics.count(number), 0u) << "issued twice, op " << op;
        auto [mark, payload] = Mark(t, record, random, nextMark);
        t.dynamics[number] = {mark, payload};
        t.order.push_back(number);
        t.issued.push_back(number);
        if (t.issued.size() > 2000)
            t.issued.erase(t.issued.begin(), t.issued.begin() + 1000);
    } else if (r < 650) {
        ObjectNumber number = PickNumber(t, random);
        void* record = ObjectGet(t.table, number);
        if (number >= 0 && number < ObjectNumber(t.capacity)) {
            auto it = t.statics.find(number);
            bool alive = it != t.statics.end() && it->second.mark;
            ASSERT_EQ(record != nullptr, alive) << number << ", op " << op;
            if (alive) {
                ASSERT_EQ(record, it->second.record) << "op " << op;
                ASSERT_TRUE(Carries(t, record, it->second.mark, it->second.payload)) << "op " << op;
            }
        } else {
            auto it = t.dynamics.find(number);
            bool alive = it != t.dynamics.end() && it->second.mark;
            ASSERT_EQ(record != nullptr, alive) << number << ", op " << op;
            if (alive) {
                ASSERT_EQ(ObjectNumber(record), number) << "op " << op;
                ASSERT_TRUE(Carries(t, record, it->second.mark, it->second.payload)) << "op " << op;
            }
        }
    } else if (r < 985) {
        ObjectNumber number = PickNumber(t, random);
        ObjectRelease(t.table, number);
        ModelRelease(t, number);
        ASSERT_TRUE(ReleaseCalls.empty()) << "op " << op;
    } else if (r < 990) {  // numbers that are neither static nor ANY_NUMBER
        ObjectNumber number = random() % 2 ? -2 : OBJECT_NUMBER_LIMIT;
        ASSERT_EQ(ObjectAllocate(t.table, number), nullptr) << "op " << op;
    } else {
        // Everything through the callback, which releases some other numbers
        // besides the one it is given: those not yet visited are skipped.
        std::vector<ObjectNumber> expected;
        for (int n = random() % 6; n > 0; --n) {
            ObjectNumber from = PickNumber(t, random), to = PickNumber(t, random);
            AlsoRelease[from] = to;
        }
        for (auto& [number, model] : t.statics) {
            if (!model.mark)
                continue;
            expected.push_back(number);
            ModelRelease(t, number);
            if (AlsoRelease.count(number))
                ModelRelease(t, AlsoRelease[number]);
        }
        std::vector<ObjectNumber> dynamics = t.order;
        for (ObjectNumber number : dynamics) {
            auto it = t.dynamics.find(number);
            if (it == t.dynamics.end())
                continue;
            expected.push_back(number);
            if (it->second.mark)
                ModelRelease(t, number);
            if (AlsoRelease.count(number))
                ModelRelease(t, AlsoRelease[number]);
        }
        ObjectReleaseAll(t.table);
        ASSERT_EQ(ReleaseCalls, expected) << "op " << op;
    }
    ASSERT_EQ(t.table->capacity, t.capacity) << "op " << op;
    if (op % 100 == 0) {
        size_t listed = 0;
        for (ListLinks* links = t.table->dynamicRecords; links; links = links->next)
            ++listed;
        ASSERT_EQ(listed, t.order.size()) << "op " << op;
    }
}

TEST(Endurance, ObjectTablesMatchAModelIncludingReleaseAllThatReleasesOthers)
{
    std::mt19937 random(Seed("object table", 61003));
    // Records of 24 bytes, and of 2, which still hold a whole alive mark.
    TableUnderTest tables[] = {
        {ObjectTableCreate(sizeof(TableRecord), 5, ReleasePattern), 5, 4, 5, {}, {}, {}, {}},
        {ObjectTableCreate(2, 16, ReleasePattern), 16, 0, 16, {}, {}, {}, {}},
    };
    uintptr_t nextMark = 1;
    for (int op = 0; op < OPERATIONS; ++op) {
        TableStep(tables[random() % 2], random, nextMark, op);
        if (HasFatalFailure())
            return;
    }
    AlsoRelease.clear();
    for (TableUnderTest& t : tables) {
        Active = &t;
        for (ObjectNumber number : std::vector<ObjectNumber>(t.order))
            ObjectRelease(t.table, number);
        EXPECT_EQ(t.table->dynamicRecords, nullptr);
    }
}

// --- Dynamic arrays ----------------------------------------------------------

// A holder followed by the sizes ArrayCreateDims reads after it.
struct ArrayHolder {
    void* array;
    int32_t sizes[3];
};

struct ArrayModel {
    uint32_t dimensions, elementSize, count;
    TypeCode type;
    std::vector<unsigned char> bytes;
};

testing::AssertionResult ArrayAgrees(void* array, const ArrayModel& model, void* holder)
{
    ArrayHeader* h = ArrayHeaderOf(array);
    if (h->dimensionCount != model.dimensions || h->elementSize != model.elementSize ||
        h->elementCount != model.count || h->typeCode != model.type || h->layout || h->holder != holder)
        return testing::AssertionFailure() << "header differs";
    if (!model.bytes.empty() && std::memcmp(array, model.bytes.data(), model.bytes.size()) != 0)
        return testing::AssertionFailure() << "elements differ";
    return testing::AssertionSuccess();
}

TEST(Endurance, ArraysMatchAModelThroughCreatesWritesCopiesAndFrees)
{
    std::mt19937 random(Seed("array", 61004));
    size_t heapBefore = HeapBusyBlocks(MainHeap);
    const uint32_t sizes[] = {1, 2, 4, 8, 12, 33};
    ArrayHolder holders[6] = {};
    ArrayModel models[6];
    std::vector<std::pair<void*, ArrayModel>> unheld;

    for (int op = 0; op < OPERATIONS; ++op) {
        size_t h = random() % 6;
        ArrayHolder& holder = holders[h];
        ArrayModel& model = models[h];
        uint32_t r = random() % 100;
        if (r < 12) {
            ArrayModel made{1, sizes[random() % 6], random() % 401, TypeCode(random() % 30), {}};
            made.bytes.assign(size_t(made.elementSize) * made.count, 0);
            void* array = ArrayCreate(made.elementSize, made.count, made.type, nullptr, &holder.array);
            ASSERT_NE(array, nullptr) << "op " << op;
            ASSERT_EQ(holder.array, array) << "op " << op;
            model = made;
        } else if (r < 15) {
            uint32_t dimensions = 1 + random() % 3;
            ArrayModel made{dimensions, sizes[random() % 6], 1, TYPE_INTEGER, {}};
            int32_t given[3];
            bool bad = random() % 10 == 0;
            for (uint32_t d = 0; d < dimensions; ++d) {
                given[d] = holder.sizes[d] = bad && d == dimensions - 1 ? -1 : int32_t(random() % 10);
                made.count *= uint32_t(std::max(given[d], 0));
            }
            void* array = ArrayCreateDims(made.elementSize, dimensions, made.type, nullptr, &holder);
            if (bad) {
                ASSERT_EQ(array, nullptr) << "op " << op;
                ASSERT_EQ(holder.array, nullptr) << "the old array is freed all the same, op " << op;
                ASSERT_EQ(holder.sizes[dimensions - 1], -1) << "sizes untouched, op " << op;
                continue;
            }
            ASSERT_NE(array, nullptr) << "op " << op;
            int32_t stride = 1;
            for (uint32_t d = dimensions; d-- > 0; stride *= given[d])
                ASSERT_EQ(holder.sizes[d], stride) << "dimension " << d << ", op " << op;
            made.bytes.assign(size_t(made.elementSize) * made.count, 0);
            model = made;
        } else if (r < 75) {  // write or read one element
            if (!holder.array || model.count == 0)
                continue;
            size_t at = size_t(random() % model.count) * model.elementSize;
            auto* element = static_cast<unsigned char*>(holder.array) + at;
            if (r < 45) {
                for (uint32_t k = 0; k < model.elementSize; ++k)
                    element[k] = model.bytes[at + k] = static_cast<unsigned char>(random());
            } else {
                ASSERT_EQ(std::memcmp(element, &model.bytes[at], model.elementSize), 0) << "op " << op;
            }
        } else if (r < 85) {
            size_t from = random() % 6;
            void* result = ArrayCopy(holder.array, holders[from].array);
            const ArrayModel& source = models[from];
            bool copies = holder.array && holders[from].array && model.dimensions == source.dimensions &&
                          model.elementSize == source.elementSize;
            ASSERT_EQ(result, copies ? holder.array : nullptr) << "op " << op;
            if (copies) {
                size_t bytes = size_t(std::min(model.count, source.count)) * model.elementSize;
                std::vector<unsigned char> copied(source.bytes.begin(), source.bytes.begin() + bytes);
                std::copy(copied.begin(), copied.end(), model.bytes.begin());
            }
        } else if (r < 93) {
            ArrayFree(holder.array);  // null or not
            ASSERT_EQ(holder.array, nullptr) << "op " << op;
        } else if (r < 97 && unheld.size() < 10) {  // an array nobody holds
            ArrayModel made{1, sizes[random() % 6], random() % 50, TYPE_UINT8, {}};
            made.bytes.resize(size_t(made.elementSize) * made.count);
            void* array = ArrayCreate(made.elementSize, made.count, made.type, nullptr, nullptr);
            ASSERT_NE(array, nullptr) << "op " << op;
            ASSERT_TRUE(ArrayAgrees(array, made, nullptr)) << "op " << op;
            for (unsigned char& b : made.bytes)
                b = static_cast<unsigned char>(random());
            std::memcpy(array, made.bytes.data(), made.bytes.size());
            unheld.push_back({array, made});
        } else if (!unheld.empty()) {
            size_t i = random() % unheld.size();
            ASSERT_TRUE(ArrayAgrees(unheld[i].first, unheld[i].second, nullptr)) << "op " << op;
            ArrayFree(unheld[i].first);
            unheld.erase(unheld.begin() + i);
        }
        if (holder.array) {
            ASSERT_TRUE(ArrayAgrees(holder.array, model, &holder.array)) << "op " << op;
        }
        if (op % 1000 == 0)
            for (size_t i = 0; i < 6; ++i)
                if (holders[i].array) {
                    ASSERT_TRUE(ArrayAgrees(holders[i].array, models[i], &holders[i].array)) << "op " << op;
                }
    }
    for (ArrayHolder& holder : holders)
        ArrayFree(holder.array);
    for (auto& u : unheld)
        ArrayFree(u.first);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore);
}

// --- Per-thread data ---------------------------------------------------------

constexpr int SEGMENTS = 5;
constexpr int THREADS = 1100;           // every eleventh never touches its data
constexpr int THREAD_OPS = 1000;        // so the others make a million operations
constexpr int WAVE = 110;               // threads alive together: more than one watcher holds
constexpr int PLAIN = 1;                // the segment without routines (10 bytes)

// Segments: 0 set-up and clean-up, 1 none, 2 set-up only, 3 clean-up only,
// 4 set-up and clean-up. Set-ups run 4, 2, 0 and clean-ups 4, 3, 0 (newest first).
struct TrackedSegment {
    uint32_t wasZero;      // set-up: the segment was zero-filled
    DWORD setUpThread;     // set-up: the thread it ran on
    LONG setUpSequence;
    int32_t serial;        // the test thread that owns the block
    uint32_t words[4];
};

struct ThreadJob {
    int serial;
    bool usesData;
    bool alsoNotifies;       // queues a function of its own after its data
    HANDLE handle;
    const char* failure;     // the first divergence the thread saw
    int failedOp;
    unsigned char* segments[SEGMENTS];
    uint32_t finalWords[SEGMENTS][4];
};

struct ExitSeen {
    volatile LONG count[SEGMENTS];
    LONG sequence[SEGMENTS];
    bool ownSegment[SEGMENTS];  // the segment of the block the thread itself used
    bool intact[SEGMENTS];      // holding what the thread last wrote
    bool ownerEnded[SEGMENTS];
    volatile LONG ownCount;
    LONG ownSequence;
};

uint32_t Offsets[SEGMENTS];
uint32_t ThreadSeed;
ThreadJob Jobs[THREADS];
ExitSeen Exits[THREADS];
volatile LONG SetUpSequence;
volatile LONG ExitSequence;

void SetUpSegment(void* segment)
{
    auto* tracked = static_cast<TrackedSegment*>(segment);
    tracked->wasZero = AllZero(segment, sizeof(TrackedSegment));
    tracked->setUpThread = GetCurrentThreadId();
    tracked->setUpSequence = InterlockedIncrement(&SetUpSequence);
}

template <int S>
void CleanUpSegment(void* segment)
{
    auto* tracked = static_cast<TrackedSegment*>(segment);
    int serial = tracked->serial;
    if (serial <= 0 || serial >= THREADS)
        return;
    ThreadJob& job = Jobs[serial];
    ExitSeen& seen = Exits[serial];
    seen.sequence[S] = InterlockedIncrement(&ExitSequence);
    seen.ownSegment[S] = segment == job.segments[S];
    seen.intact[S] = std::memcmp(tracked->words, job.finalWords[S], sizeof tracked->words) == 0;
    seen.ownerEnded[S] = WaitForSingleObject(job.handle, 0) == WAIT_OBJECT_0;
    InterlockedIncrement(&seen.count[S]);
}

void OwnExitFunction(void* argument)
{
    ExitSeen& seen = Exits[static_cast<ThreadJob*>(argument)->serial];
    seen.ownSequence = InterlockedIncrement(&ExitSequence);
    InterlockedIncrement(&seen.ownCount);
}

DWORD WINAPI ThreadDataWorker(void* parameter)
{
    ThreadJob& job = *static_cast<ThreadJob*>(parameter);
    auto fail = [&](const char* what, int op) {
        job.failure = what;
        job.failedOp = op;
        return 1;
    };
    if (!job.usesData)
        return 0;
    std::mt19937 random(ThreadSeed + uint32_t(job.serial));
    auto* base = static_cast<unsigned char*>(ThreadDataGet(Offsets[0])) - Offsets[0];
    for (int s = 0; s < SEGMENTS; ++s)
        job.segments[s] = base + Offsets[s];
    auto* tracked = reinterpret_cast<TrackedSegment**>(job.segments);
    for (int s : {0, 2, 4})
        if (!tracked[s]->wasZero || tracked[s]->setUpThread != GetCurrentThreadId())
            return fail("set-up not run on this thread's zeroed segment", -1);
    if (!(tracked[4]->setUpSequence < tracked[2]->setUpSequence &&
          tracked[2]->setUpSequence < tracked[0]->setUpSequence))
        return fail("set-ups not newest registration first", -1);
    if (!AllZero(job.segments[PLAIN], 10) || !AllZero(job.segments[3], sizeof(TrackedSegment)))
        return fail("a segment without set-up was not zero", -1);
    for (int s : {0, 2, 3, 4})
        tracked[s]->serial = job.serial;
    if (job.alsoNotifies)
        ThreadExitNotify(OwnExitFunction, &job);

    uint32_t words[SEGMENTS][4] = {};
    unsigned char plain[10] = {};
    for (int op = 0; op < THREAD_OPS; ++op) {
        int s = int(random() % SEGMENTS);
        auto* segment = static_cast<unsigned char*>(ThreadDataGet(Offsets[s]));
        if (segment != job.segments[s])
            return fail("ThreadDataGet gave another address", op);
        bool write = random() % 2;
        if (s == PLAIN) {
            uint32_t i = random() % sizeof plain;
            if (write)
                segment[i] = plain[i] = static_cast<unsigned char>(random());
            else if (std::memcmp(segment, plain, sizeof plain) != 0)
                return fail("plain segment changed", op);
            continue;
        }
        auto* t = reinterpret_cast<TrackedSegment*>(segment);
        uint32_t i = random() % 4;
        if (write)
            t->words[i] = words[s][i] = uint32_t(random());
        else if (std::memcmp(t->words, words[s], sizeof words[s]) != 0 || t->serial != job.serial)
            return fail("segment changed under its thread", op);
    }
    std::memcpy(job.finalWords, words, sizeof words);
    return 0;
}

TEST(Endurance, PerThreadDataOverAThousandThreadsCleansEachBlockOnce)
{
    ThreadSeed = Seed("per-thread data", 61005);
    std::mt19937 random(ThreadSeed);
    // Start-up: every segment registered before any other thread uses them.
    Offsets[0] = ThreadDataRegister(sizeof(TrackedSegment), SetUpSegment, CleanUpSegment<0>);
    Offsets[1] = ThreadDataRegister(10, nullptr, nullptr);
    Offsets[2] = ThreadDataRegister(sizeof(TrackedSegment), SetUpSegment, nullptr);
    Offsets[3] = ThreadDataRegister(sizeof(TrackedSegment), nullptr, CleanUpSegment<3>);
    Offsets[4] = ThreadDataRegister(sizeof(TrackedSegment), SetUpSegment, CleanUpSegment<4>);
    size_t heapBefore = HeapBusyBlocks(MainHeap);
    int threadsBefore = ProcessThreadCount();

    for (int first = 1; first < THREADS; first += WAVE) {
        int last = std::min(first + WAVE, THREADS);
        for (int serial = first; serial < last; ++serial) {
            ThreadJob& job = Jobs[serial];
            job.serial = serial;
            job.usesData = serial % 11 != 0;
            job.alsoNotifies = random() % 4 == 0;
            // Suspended until its handle is stored: its clean-ups look at it.
            job.handle = CreateThread(nullptr, 0, ThreadDataWorker, &job, CREATE_SUSPENDED, nullptr);
            ASSERT_NE(job.handle, nullptr) << "thread " << serial;
            ResumeThread(job.handle);
        }
        for (int serial = first; serial < last; ++serial)
            ASSERT_EQ(WaitForSingleObject(Jobs[serial].handle, 60000), WAIT_OBJECT_0) << "thread " << serial;
    }
    // Thread 0 is never started, so that serial 0 means no test thread.
    auto cleanedUp = [] {
        for (int serial = 1; serial < THREADS; ++serial) {
            const ExitSeen& seen = Exits[serial];
            LONG expected = Jobs[serial].usesData;
            if (seen.count[0] != expected || seen.count[3] != expected || seen.count[4] != expected ||
                seen.ownCount != LONG(expected && Jobs[serial].alsoNotifies))
                return false;
        }
        return true;
    };
    EXPECT_TRUE(PollUntil(cleanedUp, 60000));
    EXPECT_TRUE(WaitForThreadCount(threadsBefore)) << "every watcher ends when idle";
    for (int serial = 1; serial < THREADS && !HasFailure(); ++serial) {  // up to the first that failed
        const ThreadJob& job = Jobs[serial];
        const ExitSeen& seen = Exits[serial];
        SCOPED_TRACE(testing::Message() << "thread " << serial);
        EXPECT_EQ(job.failure, nullptr) << job.failure << " at op " << job.failedOp;
        if (job.usesData) {
            for (int s : {0, 3, 4}) {
                EXPECT_EQ(seen.count[s], 1) << "segment " << s;
                EXPECT_TRUE(seen.ownSegment[s] && seen.intact[s] && seen.ownerEnded[s]) << "segment " << s;
            }
            EXPECT_TRUE(seen.sequence[4] < seen.sequence[3] && seen.sequence[3] < seen.sequence[0])
                << "clean-ups newest registration first";
            if (job.alsoNotifies) {
                EXPECT_LT(seen.ownSequence, seen.sequence[4]) << "the newest exit function runs first";
            }
        } else {
            EXPECT_EQ(seen.count[0] + seen.count[3] + seen.count[4], 0) << "no block, no clean-up";
        }
    }
    for (int serial = 1; serial < THREADS; ++serial)
        CloseHandle(Jobs[serial].handle);
    EXPECT_EQ(HeapBusyBlocks(MainHeap), heapBefore) << "blocks, watchers and exit records freed";
}

}  // namespace
