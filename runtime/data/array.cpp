// Dynamic arrays. Header and elements are one main-heap block so an array
// costs one allocation and its elements are reached by plain indexing. The
// array knows exactly one variable, its holder: ArrayFree clears that one
// and no copy of the pointer kept elsewhere.
//
// Sizes are checked in 64-bit arithmetic before allocating: in the PE32
// image element size times count can wrap, and a wrapped size would hand out
// a block smaller than the elements the caller then writes.
#include "runtime/data/array.h"

#include <string.h>

#include "runtime/process/globals.h"

// Header plus bytes of elements from the main heap, header filled, holder
// set; null when the total does not fit or no memory.
static void* ArrayMake(uint32_t dimensionCount, uint32_t elementSize, uint64_t elementCount,
                       TypeCode typeCode, const ElementLayout* layout, void** holder)
{
    uint64_t bytes = uint64_t(elementSize) * elementCount;
    if (elementCount > UINT32_MAX || bytes > SIZE_MAX - sizeof(ArrayHeader))
        return nullptr;
    auto* header = static_cast<ArrayHeader*>(MainHeapAlloc(sizeof(ArrayHeader) + size_t(bytes)));
    if (!header)
        return nullptr;
    header->dimensionCount = dimensionCount;
    header->elementSize = elementSize;
    header->layout = layout;
    header->holder = holder;
    header->elementCount = uint32_t(elementCount);
    header->typeCode = typeCode;
    char* first = reinterpret_cast<char*>(header + 1);
    if (holder)
        *holder = first;
    if (LayoutHasContainers(layout)) {
        for (uint32_t i = 0; i < header->elementCount; ++i)
            LayoutSetUp(layout, first + size_t(i) * elementSize);
    }
    return first;
}

// Frees what holder refers to; holder is then null.
static void ArrayRelease(void** holder)
{
    if (holder) {
        ArrayFree(*holder);
        *holder = nullptr;
    }
}

void* ArrayCreate(uint32_t elementSize, uint32_t elementCount, TypeCode typeCode,
                  const ElementLayout* layout, void* holder)
{
    auto** variable = static_cast<void**>(holder);
    ArrayRelease(variable);
    // The heap zero-fills the elements.
    return ArrayMake(1, elementSize, elementCount, typeCode, layout, variable);
}

void* ArrayCreateDims(uint32_t elementSize, uint32_t dimensionCount, TypeCode typeCode,
                      const ElementLayout* layout, void* holder)
{
    auto** variable = static_cast<void**>(holder);
    ArrayRelease(variable);
    if (!variable || dimensionCount == 0)
        return nullptr;
    auto* sizes = reinterpret_cast<int32_t*>(variable + 1);
    uint64_t total = 1;
    for (uint32_t d = 0; d < dimensionCount; ++d) {
        if (sizes[d] < 0)
            return nullptr;
        total *= uint64_t(sizes[d]);
        if (total > INT32_MAX)  // strides are int32_t
            return nullptr;
    }
    void* first = ArrayMake(dimensionCount, elementSize, total, typeCode, layout, variable);
    if (!first)
        return nullptr;
    int32_t stride = 1;
    for (uint32_t d = dimensionCount; d-- > 0;) {
        int32_t size = sizes[d];
        sizes[d] = stride;
        stride *= size;
    }
    return first;
}

void* ArrayCopy(void* destination, const void* source)
{
    if (!destination || !source)
        return nullptr;
    ArrayHeader* to = ArrayHeaderOf(destination);
    const ArrayHeader* from = ArrayHeaderOf(const_cast<void*>(source));
    if (to->dimensionCount != from->dimensionCount || to->elementSize != from->elementSize)
        return nullptr;
    uint32_t count = to->elementCount < from->elementCount ? to->elementCount : from->elementCount;
    memmove(destination, source, size_t(count) * to->elementSize);
    return destination;
}

void ArrayFree(void* array)
{
    if (!array)
        return;
    ArrayHeader* header = ArrayHeaderOf(array);
    if (header->layout) {
        char* element = static_cast<char*>(array);
        for (uint32_t i = 0; i < header->elementCount; ++i)
            LayoutCleanUp(header->layout, element + size_t(i) * header->elementSize);
    }
    if (header->holder)
        *header->holder = nullptr;
    MainHeapFree(header);
}

void ArrayServiceInit()
{
    ContainerOps.arrayCreate = ArrayCreate;
    ContainerOps.arrayCreateDims = ArrayCreateDims;
    ContainerOps.arrayCopy = ArrayCopy;
    ContainerOps.arrayFree = ArrayFree;
}
