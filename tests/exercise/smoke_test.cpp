#include <gtest/gtest.h>

#include "exercise/blocks.h"

TEST(ExerciseSmoke, ShortBlockRunsAndReturns)
{
    ShortBlock();
    SUCCEED();
}
