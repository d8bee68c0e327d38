// Keyed maps: hashing and bucket choice, iteration order, the two cursor
// faults (a miss that moved "previous", a head unlinked through a node of an
// earlier bucket), layouts through ContainerOps, and a long differential run
// against a reference model in every combination of letter case and table
// size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "main_heap_limit.h"
#include "runtime/data/keyed_map.h"

namespace {

struct Element {
    uint32_t value;
    uint32_t spare[2];
};

std::string KeyOf(void* element) { return element ? MapNodeOf(element)->key : "<none>"; }
uint32_t& ValueOf(void* element) { return static_cast<Element*>(element)->value; }

std::vector<std::string> IterationKeys(KeyedMap* map)
{
    std::vector<std::string> keys;
    MapResetCursor(map);
    while (void* element = MapNextElement(map))
        keys.push_back(KeyOf(element));
    return keys;
}

// The obviously correct map: one std::list per bucket, newest first.
class ModelMap {
public:
    ModelMap(bool noCase, uint32_t bucketCount) : noCase_(noCase), chains_(bucketCount) {}

    struct Entry {
        std::string key;
        uint32_t value;
    };

    uint32_t Bucket(const std::string& key) const
    {
        uint32_t hash = 0;
        for (char c : Canonical(key))
            hash = hash * 65599u + uint32_t(int32_t(static_cast<signed char>(c)));
        return hash % uint32_t(chains_.size());
    }
    Entry* Find(const std::string& key)
    {
        for (Entry& entry : chains_[Bucket(key)])
            if (Canonical(entry.key) == Canonical(key))
                return &entry;
        return nullptr;
    }
    Entry& Add(const std::string& key)
    {
        if (Entry* entry = Find(key)) {
            entry->value = 0;
            return *entry;
        }
        chains_[Bucket(key)].push_front({key, 0});
        return chains_[Bucket(key)].front();
    }
    void Erase(const std::string& key)
    {
        auto& chain = chains_[Bucket(key)];
        for (auto it = chain.begin(); it != chain.end(); ++it)
            if (Canonical(it->key) == Canonical(key)) {
                chain.erase(it);
                return;
            }
        ADD_FAILURE() << "model has no " << key;
    }
    // The key before key in its own chain, or "" with false at the head.
    bool ChainPredecessor(const std::string& key, std::string* before) const
    {
        const Entry* last = nullptr;
        for (const Entry& entry : chains_[Bucket(key)]) {
            if (Canonical(entry.key) == Canonical(key))
                break;
            last = &entry;
        }
        if (last)
            *before = last->key;
        return last != nullptr;
    }
    std::vector<Entry> Order() const
    {
        std::vector<Entry> order;
        for (const auto& chain : chains_)
            order.insert(order.end(), chain.begin(), chain.end());
        return order;
    }
    size_t Size() const { return Order().size(); }
    void Clear()
    {
        for (auto& chain : chains_)
            chain.clear();
    }

private:
    std::string Canonical(std::string key) const
    {
        if (noCase_)
            for (char& c : key)
                if (c >= 'A' && c <= 'Z')
                    c = char(c - 'A' + 'a');
        return key;
    }
    bool noCase_;
    std::vector<std::list<Entry>> chains_;
};

std::string FollowerOf(const std::vector<ModelMap::Entry>& order, const std::string& key)
{
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i].key == key)
            return i + 1 < order.size() ? order[i + 1].key : "<none>";
    return "<absent>";
}

}  // namespace

TEST(MapKeyHash, SignedBytesAndCaseFolding)
{
    struct Case {
        const char* key;
        bool noCase;
        uint32_t hash;
    } const cases[] = {
        {"ab", false, 6363201},       {"ab", true, 6363201},  {"AB", true, 6363201},
        {"AB", false, 4264001},       {"a", false, 97},       {"", true, 0},
        {"\xff", false, 0xFFFFFFFFu}, {"\x80", true, 0xFFFFFF80u},
        {"abc", false, 807794786},    {"Norvane()", false, 2323175412u},
        {"Norvane()", true, 3987773460u},
    };
    for (const Case& c : cases) {
        std::string key = c.key;  // not a constant expression: the run-time path
        EXPECT_EQ(MapKeyHash(key.c_str(), c.noCase), c.hash) << c.key << (c.noCase ? " nocase" : "");
    }
}

