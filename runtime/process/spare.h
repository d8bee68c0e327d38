// The spare slot, heap, integer and per-thread segment: made at start-up and
// read by nothing in this program. Their failures never stop the start-up.
#pragma once

#include "runtime/base.h"

constexpr uint32_t SPARE_SEGMENT_SIZE = 76;

// TlsAlloc at start-up; never read, never freed. TLS_OUT_OF_INDEXES when
// none could be had.
extern DWORD SpareSlot;
// HeapCreate(0, 4096, 0); nothing allocates from it. Null when not made or
// after SpareHeapEnd.
extern HANDLE SpareHeap;
// Set to 0 at start-up; never read.
extern int32_t SpareInteger;
// Offset of the 76-byte per-thread segment (no set-up, no clean-up).
extern uint32_t SpareSegmentOffset;

void SpareSlotInit();
void SpareHeapInit();
// Needs the per-thread data registrations of the earlier services in place:
// the segment lies after theirs.
void SpareRecordInit();
// Destroys SpareHeap; nothing when it was never made.
void SpareHeapEnd();
