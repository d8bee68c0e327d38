// Starts an unchanged image with a library loaded into it before its entry
// point runs, the way the fault injector gets in now that no library beside
// the image is ever taken:
//
//   fault_launch LIBRARY IMAGE
//
// The image is started suspended, in a job that ends it when this launcher
// ends (so that killing the launcher kills the program too). Its main
// thread's start address (the entry point, in eax on IA-32 and rcx on x64 of
// the suspended thread, checked against the image's header) is replaced by a
// stub in the new process that calls LoadLibraryA(LIBRARY) and then jumps to
// the entry point with every argument as it was. By then the loader has bound
// all of the image's imports, as it had when the injector was itself an
// import. A library that does not load ends the program with exit code 98.
// The launcher waits and exits with the program's exit code; 97 when it could
// not start or prepare the program.
//
// kernel32 lies at the same address in every process of a session, so the
// launcher's own LoadLibraryA and ExitProcess are the program's too.
#include <windows.h>
#include <winternl.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

namespace {

constexpr DWORD LAUNCH_FAILED = 97;
constexpr uint8_t LIBRARY_MISSING = 98;

int Fail(const char* what)
{
    fprintf(stderr, "fault_launch: %s (error %lu)\n", what, GetLastError());
    return LAUNCH_FAILED;
}

// The stub, assembled for this width: LoadLibraryA(path); on null,
// ExitProcess(98); else on to the entry point.
size_t StubWrite(uint8_t* code, uintptr_t path, uintptr_t entry)
{
    auto loadLibrary = (uintptr_t)&LoadLibraryA;
    auto exitProcess = (uintptr_t)&ExitProcess;
    uint8_t* p = code;
    auto put = [&p](std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) *p++ = b;
    };
    auto word = [&p](uintptr_t value) {
        memcpy(p, &value, sizeof value);
        p += sizeof value;
    };
#ifdef _WIN64
    put({0x51});                    // push rcx (the entry's argument; aligns the stack)
    put({0x48, 0x83, 0xEC, 0x20});  // sub rsp, 32 (the callee's home area)
    put({0x48, 0xB9}), word(path);  // mov rcx, path
    put({0x48, 0xB8}), word(loadLibrary);  // mov rax, LoadLibraryA
    put({0xFF, 0xD0});              // call rax
    put({0x48, 0x85, 0xC0});        // test rax, rax
    put({0x75, 0x11});              // jnz over the exit
    put({0xB9, LIBRARY_MISSING, 0, 0, 0});  // mov ecx, 98
    put({0x48, 0xB8}), word(exitProcess);   // mov rax, ExitProcess
    put({0xFF, 0xD0});              // call rax
    put({0x48, 0x83, 0xC4, 0x20});  // add rsp, 32
    put({0x59});                    // pop rcx
    put({0x48, 0xB8}), word(entry);  // mov rax, entry
    put({0xFF, 0xE0});              // jmp rax
#else
    put({0x68}), word(path);         // push path
    put({0xB8}), word(loadLibrary);  // mov eax, LoadLibraryA
    put({0xFF, 0xD0});               // call eax (stdcall: pops the path)
    put({0x85, 0xC0});               // test eax, eax
    put({0x75, 0x09});               // jnz over the exit
    put({0x6A, LIBRARY_MISSING});    // push 98
    put({0xB8}), word(exitProcess);  // mov eax, ExitProcess
    put({0xFF, 0xD0});               // call eax
    put({0xB8}), word(entry);        // mov eax, entry
    put({0xFF, 0xE0});               // jmp eax
#endif
    return (size_t)(p - code);
}

// The image's entry point in the new process, from its PEB and headers.
uintptr_t EntryOf(HANDLE process)
{
    typedef NTSTATUS(NTAPI * QueryRoutine)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    auto query = (QueryRoutine)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                     "NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) < 0)
        return 0;
    // ImageBaseAddress follows two pointer-sized fields of the PEB.
    uintptr_t base = 0;
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS nt = {};
    if (!ReadProcessMemory(process, (char*)basic.PebBaseAddress + 2 * sizeof(void*), &base,
                           sizeof base, nullptr) ||
        !ReadProcessMemory(process, (void*)base, &dos, sizeof dos, nullptr) ||
        !ReadProcessMemory(process, (char*)base + dos.e_lfanew, &nt, sizeof nt, nullptr))
        return 0;
    return base + nt.OptionalHeader.AddressOfEntryPoint;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: fault_launch LIBRARY IMAGE\n");
        return LAUNCH_FAILED;
    }
    char library[MAX_PATH];
    if (!GetFullPathNameA(argv[1], sizeof library, library, nullptr))
        return Fail("no full path for the library");
    char command[MAX_PATH + 3];
    snprintf(command, sizeof command, "\"%s\"", argv[2]);

    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return Fail("no job");

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(argv[2], command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &child))
        return Fail("cannot start the image");
    auto abandon = [&child](const char* what) {
        int code = Fail(what);
        TerminateProcess(child.hProcess, LAUNCH_FAILED);
        return code;
    };
    if (!AssignProcessToJobObject(job, child.hProcess))
        return abandon("cannot put the image in the job");

    CONTEXT context = {};
    context.ContextFlags = CONTEXT_INTEGER;
    if (!GetThreadContext(child.hThread, &context))
        return abandon("no context of the main thread");
#ifdef _WIN64
    DWORD64& start = context.Rcx;
#else
    DWORD& start = context.Eax;
#endif
    uintptr_t entry = EntryOf(child.hProcess);
    if (!entry || start != entry)
        return abandon("the main thread does not start at the image's entry point");

    uint8_t block[256] = {};
    size_t pathAt = 128;
    memcpy(block + pathAt, library, strlen(library) + 1);
    auto* remote = (uint8_t*)VirtualAllocEx(child.hProcess, nullptr, sizeof block, MEM_COMMIT | MEM_RESERVE,
                                            PAGE_EXECUTE_READWRITE);
    if (!remote)
        return abandon("no memory in the image's process");
    StubWrite(block, (uintptr_t)(remote + pathAt), entry);
    if (!WriteProcessMemory(child.hProcess, remote, block, sizeof block, nullptr))
        return abandon("cannot write the stub");
    start = (uintptr_t)remote;
    if (!SetThreadContext(child.hThread, &context))
        return abandon("cannot point the main thread at the stub");

    ResumeThread(child.hThread);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = LAUNCH_FAILED;
    GetExitCodeProcess(child.hProcess, &code);
    return (int)code;
}
