// The images' headers: machine, subsystem, no link time, the stack that
// every thread gets by default (1 MiB reserved, 4096 bytes committed), and
// what the loader is told about the image.
#include <optional>

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

// The checksum as the system computes it: 16-bit words summed with their
// carries folded back, the checksum field itself left out, plus the length.
uint32_t FileChecksum(const image::PeImage& pe)
{
    uint64_t sum = 0;
    for (size_t at = 0; at < pe.file.size(); at += 2) {
        if (at >= pe.checksumOffset && at < pe.checksumOffset + 4) continue;
        sum += pe.file[at] | (at + 1 < pe.file.size() ? pe.file[at + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return uint32_t(((sum & 0xFFFF) + (sum >> 16)) & 0xFFFF) + uint32_t(pe.file.size());
}

// A loaded image at an address of the system's choosing (relocations kept),
// never writable and executable at once; on the PE32 no structured exception
// handler the system would call (the code installs no frame through fs:0).
TEST_P(BothImagesTest, LoaderFlagsAndSectionsHardenTheImage)
{
    bool port = GetParam() == Which::PORT;
    struct Flag {
        const char* name;
        uint16_t bit;
        std::optional<bool> pe32, onPort;  // no value: either
    } flags[] = {
        {"DYNAMIC_BASE (ASLR)", 0x0040, true, true},
        {"NX_COMPAT (DEP)", 0x0100, true, true},
        {"HIGH_ENTROPY_VA", 0x0020, std::nullopt, true},
        {"NO_SEH", 0x0400, true, std::nullopt},
        {"TERMINAL_SERVER_AWARE", 0x8000, true, true},
    };
    for (const Flag& f : flags) {
        std::optional<bool> expected = port ? f.onPort : f.pe32;
        if (expected) {
            EXPECT_EQ((Pe().dllCharacteristics & f.bit) != 0, *expected) << f.name;
        }
    }
    EXPECT_EQ(Pe().fileCharacteristics & 0x0001, 0) << "relocations stripped";
    ASSERT_GT(Pe().directories.size(), 5u);
    EXPECT_NE(Pe().directories[5].second, 0u) << "no base relocations";
    for (const image::Section& s : Pe().sections)
        EXPECT_NE(s.characteristics & 0xA0000000u, 0xA0000000u) << s.name << " is writable and executable";
    EXPECT_EQ(Pe().U32(Pe().checksumOffset), FileChecksum(Pe())) << "checksum";
}

}  // namespace
