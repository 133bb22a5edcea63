// Capture and later filling of printf-style arguments. Both sides walk the
// format with the same parser, so what is captured is exactly what a later
// fill consumes.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/misc/msgFmt.h"
#include "lib/misc/util.h"

namespace {

// Widths and precisions above this are shown literally rather than asking
// the C library for an enormous field.
const long kMaxField = 4096;

enum LengthKind { LEN_INT, LEN_64, LEN_LONGDOUBLE };

struct Directive
{
   const char *start; // the "%"
   const char *end;   // one past the conversion letter
   bool widthStar;
   bool precStar;
   long width;
   long prec;
   LengthKind len;
   char conv;
   bool valid;
};

bool IsFlag(char c)
{
   return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'' || c == 'I';
}

bool IsFloatConversion(char c)
{
   return c != '\0' && strchr("fFeEgGaA", c) != NULL;
}

long ReadNumber(const char **p)
{
   long n = 0;
   while (**p >= '0' && **p <= '9') {
      if (n <= kMaxField * 10) {
         n = n * 10 + (**p - '0');
      }
      (*p)++;
   }
   return n;
}

// Parses the conversion at p (which points at "%"). Sets *error for what
// cannot be captured; directive.valid is false then.
Directive ParseDirective(const char *p, const char **error)
{
   Directive s = {};
   s.start = p;
   p++;
   const char *digits = p;
   while (*p >= '0' && *p <= '9') {
      p++;
   }
   if (*p == '$') {
      *error = "positional arguments are not supported";
      s.end = p + 1;
      return s;
   }
   p = digits;
   while (IsFlag(*p)) {
      p++;
   }
   if (*p == '*') {
      s.widthStar = true;
      p++;
   } else {
      s.width = ReadNumber(&p);
   }
   if (*p == '.') {
      p++;
      if (*p == '*') {
         s.precStar = true;
         p++;
      } else {
         s.prec = ReadNumber(&p);
      }
   }
   s.len = LEN_INT;
   if (p[0] == 'h') {
      p += p[1] == 'h' ? 2 : 1;
   } else if (p[0] == 'l') {
      p += p[1] == 'l' ? 2 : 1;
      s.len = LEN_64;
   } else if (*p == 'q' || *p == 'j' || *p == 'z' || *p == 'Z' || *p == 't') {
      p++;
      s.len = LEN_64;
   } else if (*p == 'L') {
      p++;
      s.len = LEN_LONGDOUBLE;
   }
   s.conv = *p;
   s.end = *p == '\0' ? p : p + 1;
   switch (s.conv) {
   case 'd':
   case 'i':
   case 'o':
   case 'u':
   case 'x':
   case 'X':
   case 'c':
   case 's':
   case 'p':
   case '%':
      s.valid = true;
      break;
   case 'n':
      *error = "%n is not allowed";
      break;
   case '\0':
      *error = "incomplete conversion at the end";
      break;
   default:
      if (IsFloatConversion(s.conv)) {
         s.valid = true;
      } else {
         *error = "unknown conversion";
      }
      break;
   }
   if (s.valid && s.conv == 's' && s.len == LEN_64) {
      s.valid = false;
      *error = "wide strings are not supported";
   }
   return s;
}

MsgFmt_ArgType ArgTypeOf(const Directive &s)
{
   if (s.conv == 's') {
      return MSGFMT_ARG_STRING;
   }
   if (s.conv == 'p') {
      return MSGFMT_ARG_POINTER;
   }
   if (IsFloatConversion(s.conv)) {
      return s.len == LEN_LONGDOUBLE ? MSGFMT_ARG_LONGDOUBLE : MSGFMT_ARG_DOUBLE;
   }
   return s.len == LEN_64 ? MSGFMT_ARG_INT64 : MSGFMT_ARG_INT32;
}

} // namespace

Bool MsgFmt_Capture(const char *fmt, va_list args, MsgFmt_Arg **out, int *numArgs,
                    const char **error)
{
   std::string dummy;
   MsgFmt_Arg *list = NULL;
   int n = 0;
   int cap = 0;
   va_list ap;
   va_copy(ap, args);

   *out = NULL;
   *numArgs = 0;
   auto push = [&](const MsgFmt_Arg &a) {
      if (n == cap) {
         cap = cap == 0 ? 4 : cap * 2;
         list = (MsgFmt_Arg *)Util_SafeRealloc(list, cap * sizeof *list);
      }
      list[n++] = a;
   };

   for (const char *p = fmt; *p != '\0';) {
      if (*p != '%') {
         p++;
         continue;
      }
      const char *err = NULL;
      Directive s = ParseDirective(p, &err);
      if (!s.valid) {
         va_end(ap);
         MsgFmt_FreeArgs(list, n);
         *error = err;
         return FALSE;
      }
      p = s.end;
      if (s.conv == '%') {
         continue;
      }
      MsgFmt_Arg a;
      if (s.widthStar) {
         a.type = MSGFMT_ARG_INT32;
         a.v.i32 = va_arg(ap, int);
         push(a);
      }
      if (s.precStar) {
         a.type = MSGFMT_ARG_INT32;
         a.v.i32 = va_arg(ap, int);
         push(a);
      }
      a.type = ArgTypeOf(s);
      switch (a.type) {
      case MSGFMT_ARG_INT32:
         a.v.i32 = va_arg(ap, int);
         break;
      case MSGFMT_ARG_INT64:
         a.v.i64 = va_arg(ap, long long);
         break;
      case MSGFMT_ARG_DOUBLE:
         a.v.d = va_arg(ap, double);
         break;
      case MSGFMT_ARG_LONGDOUBLE:
         a.v.ld = va_arg(ap, long double);
         break;
      case MSGFMT_ARG_STRING: {
         const char *str = va_arg(ap, const char *);
         a.v.s = Util_SafeStrdup(str);
         break;
      }
      case MSGFMT_ARG_POINTER:
         a.v.p = va_arg(ap, const void *);
         break;
      }
      push(a);
   }
   va_end(ap);
   *out = list;
   *numArgs = n;
   return TRUE;
}

