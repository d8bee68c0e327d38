#include "runtime/process/string_service.h"

// Stand-ins until the string service exists.
void StringServiceInit() {}
void StringServiceEnd() {}
