// Message shaping on arbitrary bytes: the character-boundary cut, masking,
// the formatter against vsnprintf for text conversions and for one
// conversion of any flags, width, precision and length, and the ring buffer
// against a model (entries of up to 510 bytes: some larger than the area can
// hold, which are cut to fit).
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "lib/log/logInt.h"

static void Check(bool ok)
{
   if (!ok) {
      abort();
   }
}

static size_t SeqLen(unsigned char c)
{
   return c < 0x80             ? 1
          : (c & 0xE0) == 0xC0 ? 2
          : (c & 0xF0) == 0xE0 ? 3
          : (c & 0xF8) == 0xF0 ? 4
                               : 1;
}

// Whether text[0..len) is UTF-8; a cut final sequence passes when allowed.
static bool Utf8Valid(const char *text, size_t len, bool allowCutEnd)
{
   size_t i = 0;
   while (i < len) {
      unsigned char c = (unsigned char)text[i];
      size_t n = SeqLen(c);
      if (c >= 0x80 && (n == 1 || c < 0xC2)) {
         return false; // stray continuation or overlong lead
      }
      for (size_t k = 1; k < n; k++) {
         if (i + k >= len) {
            return allowCutEnd;
         }
         if (((unsigned char)text[i + k] & 0xC0) != 0x80) {
            return false;
         }
      }
      i += n;
   }
   return true;
}

static void CheckCut(const uint8_t *data, size_t size)
{
   if (size < 1) {
      return;
   }
   size_t bufSize = 1 + data[0] % 64;
   std::vector<char> buf(bufSize + 8, '#');
   memset(buf.data(), 0, bufSize);
   memcpy(buf.data(), data + 1, std::min(size - 1, bufSize - 1));
   std::vector<char> orig(buf.begin(), buf.begin() + bufSize);
   size_t len = LogCutAtCharacter(bufSize, buf.data());
   Check(len >= 1 && len <= (bufSize > 1 ? bufSize - 1 : 1));
   Check(buf[len - 1] == '\n');
   if (bufSize >= 2) {
      Check(buf[len] == '\0');
   }
   Check(buf[bufSize] == '#');
   Check(memcmp(buf.data(), orig.data(), len - 1) == 0);
   // Text that was valid UTF-8 (but for a sequence the cut broke) stays
   // valid, and loses at most the broken sequence and one character.
   size_t kept = len - 1;
   if (bufSize > 2 && Utf8Valid(orig.data(), bufSize - 1, true)) {
      Check(Utf8Valid(buf.data(), kept, false));
      Check(kept + 7 >= bufSize - 1);
   }
}

static void CheckMask(const uint8_t *data, size_t size)
{
   std::string text((const char *)data, size);
   std::string want = text;
   if (want.size() > 2) {
      size_t i = 0;
      while (want.size() - i >= 3) {
         if (tolower((unsigned char)want[i]) == 'q' && tolower((unsigned char)want[i + 1]) == 'z' &&
             tolower((unsigned char)want[i + 2]) == 'v') {
            want.replace(i, 3, "***");
            i += 3;
         } else {
            i++;
         }
      }
   }
   LogMask(&text[0], text.size());
   Check(text == want);
}

static int Format(bool ours, char *buf, size_t size, const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   int n = ours ? LogFormatV(buf, size, fmt, args) : vsnprintf(buf, size, fmt, args);
   va_end(args);
   return n;
}

static void CheckFormat(const uint8_t *data, size_t size)
{
   if (size < 3) {
      return;
   }
   int width = (int)(data[0] % 40) - 20;
   int prec = (int)(data[1] % 40) - 5;
   size_t bufSize = data[2] % 200;
   std::string text((const char *)data + 3, size - 3);
   const char *s = text.c_str();
   const char *fmts[] = {"%s|%d", "[%*s]%u", "%.*s%x", "%-*d%s", "%*.*s"};
   for (const char *fmt : fmts) {
      char a[256];
      char b[256];
      memset(a, 'A', sizeof a);
      memset(b, 'A', sizeof b);
      int na, nb;
      if (strcmp(fmt, "%s|%d") == 0) {
         na = Format(false, a, bufSize, fmt, s, width);
         nb = Format(true, b, bufSize, fmt, s, width);
      } else if (strcmp(fmt, "[%*s]%u") == 0 || strcmp(fmt, "%.*s%x") == 0) {
         int star = fmt[1] == '.' ? prec : width;
         na = Format(false, a, bufSize, fmt, star, s, (unsigned)prec);
         nb = Format(true, b, bufSize, fmt, star, s, (unsigned)prec);
      } else if (strcmp(fmt, "%-*d%s") == 0) {
         na = Format(false, a, bufSize, fmt, width, prec, s);
         nb = Format(true, b, bufSize, fmt, width, prec, s);
      } else {
         na = Format(false, a, bufSize, fmt, width, prec, s);
         nb = Format(true, b, bufSize, fmt, width, prec, s);
      }
      Check(na == nb);
      Check(memcmp(a, b, sizeof a) == 0);
   }
}