MsgFmt_Arg *MsgFmt_CopyArgs(const MsgFmt_Arg *args, int numArgs)
{
   if (args == NULL || numArgs <= 0) {
      return NULL;
   }
   MsgFmt_Arg *copy = (MsgFmt_Arg *)Util_SafeCalloc((size_t)numArgs, sizeof *copy);
   for (int i = 0; i < numArgs; i++) {
      copy[i] = args[i];
      if (args[i].type == MSGFMT_ARG_STRING && args[i].v.s != NULL) {
         copy[i].v.s = Util_SafeStrdup(args[i].v.s);
      }
   }
   return copy;
}

void MsgFmt_FreeArgs(MsgFmt_Arg *args, int numArgs)
{
   if (args == NULL) {
      return;
   }
   int savedErrno = errno;
   for (int i = 0; i < numArgs; i++) {
      if (args[i].type == MSGFMT_ARG_STRING && args[i].v.s != NULL) {
         memset(args[i].v.s, 0, strlen(args[i].v.s));
         free(args[i].v.s);
      }
   }
   free(args);
   errno = savedErrno;
}

char *MsgFmt_Format(const char *fmt, const MsgFmt_Arg *args, int numArgs)
{
   std::string out;
   int next = 0;
   char buf[128];

   for (const char *p = fmt; *p != '\0';) {
      const char *pct = strchr(p, '%');
      if (pct == NULL) {
         out.append(p);
         break;
      }
      out.append(p, pct - p);
      const char *err = NULL;
      Directive s = ParseDirective(pct, &err);
      p = s.end;
      if (s.valid && s.conv == '%') {
         out.push_back('%');
         continue;
      }
      std::string directive(s.start, s.end - s.start);
      int consume = (s.widthStar ? 1 : 0) + (s.precStar ? 1 : 0) + 1;
      bool ok = s.valid && s.width <= kMaxField && s.prec <= kMaxField && next + consume <= numArgs;
      int star[2];
      int numStars = 0;
      if (ok) {
         for (int i = 0; i < consume - 1; i++) {
            const MsgFmt_Arg &a = args[next + i];
            if (a.type != MSGFMT_ARG_INT32 || a.v.i32 > kMaxField || a.v.i32 < -kMaxField) {
               ok = false;
            } else {
               star[numStars++] = a.v.i32;
            }
         }
         ok = ok && args[next + consume - 1].type == ArgTypeOf(s);
      }
      if (s.valid && next + consume <= numArgs) {
         next += consume; // a mismatched argument is still used up
      }
      if (!ok) {
         // Missing or mismatched argument: show the conversion as it stands.
         out.append(directive);
         continue;
      }
      const MsgFmt_Arg &a = args[next - 1];
      if (s.len == LEN_64) {
         // Every 64-bit length is long long on this platform; say so exactly.
         std::string::size_type conv = directive.size() - 1;
         std::string::size_type lenStart = conv;
         while (lenStart > 0 && strchr("hlqjzZtL", directive[lenStart - 1]) != NULL) {
            lenStart--;
         }
         directive.replace(lenStart, conv - lenStart, "ll");
      }
      const char *f = directive.c_str();
      int need = 0;
      // The field may be longer than buf; measure first.
      for (int pass = 0; pass < 2; pass++) {
         char *dst = pass == 0 ? buf : &out[out.size() - need];
         size_t size = pass == 0 ? sizeof buf : need + 1;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#define FMT_CALL(...)                                                                              \
   (numStars == 0   ? snprintf(dst, size, f, __VA_ARGS__)                                          \
    : numStars == 1 ? snprintf(dst, size, f, star[0], __VA_ARGS__)                                 \
                    : snprintf(dst, size, f, star[0], star[1], __VA_ARGS__))
         int r;
         switch (a.type) {
         case MSGFMT_ARG_INT32:
            r = FMT_CALL(a.v.i32);
            break;
         case MSGFMT_ARG_INT64:
            r = FMT_CALL((long long)a.v.i64);
            break;
         case MSGFMT_ARG_DOUBLE:
            r = FMT_CALL(a.v.d);
            break;
         case MSGFMT_ARG_LONGDOUBLE:
            r = FMT_CALL(a.v.ld);
            break;
         case MSGFMT_ARG_STRING:
            r = FMT_CALL(a.v.s == NULL ? "(null)" : a.v.s);
            break;
         default:
            r = FMT_CALL(a.v.p);
            break;
         }
#undef FMT_CALL
#pragma GCC diagnostic pop
         if (r < 0) {
            out.append(directive);
            break;
         }
         if (pass == 0) {
            if ((size_t)r < sizeof buf) {
               out.append(buf, r);
               break;
            }
            need = r;
            out.resize(out.size() + need);
         }
      }
   }
   return Util_SafeStrdup(out.c_str());
}
