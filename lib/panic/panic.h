/// The end of the process after an unrecoverable condition: a failed internal
/// check, an allocation that cannot be satisfied, a misused lock.
#ifndef LIB_PANIC_PANIC_H
#define LIB_PANIC_PANIC_H

#include <stdarg.h>

#include "lib/misc/basicTypes.h"

/// Marks the lock module as panicking, writes the formatted message (cut to
/// at most 1023 bytes on a whole UTF-8 character) unchanged to standard
/// error, logs "PANIC: %s" at level 1 and ends the process at once with
/// status 255; no exit handlers run. A panic raised while one is already in
/// progress writes "Panic loop\n" to standard error and ends with status 1.
void Panic(const char *fmt, ...) PRINTF_DECL(1, 2) NORETURN;
void PanicV(const char *fmt, va_list args) PRINTF_DECL(1, 0) NORETURN;

#endif
