// Value parsing: the word tables and the conversion of texts into each type
// with its complaints and fallbacks.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "lib/user/dictionaryInt.h"
#include "support/textFiles.h"

namespace {

TEST(DictionaryParse, BoolAndTriStateWords)
{
   struct
   {
      bool tri;
      const char *text;
      int32 value;
      Bool invalid;
   } cases[] = {
       {false, "", TRUE, FALSE},      {false, "true", TRUE, FALSE},   {false, "T", TRUE, FALSE},
       {false, "yes", TRUE, FALSE},   {false, "Y", TRUE, FALSE},      {false, "ON", TRUE, FALSE},
       {false, "1", TRUE, FALSE},     {false, "false", FALSE, FALSE}, {false, "F", FALSE, FALSE},
       {false, "No", FALSE, FALSE},   {false, "n", FALSE, FALSE},     {false, "oFF", FALSE, FALSE},
       {false, "0", FALSE, FALSE},    {false, "2", FALSE, TRUE},      {false, "maybe", FALSE, TRUE},
       {false, " 1", FALSE, TRUE},    {false, "01", FALSE, TRUE},     {false, "yess", FALSE, TRUE},
       {false, nullptr, FALSE, TRUE}, {true, "yes", 1, FALSE},        {true, "off", 0, FALSE},
       {true, "auto", -1, FALSE},     {true, "DEFAULT", -1, FALSE},   {true, "DontCare", -1, FALSE},
       {true, "", 1, FALSE},          {true, "automatic", 0, TRUE},   {true, "-1", 0, TRUE},
       {true, nullptr, 0, TRUE},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.text != nullptr ? c.text : "NULL");
      Bool invalid = 77;
      if (c.tri) {
         EXPECT_EQ(c.value, Dictionary_ParseTriState(c.text, &invalid));
      } else {
         EXPECT_EQ(c.value, Dictionary_ParseBool(c.text, &invalid));
         EXPECT_EQ(c.value, Dictionary_ParseBool(c.text, nullptr));
      }
      EXPECT_EQ(c.invalid, invalid);
   }
}

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
      const char *complaint; // id, or "" for none
   } cases[] = {
       {DICT_LONG, "17", false, 17, 0, ""},
       {DICT_LONG, "-5", false, -5, 0, ""},
       {DICT_LONG, "010", false, 8, 0, ""},
       {DICT_LONG, "0x10", false, 16, 0, ""},
       {DICT_LONG, "4294967295", false, -1, 0, ""},
       {DICT_LONG, "0xFFFFFFFF", false, -1, 0, ""},
       {DICT_LONG, "4294967296", false, 0, 0, ""}, // keeps the low 32 bits
       {DICT_LONG, "8589934593", false, 1, 0, ""},
       {DICT_LONG, "", false, 0, 0, ""},
       {DICT_LONG, "12abc", false, 42, 0, "msg.dictionary.notInteger"},
       {DICT_LONG, "1 ", false, 42, 0, "msg.dictionary.notInteger"},
       {DICT_LONG, "99999999999999999999", false, 42, 0, "msg.dictionary.integerOutOfRange"},
       {DICT_INT64, "0x7fffffffffffffff", false, INT64_MAX, 0, ""},
       {DICT_INT64, "18446744073709551615", false, -1, 0, ""},
       {DICT_INT64, "010", false, 8, 0, ""},
       {DICT_INT64, "", false, 0, 0, ""},
       {DICT_INT64, "12abc", false, 7, 0, "msg.dictionary.notInteger64"},
       {DICT_INT64, "99999999999999999999", false, 7, 0, "msg.dictionary.integer64OutOfRange"},
       {DICT_DOUBLE, "-2e3", false, 0, -2000, ""},
       {DICT_DOUBLE, "", false, 0, 0.0, ""},
       {DICT_DOUBLE, "1.5x", false, 0, 2.5, "msg.dictionary.notFloat"},
       {DICT_DOUBLE, "1e999", false, 0, 2.5, "msg.dictionary.doubleOutOfRange"},
       {DICT_BOOL, "maybe", false, TRUE, 0, "msg.dictionary.notBoolean"},
       {DICT_TRISTATE, "sometimes", false, -1, 0, "msg.dictionary.notTristate"},
       {DICT_LONG, "x", true, 0, 0, "msg.dictionary.notInteger"},
       {DICT_INT64, "x", true, 0, 0, "msg.dictionary.notInteger64"},
       {DICT_DOUBLE, "x", true, 0, 0, "msg.dictionary.notFloat"},
       {DICT_BOOL, "x", true, 0, 0, "msg.dictionary.notBoolean"},
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
      EXPECT_EQ(c.complaint, std::string(msgs != nullptr ? msgs->id : ""));
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
}

TEST(DictionaryParse, ComplaintTexts)
{
   const Bool defBool = TRUE;
   const int32 defTri = -1, def32 = 9;
   struct
   {
      DictionaryValueType type;
      const void *def;
      const char *text;
      const char *expected;
   } cases[] = {
       {DICT_BOOL, &defBool, "maybe",
        "Value \"maybe\" for variable \"k\" is not a valid boolean value. Using value \"TRUE\".\n"},
       {DICT_TRISTATE, &defTri, "sometimes",
        "Value \"sometimes\" for variable \"k\" is not a valid tristate value. Using value "
        "\"default\".\n"},
       {DICT_LONG, &def32, "12abc",
        "Value \"12abc\" for variable \"k\" is not a valid integer value. Using value \"9\".\n"},
   };
   for (const auto &c : cases) {
      MsgList *msgs = nullptr;
      DictionaryValue v;
      DictionaryConvertValue("k", c.text, c.type, c.def, &v, &msgs);
      EXPECT_EQ(c.expected, fwdtest::MsgText(msgs));
      MsgList_Free(msgs);
   }
   // No list: the complaint is dropped, the fallback still applies.
   DictionaryValue v;
   DictionaryConvertValue("k", "maybe", DICT_BOOL, &defBool, &v, nullptr);
   EXPECT_EQ(TRUE, v.boolValue);
}

} // namespace
