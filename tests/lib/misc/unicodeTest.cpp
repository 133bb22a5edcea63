// The Unicode layer: names, validation, conversion and escaping.
#include "lib/misc/unicode.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <stdlib.h>

#include <string>

namespace {

TEST(UnicodeTest, NamesAndAliases)
{
   struct
   {
      const char *name;
      StringEncoding code;
      const char *preferred;
   } cases[] = {
       {"UTF-8", STRING_ENCODING_UTF8, "UTF-8"},
       {"utf8", STRING_ENCODING_UTF8, "UTF-8"},
       {"Utf_8", STRING_ENCODING_UTF8, "UTF-8"},
       {"ASCII", STRING_ENCODING_US_ASCII, "US-ASCII"},
       {"us-ascii", STRING_ENCODING_US_ASCII, "US-ASCII"},
       {"ANSI_X3.4-1968", STRING_ENCODING_US_ASCII, "US-ASCII"},
       {"ISO-8859-1", STRING_ENCODING_ISO_8859_1, "ISO-8859-1"},
       {"latin1", STRING_ENCODING_ISO_8859_1, "ISO-8859-1"},
       {"ISO_8859-1:1987", STRING_ENCODING_ISO_8859_1, "ISO-8859-1"},
       {"cp1252", Unicode_EncodingNameToEnum("windows-1252"), "windows-1252"},
       {"UTF-16LE", STRING_ENCODING_UTF16_LE, "UTF-16LE"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(Unicode_EncodingNameToEnum(c.name), c.code);
      EXPECT_STREQ(Unicode_EncodingEnumToName(c.code), c.preferred);
      EXPECT_TRUE(Unicode_IsEncodingSupported(c.code));
   }
   for (const char *bad : {"", "no-such-encoding", "UTF-8x"}) {
      EXPECT_EQ(Unicode_EncodingNameToEnum(bad), STRING_ENCODING_UNKNOWN) << bad;
   }
   EXPECT_EQ(Unicode_EncodingNameToEnum(nullptr), STRING_ENCODING_UNKNOWN);
   EXPECT_FALSE(Unicode_IsEncodingSupported(STRING_ENCODING_UNKNOWN));
   EXPECT_FALSE(Unicode_IsEncodingSupported(100000));
   EXPECT_EQ(Unicode_EncodingEnumToName(100000), nullptr);
}

TEST(UnicodeTest, EncodingsOutsideTheFixedTableGetStableCodes)
{
   StringEncoding a = Unicode_EncodingNameToEnum("IBM1047");
   ASSERT_GE(a, 0);
   EXPECT_EQ(Unicode_EncodingNameToEnum("ibm-1047"), a);
   ASSERT_NE(Unicode_EncodingEnumToName(a), nullptr);
   EXPECT_EQ(Unicode_EncodingNameToEnum(Unicode_EncodingEnumToName(a)), a);
   EXPECT_TRUE(Unicode_IsEncodingSupported(a));
}

TEST(UnicodeTest, CurrentEncodingFollowsTheLocale)
{
   ASSERT_NE(setlocale(LC_CTYPE, "C"), nullptr);
   EXPECT_EQ(Unicode_GetCurrentEncoding(), STRING_ENCODING_US_ASCII);
   EXPECT_EQ(Unicode_ResolveEncoding(STRING_ENCODING_DEFAULT), STRING_ENCODING_US_ASCII);
   EXPECT_STREQ(Unicode_EncodingEnumToName(STRING_ENCODING_DEFAULT), "US-ASCII");
   if (setlocale(LC_CTYPE, "C.UTF-8") != nullptr) {
      EXPECT_EQ(Unicode_GetCurrentEncoding(), STRING_ENCODING_UTF8);
   }
   EXPECT_EQ(Unicode_ResolveEncoding(STRING_ENCODING_ISO_8859_1), STRING_ENCODING_ISO_8859_1);
   setlocale(LC_CTYPE, "C");
}

TEST(UnicodeTest, Validation)
{
   struct
   {
      std::string bytes;
      StringEncoding encoding;
      bool valid;
   } cases[] = {
       {"plain", STRING_ENCODING_UTF8, true},
       {"\xC3\xA9", STRING_ENCODING_UTF8, true},
       {"\xF0\x9F\x98\x80", STRING_ENCODING_UTF8, true},
       {"\xE9", STRING_ENCODING_UTF8, false},
       {"\xC3", STRING_ENCODING_UTF8, false},
       {"\xC0\xAF", STRING_ENCODING_UTF8, false},
       {"\xED\xA0\x80", STRING_ENCODING_UTF8, false},
       {"\xF4\x90\x80\x80", STRING_ENCODING_UTF8, false},
       {"\xE0\x80\x80", STRING_ENCODING_UTF8, false},
       {"\xFF", STRING_ENCODING_UTF8, false},
       {"plain", STRING_ENCODING_US_ASCII, true},
       {"\x80", STRING_ENCODING_US_ASCII, false},
       {"\xE9\xFF", STRING_ENCODING_ISO_8859_1, true},
       {"\x82\xA0", Unicode_EncodingNameToEnum("Shift_JIS"), true},
       {"\x82", Unicode_EncodingNameToEnum("Shift_JIS"), false},
       {"abc", STRING_ENCODING_UNKNOWN, false},
   };
   for (const auto &c : cases) {
      EXPECT_EQ((bool)Unicode_IsBufferValid(c.bytes.data(), c.bytes.size(), c.encoding), c.valid)
          << c.encoding << " " << c.bytes;
   }
   EXPECT_TRUE(Unicode_IsBufferValid("abc", -1, STRING_ENCODING_US_ASCII));
}

TEST(UnicodeTest, ConversionBothWays)
{
   struct
   {
      std::string bytes;
      const char *encoding;
      std::string utf8;
   } cases[] = {
       {"caf\xE9", "ISO-8859-1", "caf\xC3\xA9"}, {"\x80", "windows-1252", "\xE2\x82\xAC"},
       {"\xA4", "ISO-8859-15", "\xE2\x82\xAC"},  {"\xC1\xC2", "KOI8-R", "\xD0\xB0\xD0\xB1"},
       {"x\xC3\xA9", "UTF-8", "x\xC3\xA9"},      {"ascii", "US-ASCII", "ascii"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.encoding);
      StringEncoding enc = Unicode_EncodingNameToEnum(c.encoding);
      char *utf8 = Unicode_AllocWithLength(c.bytes.data(), c.bytes.size(), enc);
      ASSERT_NE(utf8, nullptr);
      EXPECT_EQ(std::string(utf8), c.utf8);
      free(utf8);
      size_t len = 0;
      char *back = Unicode_GetAllocBytes(c.utf8.c_str(), enc, &len);
      ASSERT_NE(back, nullptr);
      EXPECT_EQ(std::string(back, len), c.bytes);
      free(back);
      EXPECT_TRUE(Unicode_CanGetBytesWithEncoding(c.utf8.c_str(), enc));
   }
   EXPECT_EQ(Unicode_AllocWithLength("\xE9", 1, STRING_ENCODING_UTF8), nullptr);
   EXPECT_EQ(Unicode_AllocWithLength("\xE9", 1, STRING_ENCODING_US_ASCII), nullptr);
}

TEST(UnicodeTest, UnrepresentableCharactersFail)
{
   struct
   {
      const char *utf8;
      const char *encoding;
   } cases[] = {
       {"\xE2\x82\xAC", "ISO-8859-1"}, // the euro sign
       {"\xC3\xA9", "US-ASCII"},
       {"\xD0\xB1", "windows-1252"},
       {"\xE9", "UTF-8"}, // not UTF-8 to begin with
       {"\xE9", "ISO-8859-1"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.encoding);
      StringEncoding enc = Unicode_EncodingNameToEnum(c.encoding);
      EXPECT_EQ(Unicode_GetAllocBytes(c.utf8, enc, nullptr), nullptr);
      EXPECT_FALSE(Unicode_CanGetBytesWithEncoding(c.utf8, enc));
   }
}

TEST(UnicodeTest, WideEncodings)
{
   StringEncoding enc = STRING_ENCODING_UTF16_LE;
   size_t len = 0;
   char *bytes = Unicode_GetAllocBytes("A\xC3\xA9", enc, &len);
   ASSERT_NE(bytes, nullptr);
   EXPECT_EQ(std::string(bytes, len), std::string("A\0\xE9\0", 4));
   char *utf8 = Unicode_AllocWithLength(bytes, len, enc);
   ASSERT_NE(utf8, nullptr);
   EXPECT_STREQ(utf8, "A\xC3\xA9");
   free(bytes);
   free(utf8);
   EXPECT_FALSE(Unicode_IsBufferValid("A", 1, enc));
}

TEST(UnicodeTest, EscapeBuffer)
{
   struct
   {
      std::string bytes;
      const char *shown;
   } cases[] = {
       {"plain text", "plain text"},        {"a\\b", "a\\x5Cb"},
       {"\t\n\x1F", "\\x09\\x0A\\x1F"},     {"\x7F\x80\xC3\xA9\xFF", "\\x7F\\x80\\xC3\\xA9\\xFF"},
       {std::string("a\0b", 3), "a\\x00b"},
   };
   for (const auto &c : cases) {
      char *shown = Unicode_EscapeBuffer(c.bytes.data(), c.bytes.size());
      EXPECT_STREQ(shown, c.shown);
      free(shown);
   }
   char *shown = Unicode_EscapeBuffer("x\xE9", -1);
   EXPECT_STREQ(shown, "x\\xE9");
   free(shown);
}

} // namespace
