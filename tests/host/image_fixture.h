// The images and link maps under test, each loaded once per run: the PE32
// (--image=, --map=), which most tests read, and the 64-bit port
// (--port-image=, --port-map=), which the tests of BothImagesTest read too.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "image_reader.h"

extern std::string ImagePath, MapPath, PortImagePath, PortMapPath;

enum class Which { PE32, PORT };

class ImageTest : public testing::Test {
protected:
    struct Loaded {
        image::PeImage pe;
        image::LinkMap map;
        std::string error;
    };

    static const Loaded& Get(Which which)
    {
        static const Loaded pe32 = Load(ImagePath, MapPath), port = Load(PortImagePath, PortMapPath);
        return which == Which::PORT ? port : pe32;
    }

    static Loaded Load(const std::string& imagePath, const std::string& mapPath)
    {
        Loaded l;
        if (l.pe.Load(imagePath, &l.error)) l.map.Load(mapPath, &l.error);
        return l;
    }

    virtual Which Image() const { return Which::PE32; }

    void SetUp() override
    {
        bool port = Image() == Which::PORT;
        ASSERT_EQ(Get(Image()).error, "") << "image " << (port ? PortImagePath : ImagePath) << ", map "
                                          << (port ? PortMapPath : MapPath);
    }

    const image::PeImage& Pe() const { return Get(Image()).pe; }
    const image::LinkMap& Map() const { return Get(Image()).map; }

    struct Routine {
        uint32_t start = 0, end = 0;
        image::Bytes bytes;
    };

    // A routine's bytes from its map address to the next symbol.
    Routine RoutineNamed(const std::string& name) const
    {
        Routine r;
        auto at = Map().Address(name);
        if (!at) {
            ADD_FAILURE() << name << " is not named exactly once in the map";
            return r;
        }
        r.start = *at;
        r.end = Map().RoutineEnd(r.start);
        if (r.end == UINT32_MAX || r.end <= r.start) {
            ADD_FAILURE() << "no end found for " << name;
            return r;
        }
        r.bytes = Pe().Read(r.start, r.end - r.start);
        if (r.bytes.empty()) ADD_FAILURE() << name << " is not in the file's sections";
        return r;
    }
};

// A test of both images: TEST_P(BothImagesTest, ...).
class BothImagesTest : public ImageTest, public testing::WithParamInterface<Which> {
protected:
    Which Image() const override { return GetParam(); }
};
