// KeyedMap: chained hash map with string keys, fixed bucket count, one cursor.
#pragma once

#include <stdint.h>

constexpr uint32_t MAP_NOCASE = 1;
constexpr uint32_t MAP_HAS_LAYOUT = 2;
constexpr uint32_t MAP_INTEGER_KEYS = 4;

struct KeyedMap;
struct ElementLayout;

// holder: the owner's variable; the new map is stored there (an old one freed first).
KeyedMap* MapCreate(uint32_t elementSize, uint32_t typeCode, const ElementLayout* layout,
                    KeyedMap** holder, int32_t bucketCount);
void* MapFind(KeyedMap* map, const char* key);   // null key counts as ""
void* MapAdd(KeyedMap* map, const char* key);    // always returned zero-filled
void MapResetCursor(KeyedMap* map);
void* MapNextElement(KeyedMap* map);
void* MapDeleteCurrent(KeyedMap* map);
void MapClear(KeyedMap* map);
void MapFree(KeyedMap* map);                     // null is ignored
