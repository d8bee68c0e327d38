// The visual-styles decision against a table of systems, through fake
// sources that record what they were asked; then the probe on this system;
// then loads from the system folder, which must never take a library from
// anywhere else.
#include <gtest/gtest.h>

#include <string>

#include "import_slot.h"
#include "runtime/process/library_probe.h"
#include "runtime/process/system_library.h"

IMPORT_SLOT(GetSystemDirectoryA, 8);

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

std::string SystemFolder()
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    return std::string(path, length);
}

std::string ModulePath(HMODULE module)
{
    char path[MAX_PATH];
    return std::string(path, GetModuleFileNameA(module, path, sizeof path));
}

// A copy of a system library under a name the system folder lacks, beside
// this program and in its current folder: a bare-name load finds it there,
// a load from the system folder must not.
TEST(SystemLibraryLoad, TakesLibrariesFromTheSystemFolderOnly)
{
    const std::string system = SystemFolder();
    HMODULE imaging = SystemLibraryLoad("msimg32.dll");
    ASSERT_NE(imaging, nullptr);
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ModulePath(imaging).c_str(), -1,
                             (system + "\\msimg32.dll").c_str(), -1), CSTR_EQUAL)
        << ModulePath(imaging);
    FreeLibrary(imaging);

    char program[MAX_PATH];
    std::string folder(program, GetModuleFileNameA(nullptr, program, sizeof program));
    folder.resize(folder.rfind('\\') + 1);
    const std::string copies[] = {folder + "norvane_planted_probe.dll", "norvane_planted_probe.dll"};
    for (const std::string& copy : copies)
        ASSERT_TRUE(CopyFileA((system + "\\msimg32.dll").c_str(), copy.c_str(), FALSE)) << copy;
    HMODULE bare = LoadLibraryA("norvane_planted_probe.dll");
    EXPECT_NE(bare, nullptr) << "the copy is not where a bare name is looked for";
    if (bare)
        FreeLibrary(bare);
    EXPECT_EQ(SystemLibraryLoad("norvane_planted_probe.dll"), nullptr);
    for (const std::string& copy : copies)
        DeleteFileA(copy.c_str());
}

// What no full path can be made for fails instead of falling back to the
// bare name: a system folder that cannot be read, a path that would not fit.
UINT WINAPI NoSystemFolder(LPSTR, UINT)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

UINT WINAPI SystemFolderTooLong(LPSTR, UINT)
{
    return MAX_PATH + 1;  // the size it would need
}

TEST(SystemLibraryLoad, FailsWithoutAFullPath)
{
    {
        ImportSlotScope scope(&__imp_GetSystemDirectoryA, (void*)NoSystemFolder);
        EXPECT_EQ(SystemLibraryLoad("msimg32.dll"), nullptr) << "no system folder";
    }
    {
        ImportSlotScope scope(&__imp_GetSystemDirectoryA, (void*)SystemFolderTooLong);
        EXPECT_EQ(SystemLibraryLoad("msimg32.dll"), nullptr) << "a system folder longer than MAX_PATH";
    }
    std::string longName(MAX_PATH - SystemFolder().size() - 1, 'x');
    EXPECT_EQ(SystemLibraryLoad(longName.c_str()), nullptr) << "a path one character too long";
    HMODULE imaging = SystemLibraryLoad("msimg32.dll");
    EXPECT_NE(imaging, nullptr) << "the slot was not put back";
    if (imaging)
        FreeLibrary(imaging);
}

}  // namespace
