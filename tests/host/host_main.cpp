// Options of the host-side tests: --image=PATH --map=PATH for the PE32,
// --port-image=PATH --port-map=PATH for the 64-bit port.
#include <gtest/gtest.h>

#include <string>

#include "image_fixture.h"

std::string ImagePath, MapPath, PortImagePath, PortMapPath;

// Every TEST_P(BothImagesTest, ...) of this program runs once per image.
INSTANTIATE_TEST_SUITE_P(Images, BothImagesTest, testing::Values(Which::PE32, Which::PORT),
                         [](const testing::TestParamInfo<Which>& i) { return i.param == Which::PORT ? "port" : "pe32"; });

static bool Option(const std::string& arg, const std::string& name, std::string* value)
{
    if (arg.rfind(name, 0) != 0) return false;
    *value = arg.substr(name.size());
    return true;
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        Option(arg, "--image=", &ImagePath) || Option(arg, "--map=", &MapPath) ||
            Option(arg, "--port-image=", &PortImagePath) || Option(arg, "--port-map=", &PortMapPath);
    }
    return RUN_ALL_TESTS();
}
