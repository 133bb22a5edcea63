// The Unicode layer: names, validation, conversion and escaping.
#include "lib/misc/unicode.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <stdlib.h>

#include <string>
#include <tuple>

namespace {

StringEncoding Enc(const char *name)
{
   return Unicode_EncodingNameToEnum(name);
}

TEST(UnicodeTest, NamesAliasesAndTheLocaleDefault)
{
   // Alias, preferred name, fixed code (-1: one given on first use).
   const struct
   {
      const char *alias, *preferred;
      StringEncoding code;
   } cases[] = {
       {"utf8", "UTF-8", STRING_ENCODING_UTF8},
       {"ANSI_X3.4-1968", "US-ASCII", STRING_ENCODING_US_ASCII},
       {"latin1", "ISO-8859-1", STRING_ENCODING_ISO_8859_1},
       {"cp1252", "windows-1252", -1},
       {"ibm-1047", nullptr, -1},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.alias);
      StringEncoding code = Enc(c.alias);
      ASSERT_GE(code, 0);
      EXPECT_TRUE(c.code < 0 || code == c.code);
      if (c.preferred != nullptr) {
         EXPECT_STREQ(Unicode_EncodingEnumToName(code), c.preferred);
      }
      EXPECT_EQ(Enc(Unicode_EncodingEnumToName(code)), code);
      EXPECT_TRUE(Unicode_IsEncodingSupported(code));
   }
   EXPECT_EQ(Enc("IBM1047"), Enc("ibm-1047"));
   for (const char *bad : {"UTF-8x", (const char *)nullptr}) {
      EXPECT_EQ(Enc(bad), STRING_ENCODING_UNKNOWN);
   }
   EXPECT_FALSE(Unicode_IsEncodingSupported(STRING_ENCODING_UNKNOWN));

   ASSERT_NE(setlocale(LC_CTYPE, "C"), nullptr);
   EXPECT_EQ(Unicode_GetCurrentEncoding(), STRING_ENCODING_US_ASCII);
   EXPECT_EQ(Unicode_ResolveEncoding(STRING_ENCODING_DEFAULT), STRING_ENCODING_US_ASCII);
   if (setlocale(LC_CTYPE, "C.UTF-8") != nullptr) {
      EXPECT_EQ(Unicode_GetCurrentEncoding(), STRING_ENCODING_UTF8);
   }
}

TEST(UnicodeTest, Validation)
{
   const std::tuple<std::string, StringEncoding, bool> cases[] = {
       {"\xC3\xA9", STRING_ENCODING_UTF8, true},
       {"\xC0\xAF", STRING_ENCODING_UTF8, false},         // overlong
       {"\xED\xA0\x80", STRING_ENCODING_UTF8, false},     // surrogate
       {"\xF4\x90\x80\x80", STRING_ENCODING_UTF8, false}, // above U+10FFFF
       {"\x80", STRING_ENCODING_US_ASCII, false},
       {"\xE9\xFF", STRING_ENCODING_ISO_8859_1, true},
       {"\x82\xA0", Enc("Shift_JIS"), true},
       {"abc", STRING_ENCODING_UNKNOWN, false},
   };
   for (const auto &[bytes, encoding, valid] : cases) {
      EXPECT_EQ((bool)Unicode_IsBufferValid(bytes.data(), bytes.size(), encoding), valid)
          << encoding << " " << bytes;
   }
}

TEST(UnicodeTest, ConversionBothWays)
{
   const std::tuple<std::string, const char *, std::string> cases[] = {
       {"caf\xE9", "ISO-8859-1", "caf\xC3\xA9"},
       {"\x80", "windows-1252", "\xE2\x82\xAC"},
       {"\xA4", "ISO-8859-15", "\xE2\x82\xAC"},
       {std::string("A\0\xE9\0", 4), "UTF-16LE", "A\xC3\xA9"},
   };
   for (const auto &[bytes, name, utf8] : cases) {
      SCOPED_TRACE(name);
      char *text = Unicode_AllocWithLength(bytes.data(), bytes.size(), Enc(name));
      EXPECT_EQ(std::string(text != nullptr ? text : "<null>"), utf8);
      free(text);
      size_t len = 0;
      char *back = Unicode_GetAllocBytes(utf8.c_str(), Enc(name), &len);
      EXPECT_EQ(back != nullptr ? std::string(back, len) : "<null>", bytes);
      free(back);
      EXPECT_TRUE(Unicode_CanGetBytesWithEncoding(utf8.c_str(), Enc(name)));
   }
   EXPECT_EQ(Unicode_AllocWithLength("\xE9", 1, STRING_ENCODING_UTF8), nullptr);
   // A character the encoding cannot represent, or input that is not UTF-8.
   const std::pair<const char *, const char *> failing[] = {
       {"\xE2\x82\xAC", "ISO-8859-1"}, {"\xC3\xA9", "US-ASCII"}, {"\xE9", "ISO-8859-1"}};
   for (const auto &c : failing) {
      EXPECT_EQ(Unicode_GetAllocBytes(c.first, Enc(c.second), nullptr), nullptr) << c.second;
      EXPECT_FALSE(Unicode_CanGetBytesWithEncoding(c.first, Enc(c.second))) << c.second;
   }
}

TEST(UnicodeTest, EscapeBuffer)
{
   const std::pair<std::string, const char *> cases[] = {
       {"plain a\\b", "plain a\\x5Cb"},
       {"\x1F\x7F\x80\xC3\xA9", "\\x1F\\x7F\\x80\\xC3\\xA9"},
       {std::string("a\0b", 3), "a\\x00b"},

   };
   for (const auto &c : cases) {
      char *shown = Unicode_EscapeBuffer(c.first.data(), c.first.size());
      EXPECT_STREQ(shown, c.second);
      free(shown);
   }
}

} // namespace
