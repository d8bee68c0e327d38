// Keyed maps. The bucket array never grows: its size is chosen by the owner
// (1024 for the symbol table), so a lookup is one hash and a short chain
// walk. New nodes go to the head of their chain.
//
// The cursor (current, previous and their buckets) serves both iteration and
// MapFind/MapAdd, and MapDeleteCurrent steps it back to the node visited
// before, so "next; delete if it matches" visits every element once. Two
// rules keep the chains sound whatever came before a delete: a miss leaves
// the cursor untouched (a half-walked chain must not become "previous"), and
// a node is unlinked through "previous" only when "previous" really links
// to it; a chain head is unlinked as the head, and otherwise the chain is
// walked to find the predecessor.
#include "runtime/data/keyed_map.h"

#include <string.h>

#include "runtime/process/globals.h"

static char EmptyKey[] = "";

// Keys compare as strcmp (byte for byte) or, in a MAP_NOCASE map, as
// _stricmp does in the "C" locale (A-Z folded to a-z, nothing else): the
// same folding as the hash, so the two agree whatever locale the C runtime
// might be switched to. Done here rather than by calling the C library, whose
// comparisons cost 30 to 70 ns a call under Wine, more than the whole walk.
static bool MapKeysEqual(const char* a, const char* b, bool noCase)
{
    for (;; ++a, ++b) {
        uint32_t x = MapHashByte(*a, noCase);
        if (x != MapHashByte(*b, noCase))
            return false;
        if (!x)
            return true;
    }
}

static uint32_t MapBucket(const KeyedMap* map, const char* key)
{
    uint32_t hash = (map->flags & MAP_NOCASE) ? MapKeyHash(key, true) : MapKeyHash(key, false);
    return MapBucketOf(hash, map->bucketCount);
}

// A node with a heap copy of key from map's pool; null when no memory.
static MapNode* NodeMake(KeyedMap* map, const char* key)
{
    auto* node = static_cast<MapNode*>(PoolAlloc(map->nodePool));
    if (!node)
        return nullptr;
    size_t length = strlen(key) + 1;
    node->key = static_cast<char*>(MainHeapAlloc(length));
    if (!node->key) {
        PoolFree(map->nodePool, node);
        return nullptr;
    }
    memcpy(node->key, key, length);
    node->next = nullptr;
    return node;
}

static void NodeDiscard(KeyedMap* map, MapNode* node)
{
    MainHeapFree(node->key);
    LayoutCleanUp(map->layout, MapElementOf(node));
    PoolFree(map->nodePool, node);
}

KeyedMap* MapCreate(uint32_t elementSize, TypeCode typeCode, const ElementLayout* layout,
                    KeyedMap** holder, int32_t bucketCount)
{
    if (holder) {
        MapFree(*holder);
        *holder = nullptr;
    }
    uint64_t nodeSize = sizeof(MapNode) + uint64_t(elementSize);
    if (nodeSize > UINT32_MAX)
        return nullptr;
    if (bucketCount <= 0)
        bucketCount = 1;
    uint64_t bucketBytes = uint64_t(bucketCount) * sizeof(MapNode*);
    if (bucketBytes > SIZE_MAX)
        return nullptr;

    auto* map = static_cast<KeyedMap*>(MainHeapAlloc(sizeof(KeyedMap)));
    if (!map)
        return nullptr;
    map->buckets = static_cast<MapNode**>(MainHeapAlloc(size_t(bucketBytes)));
    if (map->buckets)
        map->nodePool = PoolCreate(uint32_t(nodeSize), 16, 65536, POOL_SHARED);
    if (map->nodePool)
        map->spareNode = static_cast<MapNode*>(MainHeapAlloc(size_t(nodeSize)));
    if (!map->spareNode) {
        PoolRelease(map->nodePool);
        MainHeapFree(map->buckets);
        MainHeapFree(map);
        return nullptr;
    }
    map->spareNode->key = EmptyKey;
    map->bucketCount = uint32_t(bucketCount);
    map->elementSize = elementSize;
    map->typeCode = typeCode;
    map->layout = layout;
    map->holder = holder;
    // A fresh map's cursor is a reset one, so an iteration may start at once.
    map->currentBucket = -1;
    map->savedBucket = -1;
    if (LayoutHasContainers(layout))
        map->flags |= MAP_HAS_LAYOUT;
    if (holder)
        *holder = map;
    return map;
}

// The chain walk of MapFind, one copy per letter-case rule so that the
// comparison loop carries no test of the flag.
template <bool NoCase>
static MapNode* ChainFind(KeyedMap* map, const char* key, uint32_t* bucket, MapNode** before)
{
    *bucket = MapBucketOf(MapKeyHash(key, NoCase), map->bucketCount);
    *before = nullptr;
    for (MapNode* node = map->buckets[*bucket]; node; *before = node, node = node->next)
        if (MapKeysEqual(node->key, key, NoCase))
            return node;
    return nullptr;
}

