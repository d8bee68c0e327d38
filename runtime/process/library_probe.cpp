// The probe's decision is separated from the places its facts come from: the
// decision (VisualStylesDecide) only calls through a table of sources, and
// LibraryProbe hands it the system's. The system sources each load their
// library from the system folder, ask one question and free it again, so that a library the
// decision never asks about is never loaded. Only the imaging library stays
// loaded, because its entry point is kept.
#include "runtime/process/library_probe.h"

#include "runtime/process/system_library.h"

HMODULE ImagingLibrary;
FARPROC AlphaBlendEntry;
int32_t VisualStylesActive;

namespace {

// The library's version record (shlwapi's DLLVERSIONINFO).
struct DllVersionInfo {
    DWORD size;
    DWORD majorVersion;
    DWORD minorVersion;
    DWORD buildNumber;
    DWORD platformId;
};
static_assert(sizeof(DllVersionInfo) == 20);
static_assert(sizeof(OSVERSIONINFOA) == 148);

typedef HRESULT(WINAPI* DllGetVersionRoutine)(DllVersionInfo* info);
typedef BOOL(WINAPI* IsAppThemedRoutine)();

}  // namespace

static bool SystemVersion(OSVERSIONINFOA* info)
{
    return GetVersionExA(info) != 0;
}

static uint32_t CommonControlsVersion()
{
    uint32_t version = COMMON_CONTROLS_UNKNOWN;
    HMODULE library = SystemLibraryLoad("COMCTL32.DLL");
    if (!library)
        return version;
    auto dllGetVersion = SystemEntry<DllGetVersionRoutine>(library, "DllGetVersion");
    if (dllGetVersion) {
        DllVersionInfo info = {};
        info.size = sizeof(info);
        if (dllGetVersion(&info) >= 0)
            version = (info.majorVersion & 0xFFFF) << 16 | (info.minorVersion & 0xFFFF);
    }
    FreeLibrary(library);
    return version;
}

static int32_t ApplicationThemed()
{
    HMODULE library = SystemLibraryLoad("uxtheme.dll");
    if (!library)
        return 0;
    int32_t themed = 0;
    auto isAppThemed = SystemEntry<IsAppThemedRoutine>(library, "IsAppThemed");
    if (isAppThemed)
        themed = isAppThemed() ? 1 : 0;
    FreeLibrary(library);
    return themed;
}

const VisualStylesSources SystemVisualStyles = {SystemVersion, CommonControlsVersion,
                                                ApplicationThemed};

int32_t VisualStylesProbe(const VisualStylesSources* sources)
{
    // Both questions are asked whatever the first answer: the theme library
    // is loaded once at start-up on every system that gets this far.
    uint32_t version = sources->commonControlsVersion();
    int32_t themed = sources->applicationThemed();
    return themed && version >= COMMON_CONTROLS_STYLED ? 1 : 0;
}

int32_t VisualStylesDecide(const VisualStylesSources* sources)
{
    int32_t active = 1;
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (sources->systemVersion(&info)) {
        if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
            return 0;
        if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
            if (info.dwMajorVersion < 5)
                return 0;
            if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0)
                active = 0;
        }
    }
    if (active)
        active = VisualStylesProbe(sources);
    return active;
}

void LibraryProbe()
{
    ImagingLibrary = SystemLibraryLoad("msimg32.dll");
    if (ImagingLibrary)
        AlphaBlendEntry = GetProcAddress(ImagingLibrary, "AlphaBlend");
    VisualStylesActive = VisualStylesDecide(&SystemVisualStyles);
}

void LibraryRelease()
{
    FreeLibrary(ImagingLibrary);
    // The entry point went with the library; a second release must not
    // free it again.
    ImagingLibrary = nullptr;
    AlphaBlendEntry = nullptr;
}
