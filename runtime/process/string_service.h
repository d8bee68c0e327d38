// The string service: its private heap and per-thread work buffer.
#pragma once

void StringServiceInit();
// Destroys the string heap and frees its thread-local storage slot.
void StringServiceEnd();