void* MapFind(KeyedMap* map, const char* key)
{
    if (!map)
        return nullptr;
    if (!key)
        key = "";
    uint32_t bucket;
    MapNode* before;
    MapNode* node = (map->flags & MAP_NOCASE) ? ChainFind<true>(map, key, &bucket, &before)
                                               : ChainFind<false>(map, key, &bucket, &before);
    if (!node)
        return nullptr;
    map->current = node;
    map->previous = before;
    map->currentBucket = int32_t(bucket);
    return MapElementOf(node);
}

void* MapAdd(KeyedMap* map, const char* key)
{
    if (!map)
        return nullptr;
    if (!key)
        key = "";
    void* element = MapFind(map, key);
    if (element) {
        LayoutCleanUp(map->layout, element);
    } else {
        MapNode* node = NodeMake(map, key);
        if (!node)
            return nullptr;
        uint32_t bucket = MapBucket(map, key);
        node->next = map->buckets[bucket];
        map->buckets[bucket] = node;
        map->previous = nullptr;
        map->count += 1;
        map->current = node;
        map->currentBucket = int32_t(bucket);
        element = MapElementOf(node);
    }
    memset(element, 0, map->elementSize);
    if (map->flags & MAP_HAS_LAYOUT)
        LayoutSetUp(map->layout, element);
    return element;
}

void MapResetCursor(KeyedMap* map)
{
    if (!map)
        return;
    map->current = nullptr;
    map->currentBucket = -1;
}

void* MapNextElement(KeyedMap* map)
{
    if (!map)
        return nullptr;
    map->previous = map->current;
    map->savedBucket = map->currentBucket;
    if (map->current && map->current->next) {
        map->current = map->current->next;
        return MapElementOf(map->current);
    }
    // End of a chain, a fresh cursor (-1) or one stepped back before a bucket.
    uint32_t bucket = map->currentBucket < 0 ? 0 : uint32_t(map->currentBucket) + 1;
    for (; bucket < map->bucketCount; ++bucket) {
        if (map->buckets[bucket]) {
            map->current = map->buckets[bucket];
            map->currentBucket = int32_t(bucket);
            return MapElementOf(map->current);
        }
    }
    // Ended: stays ended until a reset.
    map->current = nullptr;
    map->currentBucket = int32_t(map->bucketCount);
    return nullptr;
}

void* MapDeleteCurrent(KeyedMap* map)
{
    if (!map || !map->current)
        return nullptr;
    MapNode* node = map->current;
    uint32_t bucket = uint32_t(map->currentBucket);
    MapNode** head = &map->buckets[bucket];

    if (*head == node) {
        *head = node->next;
        if (map->previous) {
            // Reached by a step from the end of an earlier chain: back to it.
            map->current = map->previous;
            map->currentBucket = map->savedBucket;
        } else {
            map->current = nullptr;
            map->currentBucket = int32_t(bucket) - 1;
        }
    } else {
        MapNode* before = map->previous;
        if (!before || before->next != node) {
            before = *head;
            while (before->next != node)
                before = before->next;
        }
        before->next = node->next;
        map->current = before;
    }
    // "previous" would now name the new current itself: a second delete
    // without a step finds its predecessor afresh.
    map->previous = nullptr;
    map->count -= 1;
    NodeDiscard(map, node);
    return MapElementOf(map->current);
}

void MapClear(KeyedMap* map)
{
    if (!map)
        return;
    for (uint32_t bucket = 0; bucket < map->bucketCount; ++bucket) {
        MapNode* node = map->buckets[bucket];
        while (node) {
            MapNode* next = node->next;
            NodeDiscard(map, node);
            node = next;
        }
        map->buckets[bucket] = nullptr;
    }
    map->previous = nullptr;
    MapResetCursor(map);
    map->count = 0;
}

void MapFree(KeyedMap* map)
{
    if (!map)
        return;
    MapClear(map);
    PoolRelease(map->nodePool);
    MainHeapFree(map->buckets);
    MainHeapFree(map->spareNode);
    void* block = map->extraBlocks;
    while (block) {
        void* next = *static_cast<void**>(block);
        MainHeapFree(block);
        block = next;
    }
    if (map->holder)
        *map->holder = nullptr;
    MainHeapFree(map);
}

KeyedMap* MapCopy(KeyedMap** holder, const KeyedMap* source)
{
    // A holder that still refers to the source would free it before the copy.
    if (!source || source->layout || (holder && *holder == source))
        return nullptr;
    KeyedMap* copy = MapCreate(source->elementSize, source->typeCode, nullptr, holder,
                               int32_t(source->bucketCount));
    if (!copy)
        return nullptr;
    copy->flags = source->flags;
    for (uint32_t bucket = 0; bucket < source->bucketCount; ++bucket) {
        MapNode** tail = &copy->buckets[bucket];
        for (MapNode* node = source->buckets[bucket]; node; node = node->next) {
            MapNode* twin = NodeMake(copy, node->key);
            if (!twin) {
                MapFree(copy);
                return nullptr;
            }
            memcpy(MapElementOf(twin), MapElementOf(node), source->elementSize);
            *tail = twin;
            tail = &twin->next;
            copy->count += 1;
        }
    }
    return copy;
}

void MapServiceInit()
{
    ContainerOps.mapCreate = MapCreate;
    ContainerOps.mapCopy = MapCopy;
    ContainerOps.mapFree = MapFree;
}
