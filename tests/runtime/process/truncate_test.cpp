// TruncateToInteger against a table of doubles, in each of the four x87
// rounding modes: the conversion itself follows the mode, the result must not.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "runtime/process/truncate.h"

namespace {

struct TruncateCase {
    double x;
    int64_t expected;
};

const TruncateCase TRUNCATE_CASES[] = {
    {1.0, 1},
    {2.5, 2},
    {2.7, 2},
    {-2.7, -2},
    {-2.5, -2},
    {0.7, 0},
    {-0.3, 0},
    {0.0, 0},
    {-0.0, 0},
    {3.5, 3},                 // ties to even would give 4
    {-3.5, -3},
    {4294967296.0 + 5.9, 4294967301LL},  // low 32 bits 5
    {-9007199254740991.0, -9007199254740991LL},  // largest exactly held integer
    {9223372036854774784.0, 9223372036854774784LL},  // largest double below 2^63
    {-9223372036854775808.0, INT64_MIN},  // -2^63 itself is in range
    {9223372036854775808.0, INT64_MIN},   // 2^63 is not
    {1e300, INT64_MIN},
    {-1e300, INT64_MIN},
    {HUGE_VAL, INT64_MIN},
    {-HUGE_VAL, INT64_MIN},
    {NAN, INT64_MIN},                     // low 32 bits 0
    {4.9e-324, 0},            // smallest subnormal
};

struct RoundingMode {
    const char* name;
    uint16_t bits;  // rounding-control field, bits 10 and 11
};

const RoundingMode ROUNDING_MODES[] = {
    {"nearest", 0x0000},
    {"down", 0x0400},
    {"up", 0x0800},
    {"toward zero", 0x0C00},
};

uint16_t X87ControlWord()
{
    uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

void X87SetControlWord(uint16_t word)
{
    asm volatile("fldcw %0" : : "m"(word));
}

}  // namespace

TEST(TruncateToInteger, TruncatesTowardZeroInEveryRoundingMode)
{
    const uint16_t saved = X87ControlWord();
    for (const RoundingMode& mode : ROUNDING_MODES) {
        X87SetControlWord((saved & ~0x0C00) | mode.bits);
        for (const TruncateCase& c : TRUNCATE_CASES) {
            const int64_t result = TruncateToInteger(c.x);
            EXPECT_EQ(result, c.expected) << "x = " << c.x << ", rounding " << mode.name;
        }
        EXPECT_EQ(X87ControlWord() & 0x0C00, mode.bits) << "mode changed by the call";
    }
    X87SetControlWord(saved);
}
