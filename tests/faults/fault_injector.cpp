// The fault injector: a library that fault_launch.cpp loads into an
// unchanged Norvane.exe after every import slot of the image has been bound
// and before the image's entry point runs; our DllMain then rewrites those
// slots. (The image takes no library from its own folder, so a stand-in
// beside it would never be loaded.)
//
// Each slot of a function in fault_table.h gets a typed wrapper that counts
// the call and, when the plan says so, returns the documented failure result
// with a last error instead of calling the system. Every other import gets a
// counting thunk that jumps on to the system's routine untouched. Entry
// points the program asks GetProcAddress for are wrapped the same way.
// Only the image's own calls pass through here: the system libraries' calls
// among themselves do not.
//
// The plan comes from NORVANE_FAULTS:
//   census                   count every call, log each failable call's site
//   once:NAME:N              the N-th call of NAME fails, the others pass
//   from:NAME:N              every call of NAME from the N-th on fails
//   site:NAME:OFFSET         the first call of NAME from the return address
//                            image base + OFFSET (hex) fails
//   random:SEED:PERCENT      each failable call fails with that chance; the
//                            same seed fails the same calls in the same order
// and the log goes to NORVANE_FAULT_LOG: "call NAME +OFFSET" (census),
// "fail NAME +OFFSET N" for each injected failure, "count NAME N" for every
// import at process exit, and "crash CODE +OFFSET" for an unhandled
// exception, after which the process ends with exit code 99.
#include <windows.h>

#include <commctrl.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <type_traits>

#include "fault_table.h"

namespace {

enum FaultMode { MODE_OFF, MODE_CENSUS, MODE_ONCE, MODE_FROM, MODE_SITE, MODE_RANDOM };

struct FaultPlan {
    FaultMode mode;
    char name[64];
    LONG nth;
    uintptr_t site;
    unsigned seed;
    unsigned percent;
};

struct FaultEntry {
    const char* name;
    void* wrapper;
    intptr_t value;
    DWORD error;
    void* original;
    volatile LONG calls;
    volatile LONG siteCalls;
};

FaultPlan Plan;
HANDLE Log = INVALID_HANDLE_VALUE;
CRITICAL_SECTION LogLock;
uintptr_t ImageBase;
volatile LONG RandomCalls;

void LogLine(const char* format, ...)
{
    if (Log == INVALID_HANDLE_VALUE)
        return;
    char line[160];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length <= 0)
        return;
    if (length >= (int)sizeof line)
        length = sizeof line - 1;
    DWORD written;
    EnterCriticalSection(&LogLock);
    WriteFile(Log, line, (DWORD)length, &written, nullptr);
    LeaveCriticalSection(&LogLock);
}

// A call's place in the image: its return address less the image base.
uintptr_t SiteOf(void* returnAddress) { return (uintptr_t)returnAddress - ImageBase; }

// A fixed mix of seed and call index: the same seed fails the same calls.
bool RandomHit(unsigned index)
{
    unsigned long long x = ((unsigned long long)Plan.seed << 32) ^ index;
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return (unsigned)(x % 100) < Plan.percent;
}

bool Decide(FaultEntry& entry, void* returnAddress)
{
    LONG n = InterlockedIncrement(&entry.calls);
    uintptr_t site = SiteOf(returnAddress);
    bool fail = false;
    switch (Plan.mode) {
    case MODE_CENSUS:
        LogLine("call %s +%lx\n", entry.name, (unsigned long)site);
        break;
    case MODE_ONCE:
        fail = n == Plan.nth && strcmp(entry.name, Plan.name) == 0;
        break;
    case MODE_FROM:
        fail = n >= Plan.nth && strcmp(entry.name, Plan.name) == 0;
        break;
    case MODE_SITE:
        fail = site == Plan.site && strcmp(entry.name, Plan.name) == 0 &&
               InterlockedIncrement(&entry.siteCalls) == 1;
        break;
    case MODE_RANDOM:
        fail = RandomHit((unsigned)InterlockedIncrement(&RandomCalls));
        break;
    case MODE_OFF:
        break;
    }
    if (fail)
        LogLine("fail %s +%lx %ld\n", entry.name, (unsigned long)site, n);
    return fail;
}

template <typename R>
R FailureResult(intptr_t value)
{
    if constexpr (std::is_pointer_v<R>)
        return reinterpret_cast<R>(value);
    else
        return static_cast<R>(value);
}

