// The Unicode layer. UTF-8 and US-ASCII need no converter; everything else
// goes through ICU, opened with dlopen on first use so that processes whose
// files need no conversion never pay for loading it.
#include "lib/misc/unicode.h"

#include <dlfcn.h>
#include <langinfo.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

namespace {

#define UNICODE_STR2(x) #x
#define UNICODE_STR(x) UNICODE_STR2(x)

// The ICU entry points in use, resolved by their versioned names.
struct UnicodeIcu
{
   decltype(&ucnv_open) open;
   decltype(&ucnv_close) close;
   decltype(&ucnv_getAlias) getAlias;
   decltype(&ucnv_getStandardName) getStandardName;
   decltype(&ucnv_setToUCallBack) setToUCallBack;
   decltype(&ucnv_setFromUCallBack) setFromUCallBack;
   decltype(&ucnv_toUChars) toUChars;
   decltype(&ucnv_fromUChars) fromUChars;
   decltype(&u_strToUTF8) strToUTF8;
   decltype(&u_strFromUTF8) strFromUTF8;
   decltype(&UCNV_TO_U_CALLBACK_STOP) toStop;
   decltype(&UCNV_FROM_U_CALLBACK_STOP) fromStop;
};

UnicodeIcu gIcu;
Bool gIcuLoaded = FALSE;
std::once_flag gIcuOnce;

template <typename T> Bool UnicodeResolve(void *lib, const char *name, T *slot)
{
   *slot = (T)dlsym(lib, name);
   return *slot != NULL;
}

void UnicodeLoadIcu()
{
   void *lib = dlopen("libicuuc.so." U_ICU_VERSION_SHORT, RTLD_NOW | RTLD_LOCAL);
   if (lib == NULL) {
      return;
   }
   UnicodeIcu icu;
   Bool ok = UnicodeResolve(lib, UNICODE_STR(ucnv_open), &icu.open) &&
             UnicodeResolve(lib, UNICODE_STR(ucnv_close), &icu.close) &&
             UnicodeResolve(lib, UNICODE_STR(ucnv_getAlias), &icu.getAlias) &&
             UnicodeResolve(lib, UNICODE_STR(ucnv_getStandardName), &icu.getStandardName) &&
             UnicodeResolve(lib, UNICODE_STR(ucnv_setToUCallBack), &icu.setToUCallBack) &&
             UnicodeResolve(lib, UNICODE_STR(ucnv_setFromUCallBack), &icu.setFromUCallBack) &&
             UnicodeResolve(lib, UNICODE_STR(ucnv_toUChars), &icu.toUChars) &&
             UnicodeResolve(lib, UNICODE_STR(ucnv_fromUChars), &icu.fromUChars) &&
             UnicodeResolve(lib, UNICODE_STR(u_strToUTF8), &icu.strToUTF8) &&
             UnicodeResolve(lib, UNICODE_STR(u_strFromUTF8), &icu.strFromUTF8) &&
             UnicodeResolve(lib, UNICODE_STR(UCNV_TO_U_CALLBACK_STOP), &icu.toStop) &&
             UnicodeResolve(lib, UNICODE_STR(UCNV_FROM_U_CALLBACK_STOP), &icu.fromStop);
   if (!ok) {
      dlclose(lib);
      return;
   }
   gIcu = icu;
   gIcuLoaded = TRUE;
}

const UnicodeIcu *UnicodeGetIcu()
{
   std::call_once(gIcuOnce, UnicodeLoadIcu);
   return gIcuLoaded ? &gIcu : NULL;
}

// Codes below the table's size are fixed; stored files and callers rely on
// 0 being UTF-8 and 7 US-ASCII.
const char *const kFixedNames[] = {
    "UTF-8",        "UTF-16LE",     "UTF-16BE",     "UTF-16",       "UTF-32LE",     "UTF-32BE",
    "UTF-32",       "US-ASCII",     "ISO-8859-1",   "ISO-8859-2",   "ISO-8859-3",   "ISO-8859-4",
    "ISO-8859-5",   "ISO-8859-6",   "ISO-8859-7",   "ISO-8859-8",   "ISO-8859-9",   "ISO-8859-10",
    "ISO-8859-13",  "ISO-8859-14",  "ISO-8859-15",  "windows-1250", "windows-1251", "windows-1252",
    "windows-1253", "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258",
    "KOI8-R",       "KOI8-U",       "Shift_JIS",    "EUC-JP",       "ISO-2022-JP",  "GBK",
    "GB18030",      "Big5",         "Big5-HKSCS",   "EUC-KR",       "TIS-620",      "IBM437",
    "IBM850",       "IBM866",       "macintosh",
};

struct UnicodeEncodingInfo
{
   std::string preferred;
   std::string canonical; // ICU's converter name; empty until resolved or unknown
   Bool canonicalDone;
   int supported;       // -1 not yet checked
   int asciiCompatible; // -1 not yet checked
};

struct UnicodeRegistry
{
   std::mutex lock;
   std::vector<UnicodeEncodingInfo> encodings;
   std::unordered_map<std::string, StringEncoding> byName;
};

UnicodeRegistry &UnicodeGetRegistry()
{
   static UnicodeRegistry *registry = [] {
      UnicodeRegistry *r = new UnicodeRegistry;
      for (const char *name : kFixedNames) {
         r->encodings.push_back({name, "", FALSE, -1, -1});
      }
      r->encodings[STRING_ENCODING_UTF8].supported = 1;
      r->encodings[STRING_ENCODING_US_ASCII].supported = 1;
      r->encodings[STRING_ENCODING_UTF8].asciiCompatible = 1;
      r->encodings[STRING_ENCODING_US_ASCII].asciiCompatible = 1;
      return r;
   }();
   return *registry;
}

// Names of the two encodings handled without ICU, compared as ICU compares
// names: without letter case and without "-", "_" and blanks.
StringEncoding UnicodeFastLookup(const char *name)
{
   char norm[32];
   size_t n = 0;
   for (const char *p = name; *p != '\0'; p++) {
      if (*p == '-' || *p == '_' || *p == ' ') {
         continue;
      }
      if (n + 1 >= sizeof norm) {
         return STRING_ENCODING_UNKNOWN;
      }
      char c = *p;
      norm[n++] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
   }
   norm[n] = '\0';
   if (strcmp(norm, "utf8") == 0) {
      return STRING_ENCODING_UTF8;
   }
   if (strcmp(norm, "usascii") == 0 || strcmp(norm, "ascii") == 0 ||
       strcmp(norm, "ansix3.41968") == 0) {
      return STRING_ENCODING_US_ASCII;
   }
   return STRING_ENCODING_UNKNOWN;
}

const char *UnicodeCanonical(const UnicodeIcu *icu, const char *name)
{
   UErrorCode err = U_ZERO_ERROR;
   const char *canonical = icu->getAlias(name, 0, &err);
   return U_SUCCESS(err) ? canonical : NULL;
}

// Called with the registry lock held.
StringEncoding UnicodeIcuLookup(UnicodeRegistry &reg, const char *name)
{
   const UnicodeIcu *icu = UnicodeGetIcu();
   if (icu == NULL) {
      return STRING_ENCODING_UNKNOWN;
   }
   const char *canonical = UnicodeCanonical(icu, name);
   if (canonical == NULL) {
      return STRING_ENCODING_UNKNOWN;
   }
   for (size_t i = 0; i < reg.encodings.size(); i++) {
      UnicodeEncodingInfo &info = reg.encodings[i];
      if (!info.canonicalDone) {
         const char *c = UnicodeCanonical(icu, info.preferred.c_str());
         info.canonical = c == NULL ? "" : c;
         info.canonicalDone = TRUE;
      }
      if (info.canonical == canonical) {
         return (StringEncoding)i;
      }
   }
   UErrorCode err = U_ZERO_ERROR;
   const char *preferred = icu->getStandardName(name, "MIME", &err);
   if (preferred == NULL || U_FAILURE(err)) {
      err = U_ZERO_ERROR;
      preferred = icu->getStandardName(name, "IANA", &err);
   }
   if (preferred == NULL || U_FAILURE(err)) {
      preferred = canonical;
   }
   reg.encodings.push_back({preferred, canonical, TRUE, -1, -1});
   return (StringEncoding)(reg.encodings.size() - 1);
}

size_t UnicodeLength(const void *buf, ssize_t length)
{
   return length < 0 ? strlen((const char *)buf) : (size_t)length;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
Bool UnicodeIsUTF8(const unsigned char *s, size_t len)
{
   size_t i = 0;
   while (i < len) {
      unsigned char c = s[i];
      if (c < 0x80) {
         // Most configuration text is ASCII: skip it eight bytes at a time.
         while (i + 8 <= len) {
            uint64_t word;
            memcpy(&word, s + i, sizeof word);
            if ((word & 0x8080808080808080ULL) != 0) {
               break;
            }
            i += 8;
         }
         while (i < len && s[i] < 0x80) {
            i++;
         }
         continue;
      }
      size_t need;
      unsigned char lo = 0x80, hi = 0xBF;
      if (c >= 0xC2 && c <= 0xDF) {
         need = 1;
      } else if (c >= 0xE0 && c <= 0xEF) {
         need = 2;
         if (c == 0xE0) {
            lo = 0xA0;
         } else if (c == 0xED) {
            hi = 0x9F;
         }
      } else if (c >= 0xF0 && c <= 0xF4) {
         need = 3;
         if (c == 0xF0) {
            lo = 0x90;
         } else if (c == 0xF4) {
            hi = 0x8F;
         }
      } else {
         return FALSE;
      }
      if (len - i <= need) {
         return FALSE;
      }
      if (s[i + 1] < lo || s[i + 1] > hi) {
         return FALSE;
      }
      for (size_t k = 2; k <= need; k++) {
         if (s[i + k] < 0x80 || s[i + k] > 0xBF) {
            return FALSE;
         }
      }
      i += need + 1;
   }
   return TRUE;
}

Bool UnicodeIsASCII(const unsigned char *s, size_t len)
{
   size_t i = 0;
   for (; i + 8 <= len; i += 8) {
      uint64_t word;
      memcpy(&word, s + i, sizeof word);
      if ((word & 0x8080808080808080ULL) != 0) {
         return FALSE;
      }
   }
   for (; i < len; i++) {
      if (s[i] >= 0x80) {
         return FALSE;
      }
   }
   return TRUE;
}

char *UnicodeCopy(const void *buf, size_t len, size_t pad)
{
   char *out = (char *)malloc(len + pad);
   if (out == NULL) {
      abort();
   }
   memcpy(out, buf, len);
   memset(out + len, 0, pad);
   return out;
}

// Opens a converter for a supported code, NULL otherwise.
UConverter *UnicodeOpen(const UnicodeIcu **icuOut, StringEncoding encoding)
{
   const UnicodeIcu *icu = UnicodeGetIcu();
   const char *name = Unicode_EncodingEnumToName(encoding);
   if (icu == NULL || name == NULL) {
      return NULL;
   }
   UErrorCode err = U_ZERO_ERROR;
   UConverter *cnv = icu->open(name, &err);
   if (U_FAILURE(err)) {
      return NULL;
   }
   *icuOut = icu;
   return cnv;
}

// Decodes bytes to UTF-16, stopping at the first invalid sequence.
Bool UnicodeToUChars(StringEncoding encoding, const char *src, size_t len, std::vector<UChar> *out)
{
   const UnicodeIcu *icu = NULL;
   UConverter *cnv = UnicodeOpen(&icu, encoding);
   if (cnv == NULL) {
      return FALSE;
   }
   UErrorCode err = U_ZERO_ERROR;
   icu->setToUCallBack(cnv, icu->toStop, NULL, NULL, NULL, &err);
   out->resize(2 * len + 2);
   int32_t n = 0;
   for (int attempt = 0; attempt < 2 && U_SUCCESS(err); attempt++) {
      UErrorCode e = U_ZERO_ERROR;
      n = icu->toUChars(cnv, out->data(), (int32_t)out->size(), src, (int32_t)len, &e);
      if (e == U_BUFFER_OVERFLOW_ERROR) {
         out->resize((size_t)n + 1);
         continue;
      }
      err = e;
      break;
   }
   icu->close(cnv);
   if (U_FAILURE(err)) {
      return FALSE;
   }
   out->resize((size_t)n);
   return TRUE;
}

// Decodes strict UTF-8 to UTF-16 through ICU.
Bool UnicodeFromUTF8(const UnicodeIcu *icu, const char *utf8, std::vector<UChar> *out)
{
   size_t len = strlen(utf8);
   out->resize(len + 1);
   int32_t n = 0;
   UErrorCode err = U_ZERO_ERROR;
   icu->strFromUTF8(out->data(), (int32_t)out->size(), &n, utf8, (int32_t)len, &err);
   if (U_FAILURE(err)) {
      return FALSE;
   }
   out->resize((size_t)n);
   return TRUE;
}

} // namespace

StringEncoding Unicode_EncodingNameToEnum(const char *name)
{
   if (name == NULL || name[0] == '\0') {
      return STRING_ENCODING_UNKNOWN;
   }
   StringEncoding fast = UnicodeFastLookup(name);
   if (fast != STRING_ENCODING_UNKNOWN) {
      return fast;
   }
   UnicodeRegistry &reg = UnicodeGetRegistry();
   std::lock_guard<std::mutex> guard(reg.lock);
   auto it = reg.byName.find(name);
   if (it != reg.byName.end()) {
      return it->second;
   }
   StringEncoding code = UnicodeIcuLookup(reg, name);
   // Remember only found names: the table must not grow with arbitrary input.
   if (code != STRING_ENCODING_UNKNOWN && reg.byName.size() < 1024) {
      reg.byName.emplace(name, code);
   }
   return code;
}

const char *Unicode_EncodingEnumToName(StringEncoding encoding)
{
   encoding = Unicode_ResolveEncoding(encoding);
   if (encoding < 0) {
      return NULL;
   }
   if (encoding < (StringEncoding)(sizeof kFixedNames / sizeof kFixedNames[0])) {
      return kFixedNames[encoding];
   }
   UnicodeRegistry &reg = UnicodeGetRegistry();
   std::lock_guard<std::mutex> guard(reg.lock);
   if ((size_t)encoding >= reg.encodings.size()) {
      return NULL;
   }
   // Entries are never removed or renamed, so the text outlives the lock.
   return reg.encodings[encoding].preferred.c_str();
}

Bool Unicode_IsEncodingSupported(StringEncoding encoding)
{
   encoding = Unicode_ResolveEncoding(encoding);
   if (encoding == STRING_ENCODING_UTF8 || encoding == STRING_ENCODING_US_ASCII) {
      return TRUE;
   }
   if (encoding < 0) {
      return FALSE;
   }
   UnicodeRegistry &reg = UnicodeGetRegistry();
   {
      std::lock_guard<std::mutex> guard(reg.lock);
      if ((size_t)encoding >= reg.encodings.size()) {
         return FALSE;
      }
      if (reg.encodings[encoding].supported >= 0) {
         return reg.encodings[encoding].supported != 0;
      }
   }
   const UnicodeIcu *icu = NULL;
   UConverter *cnv = UnicodeOpen(&icu, encoding);
   if (cnv != NULL) {
      icu->close(cnv);
   }
   std::lock_guard<std::mutex> guard(reg.lock);
   reg.encodings[encoding].supported = cnv != NULL;
   return cnv != NULL;
}

Bool Unicode_IsEncodingAsciiCompatible(StringEncoding encoding)
{
   encoding = Unicode_ResolveEncoding(encoding);
   if (!Unicode_IsEncodingSupported(encoding)) {
      return FALSE;
   }
   UnicodeRegistry &reg = UnicodeGetRegistry();
   {
      std::lock_guard<std::mutex> guard(reg.lock);
      if (reg.encodings[encoding].asciiCompatible >= 0) {
         return reg.encodings[encoding].asciiCompatible != 0;
      }
   }
   std::string ascii = "\t\n\r";
   for (char c = 0x20; c < 0x7F; c++) {
      ascii.push_back(c);
   }
   size_t len = 0;
   char *bytes = Unicode_GetAllocBytes(ascii.c_str(), encoding, &len);
   Bool same = bytes != NULL && len == ascii.size() && memcmp(bytes, ascii.data(), len) == 0;
   free(bytes);
   std::lock_guard<std::mutex> guard(reg.lock);
   reg.encodings[encoding].asciiCompatible = same;
   return same;
}

const char *Unicode_GetCurrentCodeSetName(void)
{
   return nl_langinfo(CODESET);
}

StringEncoding Unicode_GetCurrentEncoding(void)
{
   const char *codeset = nl_langinfo(CODESET);
   StringEncoding code = Unicode_EncodingNameToEnum(codeset);
   return code >= 0 ? code : STRING_ENCODING_US_ASCII;
}

StringEncoding Unicode_ResolveEncoding(StringEncoding encoding)
{
   return encoding == STRING_ENCODING_DEFAULT ? Unicode_GetCurrentEncoding() : encoding;
}

Bool Unicode_IsBufferValid(const void *buf, ssize_t length, StringEncoding encoding)
{
   size_t len = UnicodeLength(buf, length);
   encoding = Unicode_ResolveEncoding(encoding);
   if (encoding == STRING_ENCODING_UTF8) {
      return UnicodeIsUTF8((const unsigned char *)buf, len);
   }
   if (encoding == STRING_ENCODING_US_ASCII) {
      return UnicodeIsASCII((const unsigned char *)buf, len);
   }
   std::vector<UChar> chars;
   return UnicodeToUChars(encoding, (const char *)buf, len, &chars);
}

char *Unicode_AllocWithLength(const void *buf, ssize_t length, StringEncoding encoding)
{
   size_t len = UnicodeLength(buf, length);
   encoding = Unicode_ResolveEncoding(encoding);
   if (encoding == STRING_ENCODING_UTF8 || encoding == STRING_ENCODING_US_ASCII) {
      return Unicode_IsBufferValid(buf, (ssize_t)len, encoding) ? UnicodeCopy(buf, len, 1) : NULL;
   }
   std::vector<UChar> chars;
   if (!UnicodeToUChars(encoding, (const char *)buf, len, &chars)) {
      return NULL;
   }
   const UnicodeIcu *icu = UnicodeGetIcu();
   std::string out(3 * chars.size() + 1, '\0');
   int32_t n = 0;
   UErrorCode err = U_ZERO_ERROR;
   icu->strToUTF8(&out[0], (int32_t)out.size(), &n, chars.data(), (int32_t)chars.size(), &err);
   memset(chars.data(), 0, chars.size() * sizeof(UChar));
   if (U_FAILURE(err)) {
      return NULL;
   }
   char *result = UnicodeCopy(out.data(), (size_t)n, 1);
   memset(&out[0], 0, out.size());
   return result;
}

char *Unicode_GetAllocBytes(const char *utf8, StringEncoding encoding, size_t *length)
{
   size_t len = strlen(utf8);
   encoding = Unicode_ResolveEncoding(encoding);
   if (!UnicodeIsUTF8((const unsigned char *)utf8, len)) {
      return NULL;
   }
   if (encoding == STRING_ENCODING_UTF8 ||
       (encoding == STRING_ENCODING_US_ASCII && UnicodeIsASCII((const unsigned char *)utf8, len))) {
      if (length != NULL) {
         *length = len;
      }
      return UnicodeCopy(utf8, len, 1);
   }
   if (encoding == STRING_ENCODING_US_ASCII) {
      return NULL;
   }
   const UnicodeIcu *icu = NULL;
   UConverter *cnv = UnicodeOpen(&icu, encoding);
   if (cnv == NULL) {
      return NULL;
   }
   std::vector<UChar> chars;
   std::vector<char> out;
   UErrorCode err = U_ZERO_ERROR;
   Bool ok = UnicodeFromUTF8(icu, utf8, &chars);
   if (ok) {
      icu->setFromUCallBack(cnv, icu->fromStop, NULL, NULL, NULL, &err);
      out.resize(4 * chars.size() + 8);
      int32_t n = 0;
      for (int attempt = 0; attempt < 2 && U_SUCCESS(err); attempt++) {
         UErrorCode e = U_ZERO_ERROR;
         n = icu->fromUChars(cnv, out.data(), (int32_t)out.size(), chars.data(),
                             (int32_t)chars.size(), &e);
         if (e == U_BUFFER_OVERFLOW_ERROR) {
            out.resize((size_t)n + 8);
            continue;
         }
         err = e;
         break;
      }
      ok = U_SUCCESS(err);
      if (ok) {
         out.resize((size_t)n);
      }
   }
   icu->close(cnv);
   memset(chars.data(), 0, chars.size() * sizeof(UChar));
   if (!ok) {
      return NULL;
   }
   if (length != NULL) {
      *length = out.size();
   }
   // Four NUL bytes end the text in any unit size.
   char *result = UnicodeCopy(out.data(), out.size(), 4);
   memset(out.data(), 0, out.size());
   return result;
}

Bool Unicode_CanGetBytesWithEncoding(const char *utf8, StringEncoding encoding)
{
   size_t len = 0;
   char *bytes = Unicode_GetAllocBytes(utf8, encoding, &len);
   if (bytes == NULL) {
      return FALSE;
   }
   memset(bytes, 0, len);
   free(bytes);
   return TRUE;
}

char *Unicode_EscapeBuffer(const void *buf, ssize_t length)
{
   static const char hex[] = "0123456789ABCDEF";
   size_t len = UnicodeLength(buf, length);
   const unsigned char *s = (const unsigned char *)buf;
   std::string out;
   out.reserve(len);
   for (size_t i = 0; i < len; i++) {
      unsigned char c = s[i];
      if (c < 0x20 || c == '\\' || c >= 0x7F) {
         char esc[4] = {'\\', 'x', hex[c >> 4], hex[c & 0xF]};
         out.append(esc, 4);
      } else {
         out.push_back((char)c);
      }
   }
   return UnicodeCopy(out.data(), out.size(), 1);
}
