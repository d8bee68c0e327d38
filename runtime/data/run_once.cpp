// RunOnce prefers kernel32's InitOnceExecuteOnce, looked up by name on every
// call because older systems lack it; the state word then serves as the
// INIT_ONCE object, which is why it is pointer-sized. Without it a three-state
// word does the job with one compare-exchange and one exchange; latecomers
// yield with Sleep(0) until the first caller has finished, which is cheap for
// the short set-up routines this serves (the pool registry lock).
#include "runtime/data/run_once.h"

#include <windows.h>

#include "runtime/process/system_library.h"

namespace {

constexpr intptr_t ONCE_UNTOUCHED = 0;
constexpr intptr_t ONCE_RUNNING = 1;
constexpr intptr_t ONCE_DONE = 2;

typedef BOOL(WINAPI* InitOnceExecuteOnceRoutine)(PINIT_ONCE, PINIT_ONCE_FN, PVOID, PVOID*);

static_assert(sizeof(RunOnceState) == sizeof(INIT_ONCE), "the state word doubles as INIT_ONCE");

}  // namespace

static BOOL CALLBACK RunOnceCallback(PINIT_ONCE, PVOID parameter, PVOID*)
{
    reinterpret_cast<void (*)()>(parameter)();
    return TRUE;
}

void RunOnceFallback(volatile RunOnceState* state, void (*routine)())
{
    void* volatile* word = reinterpret_cast<void* volatile*>(state);
    intptr_t seen = reinterpret_cast<intptr_t>(InterlockedCompareExchangePointer(
        word, reinterpret_cast<void*>(ONCE_RUNNING), reinterpret_cast<void*>(ONCE_UNTOUCHED)));
    if (seen == ONCE_UNTOUCHED) {
        routine();
        InterlockedExchangePointer(word, reinterpret_cast<void*>(ONCE_DONE));
        return;
    }
    while (*state != ONCE_DONE)
        Sleep(0);
}

void RunOnce(volatile RunOnceState* state, void (*routine)())
{
    HMODULE kernel = SystemLibraryLoad("Kernel32.dll");
    auto executeOnce = kernel ? SystemEntry<InitOnceExecuteOnceRoutine>(kernel, "InitOnceExecuteOnce") : nullptr;
    // The callback always succeeds, so a failure is the system's own and the
    // routine has not run: the word-based way then makes sure it does.
    if (!executeOnce ||
        !executeOnce(reinterpret_cast<PINIT_ONCE>(const_cast<RunOnceState*>(state)), RunOnceCallback,
                     reinterpret_cast<void*>(routine), nullptr))
        RunOnceFallback(state, routine);
    if (kernel)
        FreeLibrary(kernel);
}