// One wrapper per table entry, with the wrapped function's own type (and on
// IA-32 its stdcall convention), so that arguments pass through untouched.
template <FaultEntry* ENTRY, typename F>
struct Hook;

template <FaultEntry* ENTRY, typename R, typename... A>
struct Hook<ENTRY, R(WINAPI*)(A...)> {
    static R WINAPI Call(A... args)
    {
        if (Decide(*ENTRY, __builtin_return_address(0))) {
            SetLastError(ENTRY->error);
            return FailureResult<R>(ENTRY->value);
        }
        return reinterpret_cast<R(WINAPI*)(A...)>(ENTRY->original)(args...);
    }
};

#define FAULT_ENTRY_DECLARE(name, ...) FaultEntry Entry_##name;
FAULT_IMPORTS(FAULT_ENTRY_DECLARE)
#define FAULT_LOOKUP_DECLARE(name, type, ...) FaultEntry Lookup_##name;
FAULT_LOOKUPS(FAULT_LOOKUP_DECLARE)
FaultEntry Entry_GetProcAddress;

#define FAULT_ENTRY_FILL(name, value, error) \
    {#name, (void*)&Hook<&Entry_##name, decltype(&::name)>::Call, (intptr_t)(value), (error), nullptr, 0, 0},
#define FAULT_LOOKUP_FILL(name, type, value, error) \
    {#name, (void*)&Hook<&Lookup_##name, type>::Call, (intptr_t)(value), (error), nullptr, 0, 0},

FaultEntry* const IMPORTS[] = {
#define FAULT_ENTRY_POINTER(name, ...) &Entry_##name,
    FAULT_IMPORTS(FAULT_ENTRY_POINTER) & Entry_GetProcAddress,
};
FaultEntry* const LOOKUPS[] = {
#define FAULT_LOOKUP_POINTER(name, ...) &Lookup_##name,
    FAULT_LOOKUPS(FAULT_LOOKUP_POINTER)};

FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name)
{
    if (Decide(Entry_GetProcAddress, __builtin_return_address(0))) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    FARPROC found = GetProcAddress(module, name);
    if (!found || (uintptr_t)name < 0x10000)
        return found;
    for (FaultEntry* entry : LOOKUPS) {
        if (strcmp(entry->name, name) == 0) {
            entry->original = (void*)found;
            return (FARPROC)entry->wrapper;
        }
    }
    return found;
}

void FillEntries()
{
    static const FaultEntry imports[] = {FAULT_IMPORTS(FAULT_ENTRY_FILL)};
    static const FaultEntry lookups[] = {FAULT_LOOKUPS(FAULT_LOOKUP_FILL)};
    for (size_t i = 0; i < sizeof imports / sizeof imports[0]; ++i)
        *IMPORTS[i] = imports[i];
    for (size_t i = 0; i < sizeof lookups / sizeof lookups[0]; ++i)
        *LOOKUPS[i] = lookups[i];
    Entry_GetProcAddress = {"GetProcAddress", (void*)&HookGetProcAddress, 0, ERROR_PROC_NOT_FOUND,
                            nullptr, 0, 0};
}

// A counting thunk for an import that cannot fail: "lock inc dword [count];
// jmp [target]", which leaves every register but the flags as the caller set
// them, whatever the function's convention.
struct CountThunk {
    unsigned char code[16];
    volatile LONG count;
    void* target;
    const char* name;
};

CountThunk* Thunks;
size_t ThunkCount;

void* MakeThunk(CountThunk& thunk, const char* name, void* target)
{
    thunk.name = name;
    thunk.target = target;
    unsigned char* p = thunk.code;
    uintptr_t count = (uintptr_t)&thunk.count;
    uintptr_t slot = (uintptr_t)&thunk.target;
#ifdef _WIN64
    // Both operands are addressed relative to the next instruction.
    uint32_t countRel = (uint32_t)(count - ((uintptr_t)p + 7));
    uint32_t slotRel = (uint32_t)(slot - ((uintptr_t)p + 13));
#else
    uint32_t countRel = (uint32_t)count;
    uint32_t slotRel = (uint32_t)slot;
#endif
    p[0] = 0xF0, p[1] = 0xFF, p[2] = 0x05;  // lock inc dword [count]
    memcpy(p + 3, &countRel, 4);
    p[7] = 0xFF, p[8] = 0x25;  // jmp [target]
    memcpy(p + 9, &slotRel, 4);
    p[13] = p[14] = p[15] = 0xCC;
    return thunk.code;
}

FaultEntry* FindEntry(const char* name)
{
    for (FaultEntry* entry : IMPORTS)
        if (strcmp(entry->name, name) == 0)
            return entry;
    return nullptr;
}

void WriteSlot(void** slot, void* value)
{
    DWORD old;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

// Walks the image's import directory and points every slot imported by name
// at a wrapper or a counting thunk.
void RewriteImports()
{
    auto* dos = (IMAGE_DOS_HEADER*)ImageBase;
    auto* nt = (IMAGE_NT_HEADERS*)(ImageBase + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
        return;
    auto* first = (IMAGE_IMPORT_DESCRIPTOR*)(ImageBase + directory.VirtualAddress);
    size_t total = 0;
    for (auto* d = first; d->Name; ++d)
        for (auto* t = (IMAGE_THUNK_DATA*)(ImageBase + d->OriginalFirstThunk); t->u1.AddressOfData; ++t)
            ++total;
    Thunks = (CountThunk*)VirtualAlloc(nullptr, total * sizeof(CountThunk), MEM_COMMIT | MEM_RESERVE,
                                       PAGE_EXECUTE_READWRITE);
    if (!Thunks)
        return;
    for (auto* d = first; d->Name; ++d) {
        auto* names = (IMAGE_THUNK_DATA*)(ImageBase + d->OriginalFirstThunk);
        auto* slots = (void**)(ImageBase + d->FirstThunk);
        for (size_t i = 0; names[i].u1.AddressOfData; ++i) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal))
                continue;
            auto* byName = (IMAGE_IMPORT_BY_NAME*)(ImageBase + names[i].u1.AddressOfData);
            const char* name = (const char*)byName->Name;
            FaultEntry* entry = FindEntry(name);
            if (entry) {
                entry->original = slots[i];
                WriteSlot(&slots[i], entry->wrapper);
            } else {
                WriteSlot(&slots[i], MakeThunk(Thunks[ThunkCount++], name, slots[i]));
            }
        }
    }
}

