/// The end of the process after an unrecoverable condition: a failed internal
/// check, an allocation that cannot be satisfied, a misused lock.
///
/// The settings are process-wide plain values: set them at start-up, before
/// other threads run. A debugger may clear "loop on panic" at any time.
#ifndef LIB_PANIC_PANIC_H
#define LIB_PANIC_PANIC_H

#include <stdarg.h>

#include "lib/misc/basicTypes.h"

/// Failed internal checks. A source file that uses them first names itself
/// in the form its messages have always carried, for example
///    #define PANIC_SOURCE "vela/lib/config/configUL"
/// and each failure panics with "VERIFY %s:%d\n", "NOT_REACHED %s:%d\n" or
/// "NOT_IMPLEMENTED %s:%d\n", that name and the line.
#define VERIFY(cond)                                                                               \
   do {                                                                                            \
      if (__builtin_expect(!(cond), 0)) {                                                          \
         Panic("VERIFY %s:%d\n", PANIC_SOURCE, __LINE__);                                          \
      }                                                                                            \
   } while (0)
#define NOT_REACHED() Panic("NOT_REACHED %s:%d\n", PANIC_SOURCE, __LINE__)
#define NOT_IMPLEMENTED() Panic("NOT_IMPLEMENTED %s:%d\n", PANIC_SOURCE, __LINE__)

/// Marks the lock module as panicking, then writes the formatted message
/// (cut to at most 1023 bytes on a whole UTF-8 character) unchanged to
/// standard error. The first panic of the process then lifts throttling,
/// logs "PANIC: %s" at level 1 with a backtrace of the calling thread, dumps
/// core when enabled, loops when asked to, posts the message to the user,
/// logs "Exiting" and ends the process with status 255. A panic raised while
/// one is in progress (on any thread) writes "Panic loop\n" and ends with
/// status 1. No exit handlers run.
void Panic(const char *fmt, ...) PRINTF_DECL(1, 2) NORETURN;
void PanicV(const char *fmt, va_list args) PRINTF_DECL(1, 0) NORETURN;

/// Reads "coreDumpOnPanic" (default TRUE), "panic.loopOnPanic" (FALSE),
/// "panic.breakOnPanic" (0) and "coreDumpFlags" (0) from the preferences,
/// and prepares the backtrace.
void Panic_Init(void);

/// Loads the unwinder that a panic's backtrace needs, once. A panic from a
/// signal handler must not load anything (the loader may be what broke), so
/// Sig_Init and Panic_Init call this; a process that calls neither (a
/// short-lived tool) loads it only if it panics.
void Panic_PrepareBacktrace(void);

/// Whether the panic is posted to the user (initially TRUE).
void Panic_SetPanicMsgPost(Bool post);
Bool Panic_GetPanicMsgPost(void);
/// Whether a panic dumps core (initially TRUE).
void Panic_SetCoreDumpOnPanic(Bool dump);
Bool Panic_GetCoreDumpOnPanic(void);
/// Flags kept for the core dump (initially 0).
void Panic_SetCoreDumpFlags(int32 flags);
int32 Panic_GetCoreDumpFlags(void);
/// 0: nothing; 1: raise SIGTRAP (ignored unless a debugger is attached);
/// more: log and execute a breakpoint trap.
void Panic_SetBreakOnPanic(int32 breakOnPanic);
int32 Panic_GetBreakOnPanic(void);
/// TRUE when break on panic is greater than 1.
Bool Panic_IsBreakForced(void);
/// Whether a panic waits for a debugger (initially FALSE).
void Panic_SetLoopOnPanic(Bool loop);
Bool Panic_GetLoopOnPanic(void);

/// With loop on panic set: writes "Looping pid=%d\n" to standard error and
/// sleeps a second at a time for as long as the setting stays set.
void Panic_LoopOnPanic(void);
/// Acts on break on panic as described at Panic_SetBreakOnPanic.
void Panic_BreakOnPanic(void);

/// Once per process: reserves "panic.addrSpaceReservedKB" KiB (default 0,
/// taken as unsigned and capped at 20480) of inaccessible address space,
/// which the core dump releases so that it has room to run. Logs the
/// reservation at level 5; a failed reservation leaves none.
void Panic_ReserveCoreDumpSpace(void);

/// Logs "[0x%p-0x%p): %s\n" at level 5 with the first read-only loadable
/// segment of the main program, and with printAll of every other loaded
/// object too, between "Printing loaded objects\n" and "End printing loaded
/// objects\n".
void Panic_PrintLoadedObjects(Bool printAll);

/// With posting enabled, posts text (never taken as a format) to the user as
/// an unrecoverable error, naming the product, the calling thread, the log
/// file when there is one, and how to ask for support.
void Panic_PostPanicMsg(const char *text);

#endif
