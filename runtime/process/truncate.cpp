// The x87 unit converts in its current rounding mode (to nearest unless
// someone changed it); the result is then moved one step toward zero when that
// conversion went away from zero, i.e. when x - result is non-zero with the
// opposite sign to x. Only the sign of the difference matters, so the rounding
// and precision of the subtraction cannot spoil it: a non-zero exact
// difference never rounds to zero or changes sign. NaN compares false both
// ways and keeps the integer-indefinite value; out-of-range values keep it too,
// because their difference to INT64_MIN has the sign of x.
#include "runtime/process/truncate.h"

static int64_t X87Convert(double x)
{
    int64_t result;
    // fistp pops the operand that "t" placed in st(0).
    asm volatile("fistpll %0" : "=m"(result) : "t"(x) : "st");
    return result;
}

int64_t TruncateToInteger(double x)
{
    int64_t result = X87Convert(x);
    // long double is the x87 extended format on both targets.
    long double difference = (long double)x - (long double)result;
    if (x > 0 && difference < 0)
        result -= 1;
    else if (x < 0 && difference > 0)
        result += 1;
    return result;
}
