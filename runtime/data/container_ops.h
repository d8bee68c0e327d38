// What the containers (keyed maps, dynamic arrays) share: the type codes
// that name value types, element layouts, and the process-wide table of
// container operations through which layouts reach nested containers.
#pragma once

#include <stdint.h>

// Small integers naming value types. Containers store theirs and never act
// on it; the symbol table reads variables by it.
typedef uint32_t TypeCode;
constexpr TypeCode TYPE_INT8 = 1;
constexpr TypeCode TYPE_INT16 = 3;
constexpr TypeCode TYPE_INT32 = 5;
constexpr TypeCode TYPE_FLOAT32 = 9;
constexpr TypeCode TYPE_UINT8 = 11;
constexpr TypeCode TYPE_FLOAT64 = 12;
constexpr TypeCode TYPE_INTEGER = 21;  // the integer of pointer width
constexpr TypeCode TYPE_UINT16 = 25;

// How an element's strings and nested containers are set up and released
// with it. Set-up makes nested containers (typically through ContainerOps);
// its presence is what "the layout holds nested containers" means. Either
// routine may be null.
struct ElementLayout {
    void (*setUp)(void* element);
    void (*cleanUp)(void* element);
};

inline bool LayoutHasContainers(const ElementLayout* layout) { return layout && layout->setUp; }
inline void LayoutSetUp(const ElementLayout* layout, void* element)
{
    if (layout && layout->setUp)
        layout->setUp(element);
}
inline void LayoutCleanUp(const ElementLayout* layout, void* element)
{
    if (layout && layout->cleanUp)
        layout->cleanUp(element);
}

struct KeyedMap;

// Filled by MapServiceInit and ArrayServiceInit during start-up; null until then.
struct ContainerOperations {
    KeyedMap* (*mapCreate)(uint32_t elementSize, TypeCode typeCode, const ElementLayout* layout,
                           KeyedMap** holder, int32_t bucketCount);
    KeyedMap* (*mapCopy)(KeyedMap** holder, const KeyedMap* source);
    void (*mapFree)(KeyedMap* map);
    void* (*arrayCreate)(uint32_t elementSize, uint32_t elementCount, TypeCode typeCode,
                         const ElementLayout* layout, void* holder);
    void* (*arrayCreateDims)(uint32_t elementSize, uint32_t dimensionCount, TypeCode typeCode,
                             const ElementLayout* layout, void* holder);
    void* (*arrayCopy)(void* destination, const void* source);
    void (*arrayFree)(void* array);
};

extern ContainerOperations ContainerOps;
