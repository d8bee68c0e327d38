// Options of the host-side tests: --image=PATH --map=PATH.
#include <gtest/gtest.h>

#include <string>

std::string ImagePath;
std::string MapPath;

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--image=", 0) == 0) ImagePath = arg.substr(8);
        if (arg.rfind("--map=", 0) == 0) MapPath = arg.substr(6);
    }
    return RUN_ALL_TESTS();
}