TEST(MapAdd, NodeLandsInTheBucketOfItsHash)
{
    KeyedMap* map = nullptr;
    ASSERT_NE(MapCreate(sizeof(Element), 7, nullptr, &map, 1024), nullptr);
    struct Case {
        const char* key;
        uint32_t bucket;
    } const cases[] = {{"ab", 65}, {"a", 97}, {"abc", 98}, {"\xff", 1023}, {"\x80", 896}, {"", 0},
                       {"Norvane()", 1012}};
    for (const Case& c : cases) {
        void* element = MapAdd(map, c.key);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(map->buckets[c.bucket], MapNodeOf(element)) << c.key;
        EXPECT_EQ(map->currentBucket, int32_t(c.bucket)) << c.key;
    }
    MapFree(map);
    EXPECT_EQ(map, nullptr);
}

TEST(MapCreate, HeaderFieldsAndBucketCount)
{
    struct Case {
        int32_t requested;
        uint32_t bucketCount;
    } const cases[] = {{1024, 1024}, {1, 1}, {0, 1}, {-5, 1}};
    for (const Case& c : cases) {
        KeyedMap* map = nullptr;
        KeyedMap* made = MapCreate(12, 7, nullptr, &map, c.requested);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(map, made);
        EXPECT_EQ(made->holder, &map);
        EXPECT_EQ(made->bucketCount, c.bucketCount);
        EXPECT_EQ(made->elementSize, 12u);
        EXPECT_EQ(made->typeCode, 7u);
        EXPECT_EQ(made->count, 0u);
        EXPECT_EQ(made->flags, 0u);
        EXPECT_EQ(made->current, nullptr);
        EXPECT_STREQ(made->spareNode->key, "");
        EXPECT_EQ(made->nodePool->stride, PoolStride(12 + 2 * sizeof(void*)));
        EXPECT_EQ(made->nodePool->minimumChunk, 16u);
        EXPECT_EQ(made->nodePool->maximumChunk, 65536u);
        EXPECT_NE(made->nodePool->registryEntry, nullptr) << "a shared pool";
        MapFree(map);
        EXPECT_EQ(map, nullptr);
    }
}

TEST(MapCreate, FreesWhatTheHolderHadFirst)
{
    // Element size no other map uses: the node pool's references show
    // whether the first map still exists.
    KeyedMap* map = nullptr;
    MapCreate(333, 7, nullptr, &map, 4);
    MapAdd(map, "x");
    MapCreate(333, 7, nullptr, &map, 4);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->nodePool->registryEntry->references, 1);
    EXPECT_EQ(MapFind(map, "x"), nullptr);
    MapFree(map);
}

TEST(MapCreate, NoMemoryOrImpossibleSizesGiveNullAndNullHolder)
{
    KeyedMap* map = nullptr;
    EXPECT_EQ(MapCreate(0xFFFFFFFFu, 7, nullptr, &map, 4), nullptr);
    EXPECT_EQ(map, nullptr);
    {
        MainHeapLimit limit;
        limit.Exhaust();
        EXPECT_EQ(MapCreate(12, 7, nullptr, &map, 1024), nullptr);
        EXPECT_EQ(map, nullptr);
    }
}

TEST(MapNull, MapAndKeyHandledWithoutFault)
{
    EXPECT_EQ(MapFind(nullptr, "a"), nullptr);
    EXPECT_EQ(MapAdd(nullptr, "a"), nullptr);
    EXPECT_EQ(MapNextElement(nullptr), nullptr);
    EXPECT_EQ(MapDeleteCurrent(nullptr), nullptr);
    MapResetCursor(nullptr);
    MapClear(nullptr);
    MapFree(nullptr);

    KeyedMap* map = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &map, 16);
    void* empty = MapAdd(map, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(MapFind(map, ""), empty) << "a null key is the empty string";
    EXPECT_EQ(MapFind(map, nullptr), empty);
    EXPECT_EQ(MapAdd(map, ""), empty);
    EXPECT_EQ(map->count, 1u);
    MapFree(map);
}

