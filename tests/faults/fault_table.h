// The calls the injector can make fail: every function the images import
// whose documentation gives a failure result, with that result and a last
// error a failing system would plausibly set. Allocations, creations,
// registrations, waits, posts and property writes are all here.
//
// Left out on purpose (they are counted, never failed): functions without a
// failure result (void routines, ExitProcess, Sleep, the GetCurrent*
// pseudo-handles, the msvcrt string and memory routines), predicates and
// state queries whose "no" is an answer rather than a failure (IsWindow,
// IsChild, GetFocus, GetActiveWindow, GetKeyState, PeekMessageA), lookups
// whose null means "absent" (GetPropA, RemovePropA), message senders whose
// result is the receiver's (SendMessageA, DispatchMessageA, CallWindowProcA,
// DefWindowProcA, CallNextHookEx), and TlsGetValue, which fails only for an
// index that was never allocated.
//
// FAULT_IMPORTS(X): X(name, failure result, last error), imported by name.
// FAULT_LOOKUPS(X): X(name, type, failure result, last error), entry points
// the program asks GetProcAddress for.
#pragma once

#ifndef TIMERR_NOCANDO
#define TIMERR_NOCANDO 97
#endif

#define FAULT_IMPORTS_COMMON(X)                                   \
    X(CloseHandle, FALSE, ERROR_INVALID_HANDLE)                   \
    X(CreateSemaphoreA, 0, ERROR_NOT_ENOUGH_MEMORY)               \
    X(CreateThread, 0, ERROR_NOT_ENOUGH_MEMORY)                   \
    X(DuplicateHandle, FALSE, ERROR_NO_SYSTEM_RESOURCES)          \
    X(FreeLibrary, FALSE, ERROR_INVALID_HANDLE)                   \
    X(GetModuleHandleA, 0, ERROR_MOD_NOT_FOUND)                   \
    X(GetProcessAffinityMask, FALSE, ERROR_ACCESS_DENIED)         \
    X(GetThreadPriority, THREAD_PRIORITY_ERROR_RETURN, ERROR_INVALID_HANDLE) \
    X(GetVersionExA, FALSE, ERROR_INSUFFICIENT_BUFFER)            \
    X(HeapAlloc, 0, ERROR_NOT_ENOUGH_MEMORY)                      \
    X(HeapCreate, 0, ERROR_NOT_ENOUGH_MEMORY)                     \
    X(HeapDestroy, FALSE, ERROR_INVALID_HANDLE)                   \
    X(HeapFree, FALSE, ERROR_INVALID_PARAMETER)                   \
    X(HeapReAlloc, 0, ERROR_NOT_ENOUGH_MEMORY)                    \
    X(GetSystemDirectoryA, 0, ERROR_NOT_ENOUGH_MEMORY)            \
    X(LoadLibraryExA, 0, ERROR_NOT_ENOUGH_MEMORY)                 \
    X(MulDiv, -1, ERROR_ARITHMETIC_OVERFLOW)                      \
    X(ReleaseSemaphore, FALSE, ERROR_TOO_MANY_POSTS)              \
    X(SetThreadPriority, FALSE, ERROR_INVALID_HANDLE)             \
    X(TlsAlloc, TLS_OUT_OF_INDEXES, ERROR_NO_MORE_ITEMS)          \
    X(TlsFree, FALSE, ERROR_INVALID_PARAMETER)                    \
    X(TlsSetValue, FALSE, ERROR_NOT_ENOUGH_MEMORY)                \
    X(VirtualQuery, 0, ERROR_INVALID_PARAMETER)                   \
    X(WaitForMultipleObjects, WAIT_FAILED, ERROR_INVALID_HANDLE)  \
    X(WaitForSingleObject, WAIT_FAILED, ERROR_INVALID_HANDLE)     \
    X(AdjustWindowRectEx, FALSE, ERROR_INVALID_PARAMETER)         \
    X(CreateAcceleratorTableA, 0, ERROR_NOT_ENOUGH_MEMORY)        \
    X(CreateWindowExA, 0, ERROR_NOT_ENOUGH_MEMORY)                \
    X(DestroyAcceleratorTable, FALSE, ERROR_INVALID_HANDLE)       \
    X(DestroyIcon, FALSE, ERROR_INVALID_HANDLE)                   \
    X(DestroyWindow, FALSE, ERROR_ACCESS_DENIED)                  \
    X(FillRect, 0, ERROR_INVALID_HANDLE)                          \
    X(GetClassNameA, 0, ERROR_INVALID_WINDOW_HANDLE)              \
    X(GetClientRect, FALSE, ERROR_INVALID_WINDOW_HANDLE)          \
    X(GetDC, 0, ERROR_NOT_ENOUGH_MEMORY)                          \
    X(GetMessageA, -1, ERROR_INVALID_WINDOW_HANDLE)               \
    X(GetParent, 0, ERROR_INVALID_WINDOW_HANDLE)                  \
    X(GetSystemMetrics, 0, ERROR_INVALID_PARAMETER)               \
    X(GetWindow, 0, ERROR_INVALID_WINDOW_HANDLE)                  \
    X(GetWindowRect, FALSE, ERROR_INVALID_WINDOW_HANDLE)          \
    X(GetWindowTextA, 0, ERROR_INVALID_WINDOW_HANDLE)             \
    X(GetWindowThreadProcessId, 0, ERROR_INVALID_WINDOW_HANDLE)   \
    X(LoadCursorA, 0, ERROR_RESOURCE_NAME_NOT_FOUND)              \
    X(LoadIconA, 0, ERROR_RESOURCE_NAME_NOT_FOUND)                \
    X(MsgWaitForMultipleObjects, WAIT_FAILED, ERROR_INVALID_HANDLE) \
    X(PostMessageA, FALSE, ERROR_NOT_ENOUGH_QUOTA)                \
    X(RedrawWindow, FALSE, ERROR_INVALID_WINDOW_HANDLE)           \
    X(RegisterClassA, 0, ERROR_NOT_ENOUGH_MEMORY)                 \
    X(RegisterWindowMessageA, 0, ERROR_NOT_ENOUGH_MEMORY)         \
    X(ReleaseDC, 0, ERROR_INVALID_HANDLE)                         \
    X(SetActiveWindow, 0, ERROR_ACCESS_DENIED)                    \
    X(SetFocus, 0, ERROR_ACCESS_DENIED)                           \
    X(SetPropA, FALSE, ERROR_NOT_ENOUGH_MEMORY)                   \
    X(SetWindowPos, FALSE, ERROR_INVALID_WINDOW_HANDLE)           \
    X(SetWindowsHookExA, 0, ERROR_NOT_ENOUGH_MEMORY)              \
    X(TranslateAcceleratorA, 0, ERROR_INVALID_HANDLE)             \
    X(UnhookWindowsHookEx, FALSE, ERROR_INVALID_HOOK_HANDLE)      \
    X(UnregisterClassA, FALSE, ERROR_CLASS_HAS_WINDOWS)           \
    X(CreateDCA, 0, ERROR_NOT_ENOUGH_MEMORY)                      \
    X(CreateFontA, 0, ERROR_NOT_ENOUGH_MEMORY)                    \
    X(CreateSolidBrush, 0, ERROR_NOT_ENOUGH_MEMORY)               \
    X(DeleteDC, FALSE, ERROR_INVALID_HANDLE)                      \
    X(DeleteObject, FALSE, ERROR_INVALID_HANDLE)                  \
    X(GetObjectType, 0, ERROR_INVALID_HANDLE)                     \
    X(GetStockObject, 0, ERROR_INVALID_PARAMETER)                 \
    X(GetTextExtentPoint32A, FALSE, ERROR_INVALID_HANDLE)         \
    X(SelectObject, 0, ERROR_INVALID_HANDLE)

