// The entry routine. It reads no command line and checks no results except
// where a failure would otherwise crash later: without a main heap or with a
// service that could not start, it takes the end path at once (exit code 0).
#include "flow/main_sequence.h"

#include "exercise/blocks.h"
#include "exercise/worker.h"
#include "flow/launch.h"
#include "runtime/data/symbol_table.h"
#include "runtime/process/globals.h"
#include "runtime/process/pause.h"
#include "runtime/process/process_start.h"
#include "runtime/process/string_service.h"
#include "runtime/process/system_library.h"

extern "C" {
int32_t RepeatFlag;
}

// This file's code is the last before the worker routine's page in the
// image. The assembler would pad its end to the code alignment with no-ops;
// the closing alignment at the bottom pads it with int3 instead, so that
// nothing but int3 stands between the last instruction here and the worker.
// no_reorder keeps both routines above that closing statement.
__attribute__((no_reorder)) void EndPath()
{
    ProcessEnd();
    StringServiceEnd();
    if (MainHeap)
        HeapDestroy(MainHeap);
    ExitProcess(0);
}

extern "C" __attribute__((no_reorder)) void MainSequence(void)
{
    InstanceHandle = nullptr;
    MainHeap = nullptr;
    WorkerPauseMs = 0;
    RepeatFlag = 0;

    // In place of the loader: the libraries an image would import beyond
    // the known DLLs come from the system folder, before anything runs.
    SystemImportsInit();
    InstanceHandle = GetModuleHandleA(nullptr);
    MainHeap = HeapCreate(0, 4096, 0);
    if (!MainHeap)
        ExitProcess(0);
    if (!ProcessStart())
        EndPath();
    SymbolRegister("Norvane()", (intptr_t)&WorkerRoutine);
    FullBlock(8);

    for (;;) {
        LaunchWorkers();
        if (RepeatFlag == 0)
            break;
        ShortBlock();
        PauseGuard();
        Pause(REPEAT_PAUSE_MS);
        RepeatBlock();
    }
    ShortBlock();
    EndPath();
}

asm(".text\n.p2align 4, 0xCC\n");