TEST(MapAdd, ReAddingKeepsNodeAndKeyAndZeroFills)
{
    KeyedMap* map = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &map, 8);
    map->flags |= MAP_NOCASE;
    void* first = MapAdd(map, "Key");
    char* keyCopy = MapNodeOf(first)->key;
    *static_cast<Element*>(first) = {5, {6, 7}};
    void* again = MapAdd(map, "KEY");
    EXPECT_EQ(again, first);
    EXPECT_EQ(MapNodeOf(again)->key, keyCopy);
    EXPECT_STREQ(keyCopy, "Key") << "the first spelling stays";
    Element zero{};
    EXPECT_EQ(std::memcmp(again, &zero, sizeof zero), 0);
    EXPECT_EQ(map->count, 1u);
    MapFree(map);
}

TEST(MapIteration, OrderIsBucketAscendingThenNewestFirst)
{
    struct Case {
        int32_t buckets;
        std::vector<const char*> added;
        std::vector<std::string> expected;
    } const cases[] = {
        {1, {"a", "b", "c"}, {"c", "b", "a"}},
        {1024, {"b", "a", "ab"}, {"ab", "a", "b"}},             // buckets 98, 97, 65
        {1024, {"ab", "AB", "a"}, {"AB", "ab", "a"}},           // "ab" and "AB" share bucket 65
        {2, {"a", "b", "c", "d"}, {"d", "b", "c", "a"}},         // 97, 98, 99, 100 mod 2
    };
    for (const Case& c : cases) {
        KeyedMap* map = nullptr;
        MapCreate(sizeof(Element), 7, nullptr, &map, c.buckets);
        for (const char* key : c.added)
            MapAdd(map, key);
        EXPECT_EQ(IterationKeys(map), c.expected) << c.buckets << " buckets";
        // An ended iteration stays ended; deleting then does nothing.
        EXPECT_EQ(MapNextElement(map), nullptr);
        EXPECT_EQ(MapDeleteCurrent(map), nullptr);
        EXPECT_EQ(map->count, c.added.size());
        MapFree(map);
    }
}

TEST(MapIteration, AFreshCursorStartsAtBucketZero)
{
    // A copy is the one way to a map with elements whose cursor never moved.
    KeyedMap* source = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &source, 4);
    MapAdd(source, "a");  // bucket 1
    MapAdd(source, "d");  // bucket 0
    KeyedMap* copy = nullptr;
    ASSERT_NE(MapCopy(&copy, source), nullptr);
    EXPECT_EQ(KeyOf(MapNextElement(copy)), "d");
    EXPECT_EQ(KeyOf(MapNextElement(copy)), "a");
    MapFree(copy);
    MapFree(source);
}

TEST(MapDeleteCurrent, DeletingEverythingInOneIterationEmptiesTheMap)
{
    for (int32_t buckets : {1, 1024}) {
        KeyedMap* map = nullptr;
        MapCreate(sizeof(Element), 7, nullptr, &map, buckets);
        for (int i = 0; i < 300; ++i)
            MapAdd(map, std::to_string(i * 7919).c_str());
        int visited = 0;
        MapResetCursor(map);
        while (MapNextElement(map)) {
            ++visited;
            MapDeleteCurrent(map);
        }
        EXPECT_EQ(visited, 300) << buckets;
        EXPECT_EQ(map->count, 0u);
        for (uint32_t b = 0; b < map->bucketCount; ++b)
            ASSERT_EQ(map->buckets[b], nullptr) << "bucket " << b;
        MapFree(map);
    }
}

TEST(MapDeleteCurrent, AfterAFindMissTheChainsStayIntact)
{
    // One chain c -> b -> a. The cursor stands on b, with c before it; a miss
    // walks the whole chain and must not make "a" the previous node.
    KeyedMap* map = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &map, 1);
    for (const char* key : {"a", "b", "c"})
        MapAdd(map, key);
    MapResetCursor(map);
    MapNextElement(map);
    ASSERT_EQ(KeyOf(MapNextElement(map)), "b");
    MapNode* current = map->current;
    MapNode* previous = map->previous;
    int32_t bucket = map->currentBucket;
    EXPECT_EQ(MapFind(map, "zz"), nullptr);
    EXPECT_EQ(map->current, current);
    EXPECT_EQ(map->previous, previous);
    EXPECT_EQ(map->currentBucket, bucket);

    EXPECT_EQ(KeyOf(MapDeleteCurrent(map)), "c");
    EXPECT_EQ(KeyOf(MapNextElement(map)), "a") << "the iteration goes on after the deleted node";
    EXPECT_EQ(IterationKeys(map), (std::vector<std::string>{"c", "a"}));
    EXPECT_EQ(map->count, 2u);
    MapFree(map);
}

