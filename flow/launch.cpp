// The worker launch. Atoms stand between the statements exactly where the
// procedure's steps put them; the locals n, i and level are volatile so that
// their initialisations, too, stay after the clears that precede them.
//
// Thread numbers occupy WorkerTable[2] up to WorkerTable[n]: i starts at the
// unit value 1 and is incremented before its first use, which gives n − 1
// workers for n >= 2 and one worker for n = 1.
//
// A worker table that cannot be allocated would have the start loop write
// through a null table; the launch then ends the process as a failed thread
// start does.
#include "flow/launch.h"

#include "exercise/blocks.h"
#include "exercise/worker.h"
#include "flow/control_window.h"
#include "flow/main_sequence.h"
#include "runtime/data/array.h"
#include "runtime/data/symbol_table.h"
#include "runtime/process/pause.h"
#include "runtime/process/processors.h"
#include "runtime/process/thread.h"
#include "runtime/process/truncate.h"

// The stored double from which the unit value is truncated.
static const volatile double LAUNCH_UNIT = 1.0;

constexpr int32_t LAUNCH_MAX_PROCESSORS = 256;
constexpr int32_t LAUNCH_TABLE_SIZE = LAUNCH_MAX_PROCESSORS + 1;
constexpr int32_t LAUNCH_WORKER_PAUSE_MS = 256;

int32_t LaunchWorkers()
{
    intptr_t* WorkerTable = nullptr;
    volatile int32_t n;
    volatile int32_t i;
    volatile int32_t level;

    int32_t unit = (int32_t)TruncateToInteger(LAUNCH_UNIT);
    MmxExit();
    GprClear(eax);
    WorkerPauseMs = LAUNCH_WORKER_PAUSE_MS;
    ArrayCreate(sizeof(intptr_t), LAUNCH_TABLE_SIZE, TYPE_INTEGER, nullptr,
                reinterpret_cast<void**>(&WorkerTable));
    if (!WorkerTable)
        EndPath();
    GprClear(eax);
    n = 1;
    GprClear(eax);
    i = 1;
    GprClear(eax);
    level = 32;
    n = CountProcessors(0);
    if (n > LAUNCH_MAX_PROCESSORS)
        n = LAUNCH_MAX_PROCESSORS;

    if (RepeatFlag == 0)
        ControlWindowPhase();

    do {
        i = i + 1;
        GprClear(eax);
        FourClears();
        WorkerTable[i] = ThreadCreate(
            reinterpret_cast<LPTHREAD_START_ROUTINE>(SymbolLookup("Norvane()")), unit);
        if (ThreadIsRunning((int32_t)WorkerTable[i]) == 0)
            EndPath();
        FourClears();
        ThreadPriority((int32_t)WorkerTable[i], level);
    } while (i < n);

    PauseGuard();
    Pause(WorkerPauseMs);

    i = 1;
    do {
        i = i + 1;
        ThreadWait((int32_t)WorkerTable[i], level);
    } while (i < n);

    ArrayFree(WorkerTable);
    return 0;
}