// Passes the star arguments the format asks for, then the value.
template <typename T>
static int FormatValue(bool ours, char *buf, size_t size, const char *fmt, int stars, int first,
                       int second, T value)
{
   return stars == 0   ? Format(ours, buf, size, fmt, value)
          : stars == 1 ? Format(ours, buf, size, fmt, first, value)
                       : Format(ours, buf, size, fmt, first, second, value);
}

// One conversion built from the bytes: "<%" flags width precision length
// conversion ">", its value from the bytes too.
static int FormatOneConversion(bool ours, char *buf, size_t size, const uint8_t *data)
{
   std::string fmt = "<%";
   for (int f = 0; f < 5; f++) {
      if ((data[0] >> f & 1) != 0) {
         fmt += "-+ 0#"[f];
      }
   }
   int stars = 0;
   int starValues[2] = {0, 0};
   int width = (int)(data[1] % 61) - 30;
   int precision = (int)(data[2] % 40) - 5;
   if ((data[1] & 0x80) != 0) {
      fmt += "*";
      starValues[stars++] = width;
   } else if ((data[1] & 0x40) != 0) {
      fmt += std::to_string(data[1] % 30);
   }
   if ((data[2] & 0x80) != 0) {
      fmt += ".*";
      starValues[stars++] = precision;
   } else if ((data[2] & 0x40) != 0) {
      fmt += "." + std::to_string(data[2] % 30);
   }
   const char conv = "diuxXocsp%"[data[4] % 10];
   static const char *const lengths[] = {"", "hh", "h", "l", "ll", "z", "j", "t"};
   const std::string length = strchr("diuxXo", conv) != nullptr ? lengths[data[3] % 8] : "";
   fmt += length + conv + ">";
   uint64_t value;
   memcpy(&value, data + 5, sizeof value);
   const char *f = fmt.c_str();
   const int a = starValues[0];
   const int b = starValues[1];
   const bool wide = length == "ll" || (length.size() == 1 && length != "h"); // l z j t
   if (conv == 's') {
      return FormatValue(ours, buf, size, f, stars, a, b, "text");
   }
   if (conv == 'p') {
      return FormatValue(ours, buf, size, f, stars, a, b, (void *)(uintptr_t)value);
   }
   if (wide) {
      return FormatValue(ours, buf, size, f, stars, a, b, (long long)value);
   }
   return FormatValue(ours, buf, size, f, stars, a, b, (int)value);
}

static void CheckOneConversion(const uint8_t *data, size_t size)
{
   if (size < 13) {
      return;
   }
   char a[128];
   char b[128];
   memset(a, 'A', sizeof a);
   memset(b, 'A', sizeof b);
   size_t bufSize = data[12] % sizeof a;
   Check(FormatOneConversion(false, a, bufSize, data) ==
         FormatOneConversion(true, b, bufSize, data));
   Check(memcmp(a, b, sizeof a) == 0);
}

static void CheckRing(const uint8_t *data, size_t size)
{
   uint8_t area[500];
   LogRingBuffer ring;
   LogRingBuffer_Init(&ring, area, sizeof area);
   std::deque<std::string> model;
   size_t used = 0;
   const size_t overhead = 2 + LOG_RING_RECORD_SIZE;
   LogRecord rec;
   memset(&rec, 0, sizeof rec);
   for (size_t i = 0; i < size; i++) {
      if (data[i] < 40) {
         char text[600];
         size_t len = 0;
         bool got = LogRingBuffer_Read(&ring, &rec, text, sizeof text, &len);
         Check(got == !model.empty());
         if (got) {
            Check(model.front() == std::string(text, len));
            used -= len + overhead;
            model.pop_front();
         }
      } else {
         std::string text((size_t)data[i] * 2, (char)data[i]);
         size_t len = std::min(text.size(), sizeof area - overhead - 1);
         LogRingBuffer_Append(&ring, &rec, text.size(), text.data());
         while (sizeof area - used <= len + overhead && !model.empty()) {
            used -= model.front().size() + overhead;
            model.pop_front();
         }
         model.push_back(text.substr(0, len));
         used += len + overhead;
      }
      Check(ring.used == used);
   }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   CheckCut(data, size);
   CheckMask(data, size);
   CheckFormat(data, size);
   CheckOneConversion(data, size);
   CheckRing(data, size);
   return 0;
}
