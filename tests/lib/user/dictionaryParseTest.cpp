// Value parsing: the conversion of texts into each type, words included,
// with its complaints and fallbacks.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "lib/user/dictionaryInt.h"
#include "support/textFiles.h"

namespace {

// Each type's conversion with its default (or none: the fallback is then a
// zeroed value slot) and the complaint it leaves.
TEST(DictionaryParse, Conversions)
{
   const Bool defBool = TRUE;
   const int32 def32 = 42, defTri = -1;
   const int64 def64 = 7;
   const double defD = 2.5;
   struct
   {
      DictionaryValueType type;
      const char *text;
      bool noDefault;
      int64 i;
      double d;
      const char *complaint; // "" for none
   } cases[] = {
       {DICT_LONG, "17", false, 17, 0, ""},
       {DICT_LONG, "0x10", false, 16, 0, ""},
       {DICT_LONG, "4294967295", false, -1, 0, ""},
       {DICT_LONG, "4294967296", false, 0, 0, ""}, // keeps the low 32 bits
       {DICT_LONG, "12abc", false, 42, 0,
        "Value \"12abc\" for variable \"k\" is not a valid integer value. Using value \"42\".\n"},
       {DICT_LONG, "99999999999999999999", false, 42, 0, "msg.dictionary.integerOutOfRange"},
       {DICT_INT64, "18446744073709551615", false, -1, 0, ""},
       {DICT_INT64, "12abc", false, 7, 0, "msg.dictionary.notInteger64"},
       {DICT_INT64, "99999999999999999999", false, 7, 0, "msg.dictionary.integer64OutOfRange"},
       {DICT_DOUBLE, "-2e3", false, 0, -2000, ""},
       {DICT_DOUBLE, "1.5x", false, 0, 2.5, "msg.dictionary.notFloat"},
       {DICT_DOUBLE, "1e999", false, 0, 2.5, "msg.dictionary.doubleOutOfRange"},
       {DICT_BOOL, "maybe", false, TRUE, 0,
        "Value \"maybe\" for variable \"k\" is not a valid boolean value. Using value \"TRUE\".\n"},
       {DICT_TRISTATE, "sometimes", false, -1, 0,
        "Value \"sometimes\" for variable \"k\" is not a valid tristate value. Using value "
        "\"default\".\n"},
       // The words are whole and case-blind: no spaces, no leading zeros.
       {DICT_BOOL, "yes", false, TRUE, 0, ""},
       {DICT_BOOL, "oFF", false, FALSE, 0, ""},
       {DICT_BOOL, "01", false, TRUE, 0, "msg.dictionary.notBoolean"},
       {DICT_BOOL, " 1", false, TRUE, 0, "msg.dictionary.notBoolean"},
       {DICT_TRISTATE, "DontCare", false, -1, 0, ""},
       {DICT_TRISTATE, "", false, 1, 0, ""},
       {DICT_TRISTATE, "automatic", false, -1, 0, "msg.dictionary.notTristate"},
       {DICT_LONG, "x", true, 0, 0, "msg.dictionary.notInteger"},
       {DICT_TRISTATE, "x", true, 0, 0, "msg.dictionary.notTristate"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(std::to_string(c.type) + " " + c.text);
      const void *defs[] = {nullptr, nullptr, &defBool, &def32, &defD, &defTri, &def64};
      MsgList *msgs = nullptr;
      DictionaryValue v;
      memset(&v, 0xA5, sizeof v);
      Bool ok = DictionaryConvertValue("k", c.text, c.type, c.noDefault ? nullptr : defs[c.type],
                                       &v, &msgs);
      EXPECT_EQ(*c.complaint == '\0', ok);
      // An id, or the whole text of the complaint.
      EXPECT_EQ(c.complaint, strncmp(c.complaint, "msg.", 4) == 0 || msgs == nullptr
                                 ? std::string(msgs != nullptr ? msgs->id : "")
                                 : fwdtest::MsgText(msgs));
      MsgList_Free(msgs);
      if (c.noDefault) {
         EXPECT_EQ(0, v.int64Value);
      } else if (c.type == DICT_INT64) {
         EXPECT_EQ(c.i, v.int64Value);
      } else if (c.type == DICT_DOUBLE) {
         EXPECT_DOUBLE_EQ(c.d, v.doubleValue);
      } else if (c.type == DICT_BOOL) {
         EXPECT_EQ(c.i, v.boolValue);
      } else {
         EXPECT_EQ(c.i, v.longValue);
      }
   }
   // No text is no word; the invalid flag is optional.
   EXPECT_FALSE(Dictionary_ParseBool(nullptr, nullptr));
   EXPECT_EQ(0, Dictionary_ParseTriState(nullptr, nullptr));
   // No list: the complaint is dropped, the fallback still applies.
   DictionaryValue v;
   EXPECT_FALSE(DictionaryConvertValue("k", "maybe", DICT_BOOL, &defBool, &v, nullptr));
   EXPECT_EQ(TRUE, v.boolValue);
}

} // namespace
