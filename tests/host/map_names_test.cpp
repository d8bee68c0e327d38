// Link-map names in both spellings the linker may print (demangled or raw
// i386 symbols), so the image tests find the same routines either way.
#include <gtest/gtest.h>

#include "image_reader.h"

namespace {

TEST(MapNames, RawAndDemangledSpellingsMeetInOneName)
{
    struct { const char* raw; const char* name; bool import; } cases[] = {
        {"MainSequence", "MainSequence", false},
        {"_MainSequence", "MainSequence", false},
        {"LaunchWorkers()", "LaunchWorkers", false},
        {"__Z13LaunchWorkersv", "LaunchWorkers", false},
        {"WorkerRoutine@4", "WorkerRoutine", false},
        {"_WorkerRoutine@4", "WorkerRoutine", false},
        {"ThreadCreate(unsigned long ( stdcall*)(void*), int)", "ThreadCreate", false},
        {"__Z12ThreadCreatePFmPvEi", "ThreadCreate", false},
        {"_imp__Sleep@4", "Sleep", true},
        {"__imp__ExitProcess@4", "ExitProcess", true},
        {"_Pause", "Pause", false},
    };
    for (auto& c : cases) {
        bool import = !c.import;
        EXPECT_EQ(image::CanonicalName(c.raw, &import), c.name) << c.raw;
        EXPECT_EQ(import, c.import) << c.raw;
    }
}

}  // namespace