TEST(MapDeleteCurrent, BucketHeadIsUnlinkedAsTheHeadWhenPreviousIsInAnEarlierBucket)
{
    // Buckets of 1024: "a" in 97; "abc" and "b" both in 98, chain abc -> b,
    // reached by a step from "a".
    KeyedMap* map = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &map, 1024);
    MapAdd(map, "a");
    MapAdd(map, "b");
    MapAdd(map, "abc");
    MapResetCursor(map);
    ASSERT_EQ(KeyOf(MapNextElement(map)), "a");
    ASSERT_EQ(KeyOf(MapNextElement(map)), "abc");
    MapNode* nodeA = map->previous;
    ASSERT_STREQ(nodeA->key, "a");

    EXPECT_EQ(KeyOf(MapDeleteCurrent(map)), "a") << "steps back to the node visited before";
    EXPECT_EQ(nodeA->next, nullptr) << "the earlier chain is not linked into bucket 98";
    ASSERT_NE(map->buckets[98], nullptr);
    EXPECT_STREQ(map->buckets[98]->key, "b");
    EXPECT_EQ(KeyOf(MapNextElement(map)), "b");
    EXPECT_EQ(MapNextElement(map), nullptr);
    EXPECT_EQ(IterationKeys(map), (std::vector<std::string>{"a", "b"}));
    MapFree(map);
}

TEST(MapDeleteCurrent, FoundElementIsDeletedAndIterationResumesAfterIt)
{
    struct Case {
        const char* found;
        const char* returned;  // chain predecessor, or none at a head
        const char* next;
    } const cases[] = {{"c", "<none>", "b"}, {"b", "c", "a"}, {"a", "b", "<none>"}};
    for (const Case& c : cases) {
        KeyedMap* map = nullptr;
        MapCreate(sizeof(Element), 7, nullptr, &map, 1);
        for (const char* key : {"a", "b", "c"})
            MapAdd(map, key);
        ASSERT_NE(MapFind(map, c.found), nullptr);
        EXPECT_EQ(MapFind(map, "missing"), nullptr);
        EXPECT_EQ(KeyOf(MapDeleteCurrent(map)), c.returned) << c.found;
        EXPECT_EQ(KeyOf(MapNextElement(map)), c.next) << c.found;
        EXPECT_EQ(map->count, 2u);
        EXPECT_EQ(MapFind(map, c.found), nullptr);
        MapFree(map);
    }
}

TEST(MapAdd, NoMemoryLeavesTheMapAsItWas)
{
    KeyedMap* map = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &map, 1);
    MapAdd(map, "a");
    MapAdd(map, "b");
    MapFind(map, "a");
    {
        MainHeapLimit limit;
        limit.Exhaust();
        EXPECT_EQ(MapAdd(map, "a-much-longer-key-than-any-other"), nullptr);
    }
    EXPECT_EQ(map->count, 2u);
    EXPECT_EQ(KeyOf(MapDeleteCurrent(map)), "b") << "the cursor still stood on a";
    EXPECT_EQ(IterationKeys(map), std::vector<std::string>{"b"});
    MapFree(map);
}

TEST(MapClear, EmptiesEveryBucketAndTheMapStaysUsable)
{
    KeyedMap* map = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &map, 16);
    for (int i = 0; i < 100; ++i)
        MapAdd(map, std::to_string(i).c_str());
    BlockPool* pool = map->nodePool;
    int32_t total = pool->totalBlocks;
    MapClear(map);
    EXPECT_EQ(map->count, 0u);
    for (uint32_t b = 0; b < 16; ++b)
        EXPECT_EQ(map->buckets[b], nullptr);
    EXPECT_LT(pool->totalBlocks, total) << "nodes went back to the pool";
    EXPECT_EQ(MapNextElement(map), nullptr);
    MapAdd(map, "again");
    EXPECT_EQ(IterationKeys(map), std::vector<std::string>{"again"});
    MapFree(map);
}

