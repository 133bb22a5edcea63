// Minimal panic path: enough to make a misuse visible and end the process.
// The orderly path (core dump, user message, debugger hooks) replaces it.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "lib/panic/panic.h"

static uint32 panicCount;

static void PanicWrite(const char *text, size_t len)
{
   while (len > 0) {
      ssize_t n = write(STDERR_FILENO, text, len);
      if (n <= 0) {
         return;
      }
      text += n;
      len -= (size_t)n;
   }
}

// Drops a trailing incomplete UTF-8 sequence so the cut falls on a whole
// character.
static size_t PanicTrimUtf8(const char *text, size_t len)
{
   size_t i = len;
   size_t cont = 0;
   while (i > 0 && cont < 4 && ((unsigned char)text[i - 1] & 0xC0) == 0x80) {
      i--;
      cont++;
   }
   if (i == 0) {
      return len;
   }
   unsigned char lead = (unsigned char)text[i - 1];
   size_t need = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 4;
   if (lead >= 0x80 && cont + 1 < need) {
      return i - 1;
   }
   return len;
}

void PanicV(const char *fmt, va_list args)
{
   char buf[1024];
   va_list copy;

   va_copy(copy, args);
   MXUser_SetInPanicV(fmt, copy);
   va_end(copy);

   va_copy(copy, args);
   int n = vsnprintf(buf, sizeof buf, fmt, copy);
   va_end(copy);
   size_t len = n < 0 ? 0 : (size_t)n;
   if (len >= sizeof buf) {
      len = PanicTrimUtf8(buf, sizeof buf - 1);
      buf[len] = '\0';
   }
   PanicWrite(buf, len);

   if (__atomic_fetch_add(&panicCount, 1, __ATOMIC_SEQ_CST) != 0) {
      PanicWrite("Panic loop\n", 11);
      _exit(1);
   }
   Log_Level(1, "PANIC: %s", buf);
   _exit(255);
}

void Panic(const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   PanicV(fmt, args);
}
