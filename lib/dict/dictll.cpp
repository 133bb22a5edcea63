// The dictionary line syntax.
#include "lib/dict/dictll.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "lib/misc/util.h"

namespace {

const char kEscape = '|';

// Byte classes of the syntax, one bit each, looked up in one table.
enum {
   DICTLL_BLANK = 1,
   DICTLL_NAME = 2,
   DICTLL_BARE = 4,
   DICTLL_QUOTED = 8,
};

struct DictLLClasses
{
   unsigned char bits[256];
   DictLLClasses()
   {
      for (int c = 0; c < 256; c++) {
         Bool blank = c == ' ' || c == '\t';
         bits[c] = (unsigned char)((blank ? DICTLL_BLANK : 0) |
                                   (c != 0 && !blank && c != '#' && c != '=' ? DICTLL_NAME : 0) |
                                   (c != 0 && !blank && c != '#' ? DICTLL_BARE : 0) |
                                   (c != 0 && c != '"' ? DICTLL_QUOTED : 0));
      }
   }
};

const DictLLClasses kClasses;

inline Bool DictLLIsBlank(unsigned char c)
{
   return (kClasses.bits[c] & DICTLL_BLANK) != 0;
}

inline Bool DictLLIsNameByte(unsigned char c)
{
   return (kClasses.bits[c] & DICTLL_NAME) != 0;
}

inline Bool DictLLIsBareValueByte(unsigned char c)
{
   return (kClasses.bits[c] & DICTLL_BARE) != 0;
}

inline Bool DictLLIsQuotedValueByte(unsigned char c)
{
   return (kClasses.bits[c] & DICTLL_QUOTED) != 0;
}

inline Bool DictLLNeedsEscape(unsigned char c)
{
   return (c <= 0x1F && c != '\t') || c == '"' || c == kEscape || c == 0x7F;
}

inline int DictLLHexValue(unsigned char c)
{
   if (c >= '0' && c <= '9') {
      return c - '0';
   }
   if (c >= 'a' && c <= 'f') {
      return c - 'a' + 10;
   }
   if (c >= 'A' && c <= 'F') {
      return c - 'A' + 10;
   }
   return -1;
}

char *DictLLCopy(const char *p, size_t len)
{
   char *s = (char *)Util_SafeMalloc(len + 1);
   memcpy(s, p, len);
   s[len] = '\0';
   return s;
}

// Undoes the escapes of a value; a "|" without two hex digits stays.
char *DictLLUnescape(const char *p, size_t len)
{
   if (memchr(p, kEscape, len) == NULL) {
      return DictLLCopy(p, len);
   }
   char *s = (char *)Util_SafeMalloc(len + 1);
   size_t o = 0;
   for (size_t i = 0; i < len; i++) {
      int hi, lo;
      if (p[i] == kEscape && i + 2 < len && (hi = DictLLHexValue(p[i + 1])) >= 0 &&
          (lo = DictLLHexValue(p[i + 2])) >= 0) {
         s[o++] = (char)(hi * 16 + lo);
         i += 2;
      } else {
         s[o++] = p[i];
      }
   }
   s[o] = '\0';
   return s;
}

// Finds the name and the raw value of an assignment line (no terminator).
Bool DictLLScan(const char *p, size_t len, DictLLSpans *spans)
{
   const unsigned char *s = (const unsigned char *)p;
   size_t i = 0;

   while (i < len && DictLLIsBlank(s[i])) {
      i++;
   }
   size_t nameStart = i;
   while (i < len && DictLLIsNameByte(s[i])) {
      i++;
   }
   size_t nameEnd = i;
   if (nameEnd == nameStart) {
      return FALSE;
   }
   while (i < len && DictLLIsBlank(s[i])) {
      i++;
   }
   if (i == len || s[i] != '=') {
      return FALSE;
   }
   i++;
   while (i < len && DictLLIsBlank(s[i])) {
      i++;
   }
   size_t valueStart, valueEnd;
   if (i < len && s[i] == '"') {
      i++;
      valueStart = i;
      while (i < len && DictLLIsQuotedValueByte(s[i])) {
         i++;
      }
      valueEnd = i;
      if (i == len || s[i] != '"') {
         return FALSE;
      }
      i++;
   } else {
      valueStart = i;
      while (i < len && DictLLIsBareValueByte(s[i])) {
         i++;
      }
      valueEnd = i;
   }
   while (i < len && DictLLIsBlank(s[i])) {
      i++;
   }
   if (i != len && s[i] != '#') {
      return FALSE;
   }
   spans->nameStart = nameStart;
   spans->nameLength = nameEnd - nameStart;
   spans->valueStart = valueStart;
   spans->valueLength = valueEnd - valueStart;
   return TRUE;
}

// Parses one line (no terminator) into owned name and value, or NULLs.
void DictLLParse(const char *p, size_t len, char **name, char **value)
{
   DictLLSpans spans;
   *name = NULL;
   *value = NULL;
   if (DictLLScan(p, len, &spans)) {
      *name = DictLLCopy(p + spans.nameStart, spans.nameLength);
      *value = DictLLUnescape(p + spans.valueStart, spans.valueLength);
   }
}

// Reads one line of any length into *out; the terminator is dropped.
int DictLLReadRawLine(FILE *stream, std::string *out)
{
   out->clear();
   flockfile(stream);
   int c;
   Bool any = FALSE;
   while ((c = getc_unlocked(stream)) != EOF) {
      any = TRUE;
      if (c == '\n') {
         break;
      }
      if (c == '\r') {
         int next = getc_unlocked(stream);
         if (next != '\n' && next != EOF) {
            ungetc(next, stream);
         }
         break;
      }
      out->push_back((char)c);
   }
   Bool failed = ferror(stream) != 0;
   funlockfile(stream);
   if (failed) {
      return DICTLL_READ_ERROR;
   }
   return any ? DICTLL_READ_LINE : DICTLL_READ_EOF;
}

} // namespace