namespace {

// A layout whose elements each hold a nested map made through ContainerOps.
struct Nesting {
    KeyedMap* inner;
    uint32_t tag;
};
int NestedMade, NestedFreed, CleanUps;
void NestingSetUp(void* element)
{
    ++NestedMade;
    auto* nesting = static_cast<Nesting*>(element);
    ContainerOps.mapCreate(sizeof(uint32_t), 7, nullptr, &nesting->inner, 4);
}
void NestingCleanUp(void* element)
{
    auto* nesting = static_cast<Nesting*>(element);
    if (nesting->inner) {
        ++NestedFreed;
        ContainerOps.mapFree(nesting->inner);
    }
}
void CountCleanUp(void*) { ++CleanUps; }

}  // namespace

TEST(MapLayout, SetUpAndCleanUpReachNestedMapsThroughContainerOps)
{
    MapServiceInit();
    EXPECT_EQ(ContainerOps.mapCreate, &MapCreate);
    EXPECT_EQ(ContainerOps.mapCopy, &MapCopy);
    EXPECT_EQ(ContainerOps.mapFree, &MapFree);

    static const ElementLayout nesting = {NestingSetUp, NestingCleanUp};
    NestedMade = NestedFreed = 0;
    KeyedMap* map = nullptr;
    MapCreate(sizeof(Nesting), 7, &nesting, &map, 4);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->flags, MAP_HAS_LAYOUT);
    for (const char* key : {"a", "b", "c"}) {
        auto* element = static_cast<Nesting*>(MapAdd(map, key));
        ASSERT_NE(element->inner, nullptr);
        MapAdd(element->inner, "inner");
    }
    EXPECT_EQ(NestedMade, 3);
    MapAdd(map, "b");  // cleaned up, zero-filled, set up afresh
    EXPECT_EQ(NestedMade, 4);
    EXPECT_EQ(NestedFreed, 1);
    MapFind(map, "a");
    MapDeleteCurrent(map);
    EXPECT_EQ(NestedFreed, 2);
    EXPECT_EQ(MapCopy(nullptr, map), nullptr) << "nested maps cannot be copied bytewise";
    MapFree(map);
    EXPECT_EQ(NestedFreed, NestedMade);

    // Clean-up alone: no set-up, so no MAP_HAS_LAYOUT, but clean-up still runs.
    static const ElementLayout cleanOnly = {nullptr, CountCleanUp};
    CleanUps = 0;
    MapCreate(sizeof(Element), 7, &cleanOnly, &map, 4);
    EXPECT_EQ(map->flags, 0u);
    MapAdd(map, "a");
    MapAdd(map, "b");
    MapClear(map);
    EXPECT_EQ(CleanUps, 2);
    MapFree(map);
}

TEST(MapCopy, SameChainsAndValuesIndependentOfTheSource)
{
    KeyedMap* source = nullptr;
    MapCreate(sizeof(Element), 7, nullptr, &source, 8);
    source->flags |= MAP_NOCASE;
    for (int i = 0; i < 50; ++i)
        ValueOf(MapAdd(source, ("k" + std::to_string(i)).c_str())) = uint32_t(i * 3);
    KeyedMap* copy = nullptr;
    ASSERT_NE(MapCopy(&copy, source), nullptr);
    EXPECT_EQ(copy->holder, &copy);
    EXPECT_EQ(copy->count, 50u);
    EXPECT_EQ(copy->flags, MAP_NOCASE);
    EXPECT_EQ(IterationKeys(copy), IterationKeys(source));
    EXPECT_EQ(ValueOf(MapFind(copy, "K7")), 21u);
    ValueOf(MapFind(copy, "k7")) = 99;
    MapFind(copy, "k8");
    MapDeleteCurrent(copy);
    EXPECT_EQ(ValueOf(MapFind(source, "k7")), 21u);
    EXPECT_NE(MapFind(source, "k8"), nullptr);
    EXPECT_NE(MapNodeOf(MapFind(source, "k9"))->key, MapNodeOf(MapFind(copy, "k9"))->key);
    KeyedMap* same = source;
    EXPECT_EQ(MapCopy(&source, same), nullptr) << "would free its own source";
    EXPECT_EQ(source, same);
    MapFree(copy);
    MapFree(source);
}

