// The Unicode layer: validation, conversion and escaping beyond what the
// dictionary file tests reach.
#include "lib/misc/unicode.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <tuple>

namespace {

StringEncoding Enc(const char *name)
{
   return Unicode_EncodingNameToEnum(name);
}

TEST(UnicodeTest, NamesValidationAndEscaping)
{
   // Names the built-in table lacks are looked up through ICU once; the
   // dictionary file tests use the table's names.
   const StringEncoding ebcdic = Enc("ibm-1047");
   ASSERT_GE(ebcdic, 0);
   EXPECT_EQ(Enc("IBM1047"), ebcdic);
   EXPECT_EQ(Enc(Unicode_EncodingEnumToName(ebcdic)), ebcdic);
   EXPECT_TRUE(Unicode_IsEncodingSupported(ebcdic));
   EXPECT_EQ(Enc("UTF-8x"), STRING_ENCODING_UNKNOWN);
   EXPECT_EQ(Enc(nullptr), STRING_ENCODING_UNKNOWN);

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
   // Complaints show bytes this way; the backslash itself is escaped too.
   char *shown = Unicode_EscapeBuffer("a\\b\x1F\0c", 6);
   EXPECT_STREQ(shown, "a\\x5Cb\\x1F\\x00c");
   free(shown);
}

TEST(UnicodeTest, ConversionBothWays)
{
   const std::tuple<std::string, const char *, std::string> cases[] = {
       {"\x80", "windows-1252", "\xE2\x82\xAC"},
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

} // namespace
