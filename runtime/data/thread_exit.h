// Thread-exit notifications: functions called on a watcher thread after the
// thread that asked for them has ended.
#pragma once

typedef void (*ThreadExitFunction)(void* argument);

// After the calling thread has ended, function(argument) is called once on
// a watcher thread, outside every lock. Several calls from one thread queue
// several functions; they run newest first. When the thread cannot be
// watched (no memory, no handle, no watcher thread) nothing is registered.
void ThreadExitNotify(ThreadExitFunction function, void* argument);