// The long differential run.
namespace {

struct RunConfig {
    bool noCase;
    int32_t buckets;
};

class MapDifferential {
public:
    MapDifferential(RunConfig config, uint32_t seed)
        : config_(config), model_(config.noCase, uint32_t(config.buckets)), random_(seed)
    {
        MapCreate(sizeof(Element), 7, nullptr, &map_, config.buckets);
        if (config.noCase)
            map_->flags |= MAP_NOCASE;
        const char alphabet[] = {'a', 'b', 'c', 'A', 'B', 'C', '_', '(', ')', '\xe9', '\xc9', '\xff'};
        for (int i = 0; i < 300; ++i) {
            std::string key;
            for (uint32_t n = random_() % 7; n > 0; --n)
                key += alphabet[random_() % sizeof alphabet];
            keys_.push_back(key);
        }
    }
    ~MapDifferential() { MapFree(map_); }

    void Run(int ops)
    {
        for (int op = 0; op < ops && !testing::Test::HasFatalFailure(); ++op) {
            op_ = op;
            uint32_t r = random_() % 1000;
            if (r < 350)
                Add();
            else if (r < 650)
                Find();
            else if (r < 720)
                IterateDeleting();
            else if (r < 820)
                FindThenDelete();
            else if (r < 900)
                PartialIterationMissThenDelete();
            else if (r < 902)
                Clear();
            else
                Find();
            if (op % 500 == 0)
                CheckWhole();
        }
        CheckWhole();
    }

private:
    std::string Where() const
    {
        return "op " + std::to_string(op_) + (config_.noCase ? " nocase " : " case ") +
               std::to_string(config_.buckets) + " buckets";
    }
    std::string AnyKey() { return keys_[random_() % keys_.size()]; }
    std::string AbsentKey() { return "#" + std::to_string(random_() % 1000); }

    void Add()
    {
        std::string key = AnyKey();
        std::vector<ModelMap::Entry> before = model_.Order();
        void* element = MapAdd(map_, key.c_str());
        ASSERT_NE(element, nullptr) << Where();
        Element zero{};
        ASSERT_EQ(std::memcmp(element, &zero, sizeof zero), 0) << Where();
        ModelMap::Entry& entry = model_.Add(key);
        ASSERT_EQ(KeyOf(element), entry.key) << Where();
        entry.value = random_();
        ValueOf(element) = entry.value;
        ASSERT_EQ(map_->count, model_.Size()) << Where();
        if (random_() % 5 == 0) {  // the cursor stands on the added element
            ASSERT_EQ(KeyOf(MapNextElement(map_)), FollowerOf(model_.Order(), entry.key)) << Where();
        }
    }

    void Find()
    {
        std::string key = random_() % 4 ? AnyKey() : AbsentKey();
        void* element = MapFind(map_, key.c_str());
        ModelMap::Entry* entry = model_.Find(key);
        ASSERT_EQ(element != nullptr, entry != nullptr) << key << " " << Where();
        if (entry) {
            ASSERT_EQ(KeyOf(element), entry->key) << Where();
            ASSERT_EQ(ValueOf(element), entry->value) << Where();
        }
    }

