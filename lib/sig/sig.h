/// The signal module: one process-wide handler for the signals a component
/// sets up, dispatching to callbacks registered per signal; and core dumps
/// of the running process, with the name of the file the kernel writes.
#ifndef LIB_SIG_SIG_H
#define LIB_SIG_SIG_H

#include <signal.h>

#include "lib/misc/basicTypes.h"

/// How a registered callback is run.
typedef enum SigCallbackKind {
   SIG_NOHANDLER = 0,   ///< Remove the callback of the signal.
   SIG_IMMEDIATELY = 2, ///< Run the callback inside the signal handler.
} SigCallbackKind;

/// Runs inside the signal handler, so it may only do async-signal-safe
/// work; it may leave the handler by siglongjmp.
typedef void (*SigCallbackFunc)(int sig, siginfo_t *info, void *clientData);

/// Sets the module up to handle the `count` signals listed in `signals`,
/// remembering each previous disposition. Signals already set up are left
/// as they are. Returns FALSE, with the earlier signals of the list still
/// set up, when a signal cannot be handled (SIGKILL, SIGSTOP, out of range).
/// Call from one thread before other threads start.
Bool Sig_Init(const int *signals, int count);

/// Restores the dispositions Sig_Init replaced and forgets every callback.
/// Safe when nothing was set up.
void Sig_Exit(void);

/// TRUE when `sig` is set up by Sig_Init.
Bool Sig_IsHandled(int sig);

/// Registers `func` with `clientData` for `sig` (kind SIG_IMMEDIATELY), or
/// removes the callback (kind SIG_NOHANDLER). A signal that is not set up,
/// an unknown kind or a null function is a failed internal check: panic
/// with "VERIFY vela/lib/sig/sigPosix:<line>". A set-up signal that
/// arrives without a callback takes its default action.
void Sig_Callback(int sig, SigCallbackKind kind, SigCallbackFunc func, void *clientData);

/* Core dumps. */

/// Writes a core dump of the running process without ending it: a copy made
/// by a raw clone (no fork handlers run) takes the real user as effective
/// user and kills itself with SIGABRT, and the caller polls it for about two
/// minutes. Returns the copy's process id when it dumped core, else -1. Each
/// step is logged at level 3; with a core size limit of 0 no copy is made.
int Sig_CoreDump(void);

/// Tells the core dump that this (set-uid) process must regain root to be
/// allowed to dump core; initially FALSE. When the copy is not dumpable it
/// then takes the former effective user for good and marks itself dumpable.
void Sig_SetCoreDumpRegainsRoot(Bool regainsRoot);

/// Predicts the path of the core file the kernel writes for process pid,
/// from /proc/sys/kernel/core_uses_pid, /proc/sys/kernel/core_pattern and
/// the current directory, as Sig_PredictCoreFileName does.
Bool Sig_GetCoreFileName(char **name, int pid);

/// The prediction for a given core_pattern text (NULL: unreadable, taken as
/// "core"; a pipe to a helper is logged at level 5 and taken as "core") and
/// whether the kernel appends ".<pid>". A relative pattern is placed in the
/// current directory; its expansion adds at most 64 bytes, 4195 in all.
/// %%, %p, %u, %g, %s (6), %h expand; %e and %t, and %h when uname fails,
/// are wildcards matched against the file system. Sets *name to a new text
/// (release with free) and returns TRUE; returns FALSE, leaving *name
/// untouched, when the wildcards match several files.
Bool Sig_PredictCoreFileName(const char *pattern, Bool usesPid, int pid, char **name);

/// Reads a small file such as those under /proc/sys into buf, NUL-terminated
/// and with one trailing newline removed. FALSE when the file cannot be
/// opened or read, or its contents fill all size bytes.
Bool Sig_ReadSmallSystemFile(const char *path, char *buf, size_t size);

#endif
