// Start-up and shutdown of the runtime services.
#pragma once

#include <stdint.h>

// Runs the fourteen service initialisers in their fixed order on the main
// thread, which must be the only thread, after the instance handle and the
// main heap exist. True when every service the program relies on came up.
// At the first one that did not, it stops (the later services would build on
// it) and returns false; the caller then takes the end path. The spare slot,
// heap and segment, the image table and the optional libraries never count:
// nothing the program does uses them.
bool ProcessStart();

// Runs the service end routines in their fixed order, each only when its
// service came up in ProcessStart, so that the end path is also safe after a
// start-up that stopped early. Each runs at most once per start-up.
void ProcessEnd();

// Initialisers of ProcessStart that came up (0 to 14); 0 before start-up and
// after ProcessEnd.
extern int32_t ProcessServicesStarted;
