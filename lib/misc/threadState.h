/// Per-thread run-time state: the calling thread's name and whether it is
/// running a signal handler. Both are safe to use from a signal handler.
#ifndef LIB_MISC_THREADSTATE_H
#define LIB_MISC_THREADSTATE_H

#include "lib/misc/basicTypes.h"

/// Longest thread name kept, without the terminating NUL.
#define THREADSTATE_NAME_MAX 31

/// The calling thread's name: the one set with ThreadState_SetName, else
/// "host-%lu" with the thread's kernel id. The text belongs to the thread and
/// stays valid until the thread renames itself or ends.
const char *ThreadState_GetName(void);
/// Names the calling thread (cut to THREADSTATE_NAME_MAX bytes); null or ""
/// returns it to the "host-%lu" default.
void ThreadState_SetName(const char *name);

/// A signal handler brackets its work with these, so that code it calls can
/// avoid what is not async-signal-safe.
void ThreadState_EnterSignalHandler(void);
void ThreadState_LeaveSignalHandler(void);
/// TRUE while the calling thread is inside a signal handler.
Bool ThreadState_InSignalHandler(void);

#endif
