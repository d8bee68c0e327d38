// Full paths are built from GetSystemDirectoryA on every load rather than
// kept from start-up: loads are few, and no caller then depends on an
// initialiser having run. LOAD_WITH_ALTERED_SEARCH_PATH makes the loader
// look for the library's own dependencies beside it, in the system folder,
// instead of beside the program; LoadLibraryExA and the flag exist on every
// Windows the program runs on.
//
// A full path protects only our own loads: a system library may itself load
// another by bare name at run time (the loader's trace shows one such load,
// the theme library, taken as the common controls start). Where the system
// offers it, the default search of the whole process is therefore narrowed
// to the system folder first, before any library is loaded. Windows before 8
// (7 without its update for it) lacks SetDefaultDllDirectories; there each
// library that is loaded by bare name after the entry point is loaded first
// by its full path and kept, since the loader hands a bare-name load the
// module of that name it already has.
#include "runtime/process/system_library.h"

#include <string.h>

TimeBeginPeriodRoutine TimeBeginPeriodEntry;
InitCommonControlsExRoutine InitCommonControlsExEntry;

HMODULE SystemLibraryLoad(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    size_t nameLength = strlen(name);
    // 0 is a failure; a length of the buffer or more is the size it needs.
    if (length == 0 || length >= sizeof path || length + 1 + nameLength >= sizeof path)
        return nullptr;
    if (path[length - 1] != '\\')
        path[length++] = '\\';
    memcpy(path + length, name, nameLength + 1);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

typedef BOOL(WINAPI* SetDefaultDllDirectoriesRoutine)(DWORD flags);

// What system libraries load by bare name once the program runs, from the
// loader's trace of a whole run (Wine's display driver aside, which Windows
// has not).
static const char* const SYSTEM_LIBRARY_BARE_LOADS[] = {"uxtheme.dll"};

void SystemImportsInit()
{
    HMODULE kernel = SystemLibraryLoad("Kernel32.dll");
    auto setDefault = kernel ? SystemEntry<SetDefaultDllDirectoriesRoutine>(kernel, "SetDefaultDllDirectories")
                             : nullptr;
    bool narrowed = setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (kernel)
        FreeLibrary(kernel);
    // Kept to the end: a later bare-name load must find them loaded.
    if (!narrowed)
        for (const char* name : SYSTEM_LIBRARY_BARE_LOADS)
            SystemLibraryLoad(name);
    // Neither library is ever freed: their entries are used until the end.
    HMODULE timer = SystemLibraryLoad("winmm.dll");
    TimeBeginPeriodEntry = timer ? SystemEntry<TimeBeginPeriodRoutine>(timer, "timeBeginPeriod") : nullptr;
    HMODULE controls = SystemLibraryLoad("COMCTL32.DLL");
    InitCommonControlsExEntry =
        controls ? SystemEntry<InitCommonControlsExRoutine>(controls, "InitCommonControlsEx") : nullptr;
}
