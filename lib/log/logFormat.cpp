// The log's printf-compatible formatter. The C library's formatter spends
// most of a short message's cost on its stream machinery; this one handles
// the conversions log messages use (integers, characters, strings, pointers)
// directly into the caller's buffer and hands anything else (floating
// point, %n, %m, positional arguments, wide texts) to vsnprintf, so the
// result is always what vsnprintf would produce.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "lib/log/logInt.h"

namespace {

struct LogSink
{
   char *buf;
   size_t size; // bytes available, NUL included
   size_t pos;  // bytes produced so far, kept or not

   inline void Put(char c)
   {
      if (pos + 1 < size) {
         buf[pos] = c;
      }
      pos++;
   }
   inline void Fill(char c, size_t n)
   {
      if (pos + 1 < size) {
         size_t room = size - 1 - pos;
         memset(buf + pos, c, n < room ? n : room);
      }
      pos += n;
   }
   inline void Copy(const char *s, size_t n)
   {
      if (pos + 1 < size) {
         size_t room = size - 1 - pos;
         CopyBytes(buf + pos, s, n < room ? n : room);
      }
      pos += n;
   }
   // Most pieces of a message are a few bytes: two overlapping fixed-size
   // moves each, inline, cost less than a call into the C library whose
   // code the write system call has just pushed out of the caches.
   static inline void CopyBytes(char *d, const char *s, size_t n)
   {
      if (n >= 16) {
         if (n > 32) {
            memcpy(d, s, n);
            return;
         }
         memcpy(d, s, 16);
         memcpy(d + n - 16, s + n - 16, 16);
      } else if (n >= 8) {
         memcpy(d, s, 8);
         memcpy(d + n - 8, s + n - 8, 8);
      } else if (n >= 4) {
         memcpy(d, s, 4);
         memcpy(d + n - 4, s + n - 4, 4);
      } else {
         for (size_t i = 0; i < n; i++) {
            d[i] = s[i];
         }
      }
   }
};

struct LogSpec
{
   Bool left;     // '-'
   Bool plus;     // '+'
   Bool space;    // ' '
   Bool zero;     // '0'
   Bool alt;      // '#'
   int width;     // 0 when absent
   int precision; // -1 when absent
};

// Writes an integer conversion: sign or prefix, zero padding, digits.
HOT_PATH void LogPutInteger(LogSink *out, const LogSpec *field, uint64 magnitude, Bool negative,
                            char conv)
{
   // Digits are written from the end of the scratch area, most significant
   // first once done.
   char scratch[24];
   char *end = scratch + sizeof scratch;
   char *d = end;
   uint64 v = magnitude;
   Bool isHex = conv == 'x' || conv == 'X';
   if (conv == 'o') {
      while (v != 0) {
         *--d = (char)('0' + (v & 7));
         v >>= 3;
      }
   } else if (isHex) {
      const char *hex = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
      while (v != 0) {
         *--d = hex[v & 15];
         v >>= 4;
      }
   } else {
      // Two digits per step; the constant divisor becomes a multiplication.
      static const char pairs[] = "00010203040506070809101112131415161718192021222324"
                                  "25262728293031323334353637383940414243444546474849"
                                  "50515253545556575859606162636465666768697071727374"
                                  "75767778798081828384858687888990919293949596979899";
      while (v >= 10) {
         const char *pair = pairs + 2 * (v % 100);
         v /= 100;
         *--d = pair[1];
         *--d = pair[0];
      }
      if (v != 0) {
         *--d = (char)('0' + v);
      }
   }
   if (field->precision != 0 && magnitude == 0) {
      *--d = '0';
   }
   int n = (int)(end - d);

   if (!field->left && field->width == 0 && field->precision < 0 && !field->alt) {
      // The common case: an optional sign and the digits.
      if (negative) {
         out->Put('-');
      } else if ((conv == 'd' || conv == 'i') && (field->plus || field->space)) {
         out->Put(field->plus ? '+' : ' ');
      }
      out->Copy(d, (size_t)n);
      return;
   }

   int zeros = field->precision > n ? field->precision - n : 0;
   const char *prefix = "";
   if (conv == 'd' || conv == 'i') {
      prefix = negative ? "-" : field->plus ? "+" : field->space ? " " : "";
   } else if (field->alt && isHex && magnitude != 0) {
      prefix = conv == 'X' ? "0X" : "0x";
   } else if (field->alt && conv == 'o' && zeros == 0 && (n == 0 || d[0] != '0')) {
      zeros = 1;
   }
   int prefixLen = prefix[0] == '\0' ? 0 : prefix[1] == '\0' ? 1 : 2;
   int body = prefixLen + zeros + n;
   int pad = field->width > body ? field->width - body : 0;

   if (!field->left && !(field->zero && field->precision < 0)) {
      out->Fill(' ', (size_t)pad);
   }
   out->Copy(prefix, (size_t)prefixLen);
   if (!field->left && field->zero && field->precision < 0) {
      out->Fill('0', (size_t)pad);
   }
   out->Fill('0', (size_t)zeros);
   out->Copy(d, (size_t)n);
   if (field->left) {
      out->Fill(' ', (size_t)pad);
   }
}

HOT_PATH void LogPutPadded(LogSink *out, const LogSpec *field, const char *s, size_t len)
{
   size_t pad = field->width > 0 && (size_t)field->width > len ? (size_t)field->width - len : 0;
   if (!field->left) {
      out->Fill(' ', pad);
   }
   out->Copy(s, len);
   if (field->left) {
      out->Fill(' ', pad);
   }
}

// Reads a width or precision; FALSE for one too large to be sensible.
static Bool LogParseDecimal(const char **p, int *value)
{
   while (**p >= '0' && **p <= '9') {
      if (*value > 100000) {
         return FALSE;
      }
      *value = *value * 10 + (*(*p)++ - '0');
   }
   return TRUE;
}

// Returns FALSE, having consumed an unknown share of args, when the format
// needs the C library.
HOT_PATH Bool LogFormatFast(LogSink *out, const char *fmt, va_list args)
{
   const char *p = fmt;
   for (;;) {
      const char *pct = p;
      while (*pct != '%' && *pct != '\0') {
         pct++;
      }
      out->Copy(p, (size_t)(pct - p));
      if (*pct == '\0') {
         return TRUE;
      }
      p = pct + 1;

      LogSpec field = {FALSE, FALSE, FALSE, FALSE, FALSE, 0, -1};
      for (;; p++) {
         if (*p == '-') {
            field.left = TRUE;
         } else if (*p == '+') {
            field.plus = TRUE;
         } else if (*p == ' ') {
            field.space = TRUE;
         } else if (*p == '0') {
            field.zero = TRUE;
         } else if (*p == '#') {
            field.alt = TRUE;
         } else {
            break;
         }
      }
      if (*p == '*') {
         int w = va_arg(args, int);
         if (w < 0) {
            field.left = TRUE;
            w = w == INT32_MIN ? INT32_MAX : -w;
         }
         field.width = w;
         p++;
      } else if (!LogParseDecimal(&p, &field.width)) {
         return FALSE;
      }
      if (*p == '$') {
         return FALSE; // positional arguments
      }
      if (*p == '.') {
         p++;
         field.precision = 0;
         if (*p == '*') {
            int prec = va_arg(args, int);
            field.precision = prec < 0 ? -1 : prec;
            p++;
         } else if (!LogParseDecimal(&p, &field.precision)) {
            return FALSE;
         }
      }
      if (field.width > 100000) {
         return FALSE;
      }

      int longs = 0; // -2 hh, -1 h, 1 l, 2 ll, 3 size_t/intmax/ptrdiff
      if (*p == 'h') {
         longs = p[1] == 'h' ? -2 : -1;
         p += p[1] == 'h' ? 2 : 1;
      } else if (*p == 'l') {
         longs = p[1] == 'l' ? 2 : 1;
         p += p[1] == 'l' ? 2 : 1;
      } else if (*p == 'q') {
         longs = 2;
         p++;
      } else if (*p == 'j' || *p == 'z' || *p == 'Z' || *p == 't') {
         longs = 3;
         p++;
      }

      char conv = *p++;
      switch (conv) {
      case 'd':
      case 'i': {
         int64 v;
         if (longs >= 1) {
            v = longs == 1 ? (int64)va_arg(args, long) : (int64)va_arg(args, long long);
         } else {
            v = va_arg(args, int);
            v = longs == -2 ? (int64)(signed char)v : longs == -1 ? (int64)(short)v : v;
         }
         uint64 mag = v < 0 ? (uint64)0 - (uint64)v : (uint64)v;
         LogPutInteger(out, &field, mag, v < 0, conv);
         break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
         uint64 v;
         if (longs >= 1) {
            v = longs == 1 ? (uint64)va_arg(args, unsigned long)
                           : (uint64)va_arg(args, unsigned long long);
         } else {
            unsigned u = va_arg(args, unsigned);
            v = longs == -2   ? (uint64)(unsigned char)u
                : longs == -1 ? (uint64)(unsigned short)u
                              : u;
         }
         LogPutInteger(out, &field, v, FALSE, conv);
         break;
      }
      case 'c': {
         if (longs != 0) {
            return FALSE; // wide character
         }
         char c = (char)va_arg(args, int);
         LogPutPadded(out, &field, &c, 1);
         break;
      }
      case 's': {
         if (longs != 0) {
            return FALSE; // wide text
         }
         const char *s = va_arg(args, const char *);
         if (s == NULL) {
            return FALSE; // the C library's own placeholder
         }
         size_t len = field.precision >= 0 ? strnlen(s, (size_t)field.precision) : strlen(s);
         LogPutPadded(out, &field, s, len);
         break;
      }
      case 'p': {
         if (longs != 0 || field.left || field.plus || field.space || field.zero || field.alt ||
             field.width != 0 || field.precision >= 0) {
            return FALSE;
         }
         void *ptr = va_arg(args, void *);
         if (ptr == NULL) {
            return FALSE; // "(nil)"
         }
         LogSpec hexSpec = {FALSE, FALSE, FALSE, FALSE, TRUE, 0, -1};
         LogPutInteger(out, &hexSpec, (uint64)(uintptr_t)ptr, FALSE, 'x');
         break;
      }
      case '%':
         if (p - pct != 2) {
            return FALSE;
         }
         out->Put('%');
         break;
      default:
         return FALSE;
      }
   }
}

} // namespace

HOT_PATH int LogFormatV(char *buf, size_t size, const char *fmt, va_list args)
{
   LogSink out = {buf, size, 0};
   va_list copy;
   va_copy(copy, args);
   Bool done = LogFormatFast(&out, fmt, copy);
   va_end(copy);
   if (!done || out.pos > INT32_MAX) {
      va_copy(copy, args);
      int n = vsnprintf(buf, size, fmt, copy);
      va_end(copy);
      return n;
   }
   if (size > 0) {
      buf[out.pos < size ? out.pos : size - 1] = '\0';
   }
   return (int)out.pos;
}
