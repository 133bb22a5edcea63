/// Message-format capture: keeps the arguments of a printf-style call so the
/// text can be produced later, possibly from a different (localised) format.
#ifndef LIB_MISC_MSGFMT_H
#define LIB_MISC_MSGFMT_H

#include <stdarg.h>

#include "lib/misc/basicTypes.h"

typedef enum MsgFmt_ArgType {
   MSGFMT_ARG_INT32,
   MSGFMT_ARG_INT64,
   MSGFMT_ARG_DOUBLE,
   MSGFMT_ARG_LONGDOUBLE,
   MSGFMT_ARG_STRING, ///< Owned copy; NULL stays NULL.
   MSGFMT_ARG_POINTER,
} MsgFmt_ArgType;

typedef struct MsgFmt_Arg
{
   MsgFmt_ArgType type;
   union {
      int32 i32;
      int64 i64;
      double d;
      long double ld;
      char *s;
      const void *p;
   } v;
} MsgFmt_Arg;

/// Captures the arguments that fmt consumes from args. Returns TRUE with an
/// owned array (NULL when there are none) in *out; FALSE with a static
/// reason in *error for a format that cannot be captured (positional
/// arguments, %n, unknown conversions).
Bool MsgFmt_Capture(const char *fmt, va_list args, MsgFmt_Arg **out, int *numArgs,
                    const char **error);
/// Copies captured arguments (strings duplicated); NULL for none.
MsgFmt_Arg *MsgFmt_CopyArgs(const MsgFmt_Arg *args, int numArgs);
/// Frees captured arguments, wiping their strings; accepts NULL.
void MsgFmt_FreeArgs(MsgFmt_Arg *args, int numArgs);
/// Fills fmt with captured arguments, in order. A conversion whose argument
/// is missing or of another kind is copied as it stands, so a mismatched
/// (for instance localised) format never reads a wrong value. Owned by the
/// caller.
char *MsgFmt_Format(const char *fmt, const MsgFmt_Arg *args, int numArgs);

#endif
