/// Small helpers of the run-time library that belong to no other module.
#ifndef LIB_MISC_UTIL_H
#define LIB_MISC_UTIL_H

#include <stdarg.h>
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

/// calloc and strdup that end the process with a panic when memory runs
/// out: in the run-time library that failure is unrecoverable. A NULL text
/// gives NULL.
void *Util_SafeCalloc(size_t count, size_t size);
char *Util_SafeStrdup(const char *text);

#endif
