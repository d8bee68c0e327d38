// The visual-styles decision against a table of systems, through fake
// sources that record what they were asked; then the probe on this system.
#include <gtest/gtest.h>

#include "runtime/process/library_probe.h"

namespace {

struct SystemCase {
    const char* name;
    bool versionKnown;      // GetVersionExA succeeds
    DWORD platform;
    DWORD major;
    DWORD minor;
    uint32_t commonControls;
    int32_t themed;
    int32_t expected;
    bool probes;            // the common-controls and theme sources are asked
};

const SystemCase SYSTEM_CASES[] = {
    {"platform 1 (9x), styled and themed", true, 1, 4, 10, 0x60000, 1, 0, false},
    {"platform 2 below 5", true, 2, 4, 0, 0x60000, 1, 0, false},
    {"platform 2 below 5, large minor", true, 2, 4, 90, 0x60000, 1, 0, false},
    {"exactly 5.0", true, 2, 5, 0, 0x60000, 1, 0, false},
    {"5.1, controls 5.81, themed", true, 2, 5, 1, 0x50051, 1, 0, true},
    {"5.1, controls just below 6.0, themed", true, 2, 5, 1, 0x5FFFF, 1, 0, true},
    {"5.1, controls 6.0, themed", true, 2, 5, 1, 0x60000, 1, 1, true},
    {"6.1, controls 6.10, not themed", true, 2, 6, 1, 0x6000A, 0, 0, true},
    {"6.1, controls unknown, themed", true, 2, 6, 1, COMMON_CONTROLS_UNKNOWN, 1, 0, true},
    {"10.0, controls 6.16, themed", true, 2, 10, 0, 0x60010, 1, 1, true},
    {"other platform, 3.1, styled and themed", true, 0, 3, 1, 0x60000, 1, 1, true},
    {"version query fails, styled and themed", false, 1, 4, 0, 0x60000, 1, 1, true},
    {"version query fails, controls 5.81", false, 1, 4, 0, 0x50051, 1, 0, true},
    {"themed reported as another non-zero value", true, 2, 6, 1, 0x60000, 7, 1, true},
};

const SystemCase* Current;
int VersionAsks, ControlsAsks, ThemeAsks;
DWORD SizeSeen;

bool FakeVersion(OSVERSIONINFOA* info)
{
    ++VersionAsks;
    SizeSeen = info->dwOSVersionInfoSize;
    if (!Current->versionKnown)
        return false;
    info->dwPlatformId = Current->platform;
    info->dwMajorVersion = Current->major;
    info->dwMinorVersion = Current->minor;
    return true;
}

uint32_t FakeControls()
{
    ++ControlsAsks;
    return Current->commonControls;
}

int32_t FakeThemed()
{
    ++ThemeAsks;
    return Current->themed;
}

const VisualStylesSources FAKE_SOURCES = {FakeVersion, FakeControls, FakeThemed};

TEST(VisualStylesDecide, FollowsTheSystemTable)
{
    for (const SystemCase& c : SYSTEM_CASES) {
        Current = &c;
        VersionAsks = ControlsAsks = ThemeAsks = 0;
        SizeSeen = 0;
        EXPECT_EQ(VisualStylesDecide(&FAKE_SOURCES), c.expected) << c.name;
        EXPECT_EQ(VersionAsks, 1) << c.name;
        EXPECT_EQ(SizeSeen, 148u) << c.name;
        EXPECT_EQ(ControlsAsks, c.probes ? 1 : 0) << c.name;
        EXPECT_EQ(ThemeAsks, c.probes ? 1 : 0) << c.name;
    }
}

bool ModuleLoaded(const char* name)
{
    return GetModuleHandleA(name) != nullptr;
}

// Wine reports 6.1, common controls 5.81 without a manifest, and a themed
// application: the probe runs and finds the controls too old.
TEST(LibraryProbe, KeepsTheImagingLibraryUntilReleased)
{
    // (Whether the theme library is freed cannot be seen from inside: once
    // loaded, Wine keeps it for user32's theming hooks.)
    bool imagingBefore = ModuleLoaded("msimg32.dll");

    LibraryProbe();
    ASSERT_NE(ImagingLibrary, nullptr);
    EXPECT_EQ(AlphaBlendEntry, GetProcAddress(ImagingLibrary, "AlphaBlend"));
    EXPECT_NE(AlphaBlendEntry, nullptr);
    EXPECT_EQ(VisualStylesActive, 0);
    EXPECT_TRUE(ModuleLoaded("msimg32.dll"));

    LibraryRelease();
    EXPECT_EQ(ImagingLibrary, nullptr);
    EXPECT_EQ(AlphaBlendEntry, nullptr);
    EXPECT_EQ(ModuleLoaded("msimg32.dll"), imagingBefore) << "the imaging library is not freed";

    // A second release must not free a library some other part still holds.
    HMODULE held = LoadLibraryA("msimg32.dll");
    ASSERT_NE(held, nullptr);
    LibraryRelease();
    EXPECT_TRUE(ModuleLoaded("msimg32.dll"));
    FreeLibrary(held);
}

}  // namespace
