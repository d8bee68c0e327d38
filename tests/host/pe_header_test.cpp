// The images' headers: machine, subsystem, no link time, and the stack that
// every thread gets by default: 1 MiB reserved, 4096 bytes committed.
#include "image_fixture.h"

namespace {

TEST_P(BothImagesTest, HeaderNamesMachineSubsystemAndStack)
{
    bool port = GetParam() == Which::PORT;
    EXPECT_EQ(Pe().machine, port ? 0x8664u : 0x014Cu) << "machine";
    EXPECT_EQ(Pe().magic, port ? 0x020Bu : 0x010Bu) << "optional header";
    EXPECT_EQ(Pe().subsystem, 2u) << "Windows GUI subsystem";
    EXPECT_EQ(Pe().timestamp, 0u) << "no link timestamp";
    EXPECT_EQ(Pe().stackReserve, 0x100000u) << "stack reserved per thread";
    EXPECT_EQ(Pe().stackCommit, 0x1000u) << "stack committed at creation";
}

}  // namespace
