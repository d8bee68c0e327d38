// The PE32 image's headers: machine, subsystem.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern std::string ImagePath;

namespace {

std::vector<uint8_t> ReadImage()
{
    std::ifstream in(ImagePath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) { uint32_t v; std::memcpy(&v, &b[at], 4); return v; }
uint16_t U16(const std::vector<uint8_t>& b, size_t at) { uint16_t v; std::memcpy(&v, &b[at], 2); return v; }

TEST(PeHeader, IsPe32ForI386WithGuiSubsystem)
{
    auto image = ReadImage();
    ASSERT_GT(image.size(), 0x400u) << ImagePath;
    ASSERT_EQ(image[0], 'M');
    uint32_t pe = U32(image, 0x3C);
    ASSERT_EQ(U32(image, pe), 0x00004550u);
    EXPECT_EQ(U16(image, pe + 4), 0x014Cu) << "machine i386";
    EXPECT_EQ(U16(image, pe + 24), 0x010Bu) << "PE32 optional header";
    EXPECT_EQ(U16(image, pe + 24 + 68), 2u) << "Windows GUI subsystem";
    EXPECT_EQ(U32(image, pe + 8), 0u) << "no link timestamp";
}

}  // namespace
