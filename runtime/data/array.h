// Dynamic arrays: one main-heap block holding an ArrayHeader followed by the
// elements. An array's value, kept in its holder (the owner's pointer
// variable) and passed to every operation, is the address of its first
// element, so element i is at value + i * element size with no runtime call.
#pragma once

#include <stddef.h>

#include "runtime/base.h"
#include "runtime/data/container_ops.h"

struct ArrayHeader {
    uint32_t dimensionCount;      // 1 from ArrayCreate
    uint32_t elementSize;         // bytes per element
    const ElementLayout* layout;  // null for every array of this system
    void** holder;                // the variable that holds the array
    uint32_t elementCount;        // over all dimensions
    TypeCode typeCode;            // stored only
};

#if RUNTIME_PE32
static_assert(sizeof(ArrayHeader) == 24 && offsetof(ArrayHeader, layout) == 8 &&
              offsetof(ArrayHeader, holder) == 12 && offsetof(ArrayHeader, elementCount) == 16 &&
              offsetof(ArrayHeader, typeCode) == 20);
#endif

// The header in front of an array's first element.
inline ArrayHeader* ArrayHeaderOf(void* array) { return static_cast<ArrayHeader*>(array) - 1; }

// Frees the array holder refers to (holder becomes null), then makes one of
// elementCount zero-filled elements and stores it in holder. holder is the
// address of the owner's pointer variable (e.g. &table for an int32_t*
// table); null keeps the array unheld. Returns the first element's address,
// or null with holder null when the block cannot be had (no memory, or a
// size beyond the address space). A count of 0 gives a valid empty array.
void* ArrayCreate(uint32_t elementSize, uint32_t elementCount, TypeCode typeCode,
                  const ElementLayout* layout, void* holder);

// As ArrayCreate with dimensionCount dimensions, whose element counts are
// the int32_t values stored right after the holder variable (a record
// { T* array; int32_t sizes[dimensionCount]; }). On success each size is
// turned in place into its dimension's stride in elements (the last is 1),
// so element (i, j, ...) is at index i * stride0 + j * stride1 + .... Null,
// sizes untouched, for no dimensions, a negative size or an overflowing
// total; the old array is freed in every case.
void* ArrayCreateDims(uint32_t elementSize, uint32_t dimensionCount, TypeCode typeCode,
                      const ElementLayout* layout, void* holder);

// Copies source's elements into destination, as many as both hold, when
// both have the same dimension count and element size; returns destination,
// or null (nothing copied) otherwise.
void* ArrayCopy(void* destination, const void* source);

// Runs the layout's clean-up on every element, sets the holder variable to
// null and frees the block. Null is ignored.
void ArrayFree(void* array);

// Records the four array operations in ContainerOps; start-up.
void ArrayServiceInit();
