/// Small helpers of the run-time library that belong to no other module.
#ifndef LIB_MISC_UTIL_H
#define LIB_MISC_UTIL_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#include "lib/misc/basicTypes.h"

/// In a variadic function whose last named parameter is the format fmt:
/// declares char buf[size] holding the arguments formatted by fmt, cut to
/// fit. Used for names given as a format.
#define UTIL_FORMAT_VARARGS(buf, size, fmt)                                                        \
   char buf[size];                                                                                 \
   do {                                                                                            \
      va_list args_;                                                                               \
      va_start(args_, fmt);                                                                        \
      vsnprintf(buf, sizeof buf, fmt, args_);                                                      \
      va_end(args_);                                                                               \
   } while (0)

/// Expands a leading "~" (HOME) or "~user" (the password database) and each
/// "$NAME" (the environment; PID and USER fall back to the process id and the
/// real user's login name, other unset names become empty). A text with
/// neither comes back as a copy. Returns a new text owned by the caller
/// (release with free), or NULL when the text has more than 100 chunks or is
/// NULL. Problems are logged at level 5; a chunk that cannot be expanded
/// stays as written.
char *Util_ExpandString(const char *fileName);

/// Allocation that cannot fail: running out of memory in the run-time
/// library is unrecoverable, so these panic with "%s: unrecoverable memory
/// allocation failure\n" and the calling function's name instead of
/// returning NULL. Calloc zero-fills; Strdup and Strndup return NULL for a
/// NULL text; Strndup copies at most n bytes and always terminates. Release
/// with free.
#define Util_SafeMalloc(size) UtilSafeMalloc((size), __func__)
#define Util_SafeCalloc(count, size) UtilSafeCalloc((count), (size), __func__)
#define Util_SafeRealloc(ptr, size) UtilSafeRealloc((ptr), (size), __func__)
#define Util_SafeStrdup(text) UtilSafeStrndup((text), (size_t)-1, __func__)
#define Util_SafeStrndup(text, n) UtilSafeStrndup((text), (n), __func__)
void *UtilSafeMalloc(size_t size, const char *who);
void *UtilSafeCalloc(size_t count, size_t size, const char *who);
void *UtilSafeRealloc(void *ptr, size_t size, const char *who);
char *UtilSafeStrndup(const char *text, size_t n, const char *who);

/// Writes all length bytes to fd, going on after short writes and EINTR.
/// Returns FALSE, with errno set by write (EIO for a write that wrote
/// nothing), when the rest cannot be written. Async-signal-safe.
Bool Util_WriteAll(int fd, const void *buf, size_t length);

#endif
