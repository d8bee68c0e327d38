// Start-up and shutdown of the runtime services.
#pragma once

// Runs the service initialisers in their fixed order on the main thread.
void ProcessStart();
// Runs the service end routines in their fixed order.
void ProcessEnd();
