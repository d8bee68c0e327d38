#include "runtime/process/process_start.h"

// Stand-ins until the services exist.
void ProcessStart() {}
void ProcessEnd() {}