// The window-long accessors are functions of their own only on 64-bit
// Windows; on 32-bit Windows the Ptr names are macros for the others.
#ifdef _WIN64
#define FAULT_IMPORTS(X)                                       \
    FAULT_IMPORTS_COMMON(X)                                    \
    X(GetClassLongPtrA, 0, ERROR_INVALID_WINDOW_HANDLE)        \
    X(GetWindowLongA, 0, ERROR_INVALID_WINDOW_HANDLE)          \
    X(GetWindowLongPtrA, 0, ERROR_INVALID_WINDOW_HANDLE)       \
    X(SetWindowLongPtrA, 0, ERROR_INVALID_WINDOW_HANDLE)
#else
#define FAULT_IMPORTS(X)                                       \
    FAULT_IMPORTS_COMMON(X)                                    \
    X(GetClassLongA, 0, ERROR_INVALID_WINDOW_HANDLE)           \
    X(GetWindowLongA, 0, ERROR_INVALID_WINDOW_HANDLE)          \
    X(SetWindowLongA, 0, ERROR_INVALID_WINDOW_HANDLE)
#endif

typedef BOOL(WINAPI* FaultInitOnceRoutine)(void*, void*, void*, void**);
typedef HRESULT(CALLBACK* FaultDllGetVersionRoutine)(void*);
typedef BOOL(WINAPI* FaultIsAppThemedRoutine)();
typedef BOOL(WINAPI* FaultAlphaBlendRoutine)(HDC, int, int, int, int, HDC, int, int, int, int,
                                            BLENDFUNCTION);
typedef UINT(WINAPI* FaultTimeBeginPeriodRoutine)(UINT);
typedef BOOL(WINAPI* FaultSetDefaultDllDirectoriesRoutine)(DWORD);
typedef BOOL(WINAPI* FaultInitCommonControlsExRoutine)(const INITCOMMONCONTROLSEX*);

#define FAULT_LOOKUPS(X)                                                          \
    X(InitOnceExecuteOnce, FaultInitOnceRoutine, FALSE, ERROR_NOT_ENOUGH_MEMORY)  \
    X(SetDefaultDllDirectories, FaultSetDefaultDllDirectoriesRoutine, FALSE, ERROR_INVALID_PARAMETER) \
    X(DllGetVersion, FaultDllGetVersionRoutine, E_FAIL, ERROR_NOT_SUPPORTED)      \
    X(IsAppThemed, FaultIsAppThemedRoutine, FALSE, ERROR_NOT_SUPPORTED)           \
    X(AlphaBlend, FaultAlphaBlendRoutine, FALSE, ERROR_INVALID_PARAMETER)         \
    X(timeBeginPeriod, FaultTimeBeginPeriodRoutine, TIMERR_NOCANDO, ERROR_INVALID_PARAMETER) \
    X(InitCommonControlsEx, FaultInitCommonControlsExRoutine, FALSE, ERROR_NOT_ENOUGH_MEMORY)
