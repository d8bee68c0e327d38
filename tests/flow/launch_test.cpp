// The worker launch, run for real against recording stand-ins of the
// services it calls (this program links flow/launch.cpp with the stand-ins
// below instead of the thread service, arrays, symbols and processor count).
//
// The launch runs on a thread of its own so that the stand-in end path can
// end just that thread, as the real one ends the process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exercise/worker.h"
#include "flow/control_window.h"
#include "flow/launch.h"
#include "flow/main_sequence.h"
#include "runtime/data/array.h"
#include "runtime/data/symbol_table.h"
#include "runtime/process/pause.h"
#include "runtime/process/processors.h"
#include "runtime/process/thread.h"

namespace {

constexpr DWORD END_PATH_EXIT = 0xE9D;
constexpr intptr_t WORKER_ADDRESS = 0x5150;

struct Call {
    std::string what;
    intptr_t a = 0;
    intptr_t b = 0;
};

struct Scene {
    int32_t processors = 2;
    int32_t failRunningAt = 0;  // ThreadIsRunning answers 0 for this thread number
    bool failArray = false;
    bool repeatBefore = false;  // RepeatFlag already 1 when the launch starts
    std::vector<Call> calls;
    intptr_t* table = nullptr;  // the worker table, as ArrayCreate handed it out
    std::vector<intptr_t> tableAtPause;
    int32_t nextNumber = 100;
    int32_t pauseMsAtFirstCreate = -1;
};

Scene* S;

void Record(const char* what, intptr_t a = 0, intptr_t b = 0) { S->calls.push_back({what, a, b}); }

DWORD WINAPI LaunchThread(LPVOID)
{
    LaunchWorkers();
    return 0;
}

// Runs one launch; returns the launch thread's exit code (0: returned,
// END_PATH_EXIT: took the end path).
DWORD RunLaunch(Scene& scene)
{
    S = &scene;
    RepeatFlag = scene.repeatBefore ? 1 : 0;
    WorkerPauseMs = 0;
    HANDLE thread = CreateThread(nullptr, 0, LaunchThread, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

std::vector<std::string> Names(const Scene& s)
{
    std::vector<std::string> names;
    for (auto& c : s.calls) names.push_back(c.what);
    return names;
}

}  // namespace

// --- stand-ins -------------------------------------------------------------

extern "C" int32_t RepeatFlag;
int32_t RepeatFlag;

void EndPath()
{
    Record("EndPath");
    ExitThread(END_PATH_EXIT);
}

void ControlWindowPhase() { Record("ControlWindowPhase"); }

int32_t CountProcessors(int32_t which)
{
    Record("CountProcessors", which);
    return S->processors;
}

intptr_t SymbolLookup(const char* name)
{
    Record("SymbolLookup");
    return std::string(name) == "Norvane()" ? WORKER_ADDRESS : 0;
}

int32_t ThreadCreate(LPTHREAD_START_ROUTINE routine, intptr_t parameter)
{
    if (S->pauseMsAtFirstCreate < 0) S->pauseMsAtFirstCreate = WorkerPauseMs;
    Record("ThreadCreate", (intptr_t)routine, parameter);
    return S->nextNumber++;
}

int32_t ThreadIsRunning(int32_t number)
{
    Record("ThreadIsRunning", number);
    return number == S->failRunningAt ? 0 : 1;
}

int32_t ThreadPriority(int32_t number, int32_t level)
{
    Record("ThreadPriority", number, level);
    return 16;
}

int32_t ThreadWait(int32_t number, uint32_t timeout)
{
    Record("ThreadWait", number, timeout);
    return 1;
}

extern "C" void Pause(uint32_t milliseconds)
{
    Record("Pause", milliseconds);
    if (S->table) S->tableAtPause.assign(S->table, S->table + 257);
}

void* ArrayCreate(uint32_t elementSize, uint32_t elementCount, TypeCode typeCode, const ElementLayout*,
                  void* holder)
{
    Record("ArrayCreate", elementSize * 1000 + elementCount, typeCode);
    void** slot = static_cast<void**>(holder);
    *slot = nullptr;
    if (S->failArray) return nullptr;
    S->table = static_cast<intptr_t*>(calloc(elementCount, elementSize));
    *slot = S->table;
    return S->table;
}

void ArrayFree(void* array)
{
    Record("ArrayFree", array == S->table ? 1 : 0);
}

// --- tests -------------------------------------------------------------------

TEST(LaunchWorkers, StartsMaxOfOneAndNMinusOneWorkersInSlotsTwoUpToN)
{
    struct Row {
        int32_t processors;
        int32_t lastSlot;  // workers occupy slots 2..lastSlot
    } rows[] = {{1, 2}, {2, 2}, {4, 4}, {32, 32}, {300, 256}};
    for (auto row : rows) {
        SCOPED_TRACE("processors " + std::to_string(row.processors));
        Scene scene;
        scene.processors = row.processors;
        EXPECT_EQ(RunLaunch(scene), 0u);
        int32_t workers = row.lastSlot - 1;

        std::vector<intptr_t> created, prioritised, waited;
        for (auto& c : scene.calls) {
            if (c.what == "ThreadCreate") {
                EXPECT_EQ(c.a, WORKER_ADDRESS) << "routine found by its name";
                EXPECT_EQ(c.b, 1) << "every worker gets the unit argument";
            }
            if (c.what == "ThreadPriority") { prioritised.push_back(c.a); EXPECT_EQ(c.b, 32); }
            if (c.what == "ThreadWait") { waited.push_back(c.a); EXPECT_EQ(c.b, 32); }
        }
        for (int32_t k = 0; k < workers; ++k) created.push_back(100 + k);
        EXPECT_EQ(prioritised, created);
        EXPECT_EQ(waited, created) << "the wait loop walks the same slots in order";

        ASSERT_EQ(scene.tableAtPause.size(), 257u);
        for (int32_t slot = 0; slot < 257; ++slot) {
            intptr_t expected = (slot >= 2 && slot <= row.lastSlot) ? 100 + (slot - 2) : 0;
            ASSERT_EQ(scene.tableAtPause[slot], expected) << "slot " << slot;
        }
        free(scene.table);
    }
}

TEST(LaunchWorkers, RunsItsStepsInOrder)
{
    Scene scene;
    scene.processors = 3;
    ASSERT_EQ(RunLaunch(scene), 0u);
    std::vector<std::string> expected = {
        "ArrayCreate", "CountProcessors", "ControlWindowPhase",
        "SymbolLookup", "ThreadCreate", "ThreadIsRunning", "ThreadPriority",
        "SymbolLookup", "ThreadCreate", "ThreadIsRunning", "ThreadPriority",
        "Pause", "ThreadWait", "ThreadWait", "ArrayFree"};
    EXPECT_EQ(Names(scene), expected);
    EXPECT_EQ(scene.calls[0].a, (intptr_t)(sizeof(intptr_t) * 1000 + 257)) << "257 pointer-sized elements";
    EXPECT_EQ(scene.calls[0].b, TYPE_INTEGER);
    EXPECT_EQ(scene.calls[1].a, 0) << "the system's processors";
    EXPECT_EQ(scene.calls[11].a, 256) << "the launch pauses WorkerPauseMs";
    EXPECT_EQ(scene.calls.back().a, 1) << "the table it made is the one freed";
    EXPECT_EQ(scene.pauseMsAtFirstCreate, 256) << "WorkerPauseMs set before the first worker starts";
    free(scene.table);
}

TEST(LaunchWorkers, SkipsTheWindowOnceTheRepeatingRunWasChosen)
{
    Scene scene;
    scene.repeatBefore = true;
    ASSERT_EQ(RunLaunch(scene), 0u);
    for (auto& name : Names(scene)) EXPECT_NE(name, "ControlWindowPhase");
    EXPECT_EQ(scene.pauseMsAtFirstCreate, 256);
    free(scene.table);
}

TEST(LaunchWorkers, AWorkerNotRunningAfterItsCreationEndsTheProcessAtOnce)
{
    Scene scene;
    scene.processors = 4;
    scene.failRunningAt = 101;  // the second worker
    EXPECT_EQ(RunLaunch(scene), END_PATH_EXIT);
    std::vector<std::string> expected = {
        "ArrayCreate", "CountProcessors", "ControlWindowPhase",
        "SymbolLookup", "ThreadCreate", "ThreadIsRunning", "ThreadPriority",
        "SymbolLookup", "ThreadCreate", "ThreadIsRunning", "EndPath"};
    EXPECT_EQ(Names(scene), expected) << "no further threads, no pause, no waits";
    free(scene.table);
}

TEST(LaunchWorkers, AWorkerTableThatCannotBeMadeEndsTheProcessBeforeAnythingStarts)
{
    Scene scene;
    scene.failArray = true;
    EXPECT_EQ(RunLaunch(scene), END_PATH_EXIT);
    std::vector<std::string> expected = {"ArrayCreate", "EndPath"};
    EXPECT_EQ(Names(scene), expected) << "nothing is written through a null table";
}
