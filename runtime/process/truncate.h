// Double to integer by truncation toward zero, on the x87 unit.
#pragma once

#include <stdint.h>

// x truncated toward zero, whatever the x87 rounding mode. NaN and values
// outside the signed 64-bit range give INT64_MIN (the x87 integer-indefinite
// value), so callers that keep the low 32 bits get the value modulo 2^32,
// and 0 for those inputs.
int64_t TruncateToInteger(double x);
