// Shared types and constants of the runtime.
#pragma once

#include <windows.h>
#include <stdint.h>

// Object numbers name windows, gadgets, fonts and images. A static number
// (0 upward) is the caller's choice; ANY_NUMBER asks for a dynamic object,
// whose issued number is the address of its record, so the type is
// pointer-sized (32 bits in the PE32 image, 64 in the port).
typedef intptr_t ObjectNumber;
constexpr ObjectNumber ANY_NUMBER = -1;

// The result by which a window or gadget handler asks for the default
// window procedure.
constexpr LRESULT NOT_HANDLED = (LRESULT)0xD0D0D0D1u;

// Compile-time layout checks are stated for the PE32 image; the port widens
// every pointer-holding field.
#if defined(__x86_64__)
#define RUNTIME_PE32 0
#else
#define RUNTIME_PE32 1
#endif