    // One whole iteration with random deletes, misses and double deletes.
    void IterateDeleting()
    {
        uint32_t deleteShare = random_() % 60;
        std::vector<ModelMap::Entry> order = model_.Order();
        std::vector<std::string> kept;  // yielded and kept since the cursor last stood on nothing
        size_t i = 0;
        MapResetCursor(map_);
        while (void* element = MapNextElement(map_)) {
            ASSERT_LT(i, order.size()) << Where();
            ASSERT_EQ(KeyOf(element), order[i].key) << "element " << i << " " << Where();
            ASSERT_EQ(ValueOf(element), order[i].value) << Where();
            ++i;
            if (random_() % 20 == 0) {
                ASSERT_EQ(MapFind(map_, AbsentKey().c_str()), nullptr) << Where();
            }
            if (random_() % 100 >= deleteShare) {
                kept.push_back(order[i - 1].key);
                continue;
            }
            void* back = MapDeleteCurrent(map_);
            model_.Erase(order[i - 1].key);
            ASSERT_EQ(KeyOf(back), kept.empty() ? "<none>" : kept.back()) << Where();
            if (back && random_() % 8 == 0) {
                // A second delete without a step removes the element stepped
                // back to, and steps back to its chain predecessor, if any.
                std::string second = kept.back();
                kept.pop_back();
                std::string before;
                bool hasBefore = model_.ChainPredecessor(second, &before);
                void* again = MapDeleteCurrent(map_);
                model_.Erase(second);
                ASSERT_EQ(KeyOf(again), hasBefore ? before : "<none>") << Where();
                if (!again)
                    kept.clear();
                else {
                    ASSERT_FALSE(kept.empty()) << Where();
                    ASSERT_EQ(kept.back(), before) << Where();
                }
            }
            ASSERT_EQ(map_->count, model_.Size()) << Where();
        }
        ASSERT_EQ(i, order.size()) << "every element visited once, " << Where();
    }

    void FindThenDelete()
    {
        std::vector<ModelMap::Entry> order = model_.Order();
        if (order.empty())
            return;
        std::string key = order[random_() % order.size()].key;
        ASSERT_NE(MapFind(map_, key.c_str()), nullptr) << Where();
        if (random_() % 2) {
            ASSERT_EQ(MapFind(map_, AbsentKey().c_str()), nullptr) << Where();
        }
        std::string before;
        bool hasBefore = model_.ChainPredecessor(key, &before);
        std::string follower = FollowerOf(order, key);
        void* back = MapDeleteCurrent(map_);
        model_.Erase(key);
        ASSERT_EQ(KeyOf(back), hasBefore ? before : "<none>") << Where();
        ASSERT_EQ(KeyOf(MapNextElement(map_)), follower) << Where();
    }

    void PartialIterationMissThenDelete()
    {
        std::vector<ModelMap::Entry> order = model_.Order();
        if (order.empty())
            return;
        size_t steps = 1 + random_() % order.size();
        MapResetCursor(map_);
        for (size_t s = 0; s < steps; ++s)
            ASSERT_EQ(KeyOf(MapNextElement(map_)), order[s].key) << Where();
        ASSERT_EQ(MapFind(map_, AbsentKey().c_str()), nullptr) << Where();
        MapDeleteCurrent(map_);
        model_.Erase(order[steps - 1].key);
        for (size_t s = steps; s < order.size(); ++s)
            ASSERT_EQ(KeyOf(MapNextElement(map_)), order[s].key) << Where();
        ASSERT_EQ(MapNextElement(map_), nullptr) << Where();
    }

    void Clear()
    {
        MapClear(map_);
        model_.Clear();
    }

    void CheckWhole()
    {
        ASSERT_EQ(map_->count, model_.Size()) << Where();
        std::vector<ModelMap::Entry> order = model_.Order();
        std::vector<std::string> expected;
        for (const ModelMap::Entry& entry : order)
            expected.push_back(entry.key);
        ASSERT_EQ(IterationKeys(map_), expected) << Where();
        for (uint32_t b = 0; b < map_->bucketCount; ++b)
            for (MapNode* node = map_->buckets[b]; node; node = node->next)
                ASSERT_EQ(model_.Bucket(node->key), b) << node->key << " " << Where();
    }

    RunConfig config_;
    ModelMap model_;
    std::mt19937 random_;
    std::vector<std::string> keys_;
    KeyedMap* map_ = nullptr;
    int op_ = 0;
};

}  // namespace

TEST(MapDifferential, FiftyThousandOpsPerConfigurationAgainstAModel)
{
    const uint32_t seed = 914;
    std::printf("map differential seed %u\n", seed);
    const RunConfig configs[] = {{true, 1}, {false, 1}, {true, 1024}, {false, 1024}, {true, 7}};
    for (const RunConfig& config : configs) {
        MapDifferential run(config, seed);
        run.Run(config.buckets == 7 ? 20000 : 50000);
        if (HasFatalFailure())
            return;
    }
}
