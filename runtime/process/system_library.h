// Libraries from the system folder only.
//
// A library asked for by bare name is looked for in the program's own folder
// first (and, when the system folders lack it, in the current folder and on
// PATH). The program is unpacked and run from wherever a user put it, so
// whoever can write to that folder could have a library of theirs run inside
// it. Every library the runtime loads is therefore named by its full path in
// the system folder, and the image imports only the libraries Windows always
// takes from there, its known DLLs (kernel32, user32, gdi32, msvcrt). The
// two entries the image would otherwise import from other libraries, winmm's
// timeBeginPeriod and comctl32's InitCommonControlsEx, are looked up by
// SystemImportsInit as the very first thing the entry routine does.
#pragma once

#include "runtime/base.h"

struct tagINITCOMMONCONTROLSEX;

typedef UINT(WINAPI* TimeBeginPeriodRoutine)(UINT period);
typedef BOOL(WINAPI* InitCommonControlsExRoutine)(const tagINITCOMMONCONTROLSEX* classes);

// winmm.dll's "timeBeginPeriod" and COMCTL32.DLL's "InitCommonControlsEx",
// or null when the library or the entry is missing. Both libraries stay
// loaded until the process ends, as imported libraries would.
extern TimeBeginPeriodRoutine TimeBeginPeriodEntry;
extern InitCommonControlsExRoutine InitCommonControlsExEntry;

// Loads name (a bare file name, "msimg32.dll") from the system folder, by
// its full path, with that folder searched first for the library's own
// dependencies. Null when the folder cannot be read, the path would not fit
// in MAX_PATH or the load fails: never a library from anywhere else.
HMODULE SystemLibraryLoad(const char* name);

// Narrows the process's search for libraries named by bare name to the
// system folder where the system can (SetDefaultDllDirectories, looked up);
// where it cannot, loads from there, and keeps, the libraries that system
// libraries load by bare name later on. Then loads the two libraries above
// and looks up their entries. Runs on the
// main thread before anything else, so that no later caller (a worker's
// first pause among them) does loader work.
void SystemImportsInit();

// GetProcAddress hands back a generic routine; the cast through void (*)()
// states that the caller knows the real type.
template <typename Routine>
Routine SystemEntry(HMODULE library, const char* name)
{
    return reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}
