/// The signal module: one process-wide handler for the signals a component
/// sets up, dispatching to callbacks registered per signal.
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
/// with "VERIFY vela/lib/sig/sigPosix:<line> bugNr=<n>". A set-up signal that
/// arrives without a callback takes its default action.
void Sig_Callback(int sig, SigCallbackKind kind, SigCallbackFunc func, void *clientData);

#endif
