// The image and link map under test (--image=, --map=), loaded once per run.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "image_reader.h"

extern std::string ImagePath;
extern std::string MapPath;

class ImageTest : public testing::Test {
protected:
    struct Loaded {
        image::PeImage pe;
        image::LinkMap map;
        std::string error;
    };

    static const Loaded& Get()
    {
        static const Loaded loaded = [] {
            Loaded l;
            if (l.pe.Load(ImagePath, &l.error)) l.map.Load(MapPath, &l.error);
            return l;
        }();
        return loaded;
    }

    void SetUp() override { ASSERT_EQ(Get().error, "") << "image " << ImagePath << ", map " << MapPath; }

    const image::PeImage& Pe() const { return Get().pe; }
    const image::LinkMap& Map() const { return Get().map; }

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
