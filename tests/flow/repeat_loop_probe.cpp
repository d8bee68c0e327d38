// The repeating run, shown on the entry routine itself.
//
// This program links the real MainSequence (and the real worker routine,
// whose address it registers) with recording stand-ins for the services
// around it. The stand-in launch sets RepeatFlag on its first call, as the
// repeat button does; the stand-in Pause returns at once instead of sleeping
// 2097152 ms. After the third launch the program checks what it recorded and
// exits 0 when the loop behaved: launch, pause 2097152, launch, pause
// 2097152, launch — and never the end path.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "flow/launch.h"
#include "flow/main_sequence.h"
#include "runtime/data/symbol_table.h"
#include "runtime/process/pause.h"
#include "runtime/process/process_start.h"
#include "runtime/process/string_service.h"

static char Log[512];

static void Record(const char* text)
{
    strncat(Log, text, sizeof(Log) - strlen(Log) - 1);
}

bool ProcessStart()
{
    Record("start ");
    return true;
}

void ProcessEnd()
{
    Record("END ");
}

void StringServiceEnd() {}

void* SymbolRegister(const char* name, intptr_t)
{
    Record(strcmp(name, "Norvane()") == 0 ? "register " : "register-other ");
    return nullptr;
}

extern "C" void Pause(uint32_t milliseconds)
{
    char text[32];
    sprintf(text, "pause(%lu) ", (unsigned long)milliseconds);
    Record(text);
}

int32_t LaunchWorkers()
{
    static int calls;
    ++calls;
    Record(RepeatFlag ? "launch-repeating " : "launch ");
    if (calls == 1)
        RepeatFlag = 1;
    if (calls == 3) {
        const char* expected = "start register launch pause(2097152) launch-repeating "
                               "pause(2097152) launch-repeating ";
        bool ok = strcmp(Log, expected) == 0;
        printf("recorded: %s\nexpected: %s\n%s\n", Log, expected, ok ? "1 passed, 0 failed" : "0 passed, 1 failed");
        fflush(stdout);
        ExitProcess(ok ? 0 : 1);
    }
    return 0;
}

int main()
{
    MainSequence();
}