Bool DictLL_ScanLine(const char *line, size_t length, DictLLSpans *spans)
{
   return DictLLScan(line, length, spans);
}

char *DictLL_UnescapeValue(const char *raw, size_t length)
{
   return DictLLUnescape(raw, length);
}

Bool DictLL_ParseLine(const char *line, size_t length, char **name, char **value)
{
   DictLLParse(line, length, name, value);
   return *name != NULL;
}

const char *DictLL_UnmarshalLine(const char *buf, size_t bufSize, char **line, char **name,
                                 char **value)
{
   *line = NULL;
   *name = NULL;
   *value = NULL;
   if (bufSize == 0) {
      return NULL;
   }
   const char *nl = (const char *)memchr(buf, '\n', bufSize);
   size_t len = nl == NULL ? bufSize : (size_t)(nl - buf);
   *line = DictLLCopy(buf, len);
   DictLLParse(buf, len, name, value);
   return nl == NULL ? buf + bufSize : nl + 1;
}

int DictLL_ReadLine(FILE *stream, char **line, char **name, char **value)
{
   *line = NULL;
   *name = NULL;
   *value = NULL;
   std::string raw;
   int res = DictLLReadRawLine(stream, &raw);
   if (res != DICTLL_READ_LINE) {
      return res;
   }
   *line = DictLLCopy(raw.data(), raw.size());
   DictLLParse(raw.data(), raw.size(), name, value);
   // The scratch copy may hold a secret; wipe it before it goes.
   memset(&raw[0], 0, raw.size());
   return DICTLL_READ_LINE;
}

Bool DictLL_MarshalLine(std::string *output, const char *name, const char *value)
{
   static const char hex[] = "0123456789ABCDEF";
   if (value == NULL) {
      value = "";
   }
   if (name == NULL) {
      output->append(value);
      output->push_back('\n');
      return TRUE;
   }
   output->append(name);
   output->append(" = \"");
   for (const unsigned char *p = (const unsigned char *)value; *p != '\0'; p++) {
      if (DictLLNeedsEscape(*p)) {
         char esc[3] = {kEscape, hex[*p >> 4], hex[*p & 0xF]};
         output->append(esc, 3);
      } else {
         output->push_back((char)*p);
      }
   }
   output->append("\"\n");
   return TRUE;
}

Bool DictLL_WriteLine(FILE *stream, const char *name, const char *value)
{
   std::string text;
   try {
      DictLL_MarshalLine(&text, name, value);
   } catch (const std::bad_alloc &) {
      errno = ENOMEM;
      return FALSE;
   }
   size_t n = fwrite(text.data(), 1, text.size(), stream);
   return n == text.size();
}

Bool DictLL_ReadUTF8BOM(FILE *stream)
{
   if (stream == stdin) {
      return FALSE;
   }
   static const unsigned char bom[3] = {0xEF, 0xBB, 0xBF};
   off_t start = ftello(stream);
   int got[3];
   int n = 0;
   for (; n < 3; n++) {
      got[n] = getc(stream);
      if (got[n] != bom[n]) {
         break;
      }
   }
   if (n == 3) {
      return TRUE;
   }
   // Regular files go back by seeking; pipes by pushing the bytes back.
   if (start < 0 || fseeko(stream, start, SEEK_SET) != 0) {
      clearerr(stream);
      for (int i = got[n] == EOF ? n - 1 : n; i >= 0; i--) {
         ungetc(got[i], stream);
      }
   }
   return FALSE;
}
