// KeyedMap: chained hash map with string keys, a fixed bucket count and one
// cursor kept in the header.
//
// Nodes come from a block pool shared by every map of the same element size;
// a node holds its chain link, the map's own copy of its key, then the
// caller's element. Operations hand out the element's address, never the
// node's. A map has no lock: one thread at a time.
#pragma once

#include <stddef.h>

#include "runtime/base.h"
#include "runtime/data/container_ops.h"
#include "runtime/data/pool.h"

constexpr uint32_t MAP_NOCASE = 1;        // keys compare without regard to ASCII letter case
constexpr uint32_t MAP_HAS_LAYOUT = 2;    // the layout's set-up runs on every new or re-added element
constexpr uint32_t MAP_INTEGER_KEYS = 4;  // reserved: no map of this runtime uses integer keys

struct MapNode {
    MapNode* next;  // next node of the chain
    char* key;      // the map's heap copy of the key
    // element size bytes of element data follow
};

struct KeyedMap {
    MapNode* current;             // node under the cursor, or null
    MapNode** buckets;            // bucket count chain heads
    MapNode* previous;            // node visited just before current (used to unlink), or null
    MapNode* spareNode;           // zeroed node with key "", owned by the map, read by no operation
    const ElementLayout* layout;  // null for every map of this system
    int32_t currentBucket;        // bucket of current; -1 before the first step
    int32_t savedBucket;          // current bucket before the last cursor step
    uint32_t elementSize;
    TypeCode typeCode;            // stored only
    uint32_t bucketCount;         // at least 1, never changes
    uint32_t count;
    uint32_t flags;               // MAP_*
    KeyedMap** holder;            // the owner's variable
    void* extraBlocks;            // blocks freed with the map, linked through their first field
    BlockPool* nodePool;
};

// Key hash: every byte, lowered to ASCII lower case in a MAP_NOCASE map and
// then sign-extended, folded as hash * 65599 + byte in unsigned 32 bits.
constexpr uint32_t MAP_HASH_MULTIPLIER = 65599;

constexpr uint32_t MapHashByte(char c, bool noCase)
{
    if (noCase && c >= 'A' && c <= 'Z')
        c = char(c - 'A' + 'a');
    return uint32_t(int32_t(static_cast<signed char>(c)));
}

constexpr uint32_t MapKeyHash(const char* key, bool noCase)
{
    // Two bytes per step: hash * 65599^2 + (b0 * 65599 + b1) is the same sum
    // with half the multiplications on the chain each step waits for.
    uint32_t hash = 0;
    for (; key[0] && key[1]; key += 2)
        hash = hash * (MAP_HASH_MULTIPLIER * MAP_HASH_MULTIPLIER) +
               (MapHashByte(key[0], noCase) * MAP_HASH_MULTIPLIER + MapHashByte(key[1], noCase));
    if (key[0])
        hash = hash * MAP_HASH_MULTIPLIER + MapHashByte(key[0], noCase);
    return hash;
}
// hash modulo the bucket count; a power of two (1024 for both maps of the
// system) takes a mask instead of a division, with the same result.
constexpr uint32_t MapBucketOf(uint32_t hash, uint32_t bucketCount)
{
    return (bucketCount & (bucketCount - 1)) == 0 ? hash & (bucketCount - 1) : hash % bucketCount;
}

static_assert(MapKeyHash("ab", false) == 6363201 && MapKeyHash("AB", true) == 6363201 &&
              MapKeyHash("AB", false) != 6363201 && MapKeyHash("", true) == 0);
static_assert(MapKeyHash("\xff", false) == 0xFFFFFFFFu);  // bytes are signed
static_assert(MapKeyHash("abc", false) == (6363201u * 65599u + 99u));
static_assert(MapBucketOf(6363201, 1024) == 65 && MapBucketOf(6363201, 1) == 0 &&
              MapBucketOf(6363201, 1000) == 201 && MapBucketOf(0xFFFFFFFFu, 7) == 3);
#if RUNTIME_PE32
static_assert(sizeof(MapNode) == 8);
static_assert(offsetof(KeyedMap, layout) == 16 && offsetof(KeyedMap, currentBucket) == 20 &&
              offsetof(KeyedMap, bucketCount) == 36 && offsetof(KeyedMap, flags) == 44 &&
              offsetof(KeyedMap, holder) == 48 && offsetof(KeyedMap, nodePool) == 56 &&
              sizeof(KeyedMap) == 60);
#endif

// Makes a map with bucketCount chains (0 or less means 1), first freeing the
// map the holder refers to; stores the new map in the holder, which may be
// null. Null when no memory; the holder is then null.
KeyedMap* MapCreate(uint32_t elementSize, TypeCode typeCode, const ElementLayout* layout,
                    KeyedMap** holder, int32_t bucketCount);
// The element of key, or null. A hit puts the cursor on it; a miss leaves the
// cursor as it was. A null key counts as "" here and in MapAdd.
void* MapFind(KeyedMap* map, const char* key);
// The element of key, added if missing, always returned zero-filled; the
// cursor is put on it. Null when no memory (the map is then unchanged).
void* MapAdd(KeyedMap* map, const char* key);
// Iteration: bucket by bucket in ascending index, newest first within one.
// After the last element MapNextElement keeps returning null until a reset.
void MapResetCursor(KeyedMap* map);
void* MapNextElement(KeyedMap* map);
// Deletes the element under the cursor and steps the cursor back, so the next
// MapNextElement yields the element that followed the deleted one. Returns
// the element now under the cursor, or null; does nothing without one.
void* MapDeleteCurrent(KeyedMap* map);
void MapClear(KeyedMap* map);
// Null is ignored. The holder is set to null.
void MapFree(KeyedMap* map);
// A new map in holder with source's element size, type code, layout, bucket
// count, flags and elements (chains in the same order). Null when no memory,
// and for a source with a layout, whose elements cannot be copied bytewise.
KeyedMap* MapCopy(KeyedMap** holder, const KeyedMap* source);

// The element of a node, and the node of an element.
inline void* MapElementOf(MapNode* node) { return node ? node + 1 : nullptr; }
inline MapNode* MapNodeOf(void* element) { return static_cast<MapNode*>(element) - 1; }

// Records MapCreate, MapCopy and MapFree in ContainerOps; start-up.
void MapServiceInit();