void WriteCounts()
{
    for (FaultEntry* entry : IMPORTS)
        if (entry->original)
            LogLine("count %s %ld\n", entry->name, entry->calls);
    for (FaultEntry* entry : LOOKUPS)
        if (entry->original)
            LogLine("count %s %ld\n", entry->name, entry->calls);
    for (size_t i = 0; i < ThunkCount; ++i)
        LogLine("count %s %ld\n", Thunks[i].name, Thunks[i].count);
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info)
{
    LogLine("crash %08lx +%lx\n", (unsigned long)info->ExceptionRecord->ExceptionCode,
            (unsigned long)SiteOf(info->ExceptionRecord->ExceptionAddress));
    TerminateProcess(GetCurrentProcess(), 99);
    return EXCEPTION_EXECUTE_HANDLER;
}

void ReadPlan()
{
    char text[160] = "";
    GetEnvironmentVariableA("NORVANE_FAULTS", text, sizeof text);
    char* colon = strchr(text, ':');
    char* rest = colon ? colon + 1 : text + strlen(text);
    if (colon)
        *colon = 0;
    char* second = strchr(rest, ':');
    if (second)
        *second++ = 0;
    Plan.mode = MODE_OFF;
    if (strcmp(text, "census") == 0) {
        Plan.mode = MODE_CENSUS;
    } else if (strcmp(text, "random") == 0 && second) {
        Plan.mode = MODE_RANDOM;
        Plan.seed = (unsigned)strtoul(rest, nullptr, 10);
        Plan.percent = (unsigned)strtoul(second, nullptr, 10);
    } else if (second && (strcmp(text, "once") == 0 || strcmp(text, "from") == 0 ||
                          strcmp(text, "site") == 0)) {
        Plan.mode = text[0] == 'o' ? MODE_ONCE : text[0] == 'f' ? MODE_FROM : MODE_SITE;
        snprintf(Plan.name, sizeof Plan.name, "%s", rest);
        Plan.nth = strtol(second, nullptr, 10);
        Plan.site = (uintptr_t)strtoull(second, nullptr, 16);
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&LogLock);
        char path[MAX_PATH];
        if (GetEnvironmentVariableA("NORVANE_FAULT_LOG", path, sizeof path))
            Log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ImageBase = (uintptr_t)GetModuleHandleA(nullptr);
        ReadPlan();
        FillEntries();
        RewriteImports();
        SetUnhandledExceptionFilter(ReportCrash);
    } else if (reason == DLL_PROCESS_DETACH) {
        WriteCounts();
    }
    return TRUE;
}
