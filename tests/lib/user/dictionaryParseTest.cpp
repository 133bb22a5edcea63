// Value parsing: the word tables and the conversion of texts into each type
// with its complaints and fallbacks.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/user/dictionaryInt.h"

namespace {

struct MsgListHolder
{
   MsgList *list = nullptr;
   ~MsgListHolder() { MsgList_Free(list); }
   std::string Text() const
   {
      char *s = MsgList_ToString(list);
      std::string out(s);
      free(s);
      return out;
   }
   std::string Id() const { return list == nullptr ? "" : list->id; }
};

TEST(DictionaryParse, BoolWords)
{
   struct
   {
      const char *text;
      Bool value;
      Bool invalid;
   } cases[] = {
       {"", TRUE, FALSE},   {"true", TRUE, FALSE}, {"T", TRUE, FALSE},     {"yes", TRUE, FALSE},
       {"Y", TRUE, FALSE},  {"ON", TRUE, FALSE},   {"1", TRUE, FALSE},     {"false", FALSE, FALSE},
       {"F", FALSE, FALSE}, {"No", FALSE, FALSE},  {"n", FALSE, FALSE},    {"oFF", FALSE, FALSE},
       {"0", FALSE, FALSE}, {"2", FALSE, TRUE},    {"maybe", FALSE, TRUE}, {" 1", FALSE, TRUE},
       {"01", FALSE, TRUE}, {"yess", FALSE, TRUE}, {nullptr, FALSE, TRUE},
   };
   for (const auto &c : cases) {
      Bool invalid = 77;
      EXPECT_EQ(c.value, Dictionary_ParseBool(c.text, &invalid)) << (c.text ? c.text : "NULL");
      EXPECT_EQ(c.invalid, invalid) << (c.text ? c.text : "NULL");
      EXPECT_EQ(c.value, Dictionary_ParseBool(c.text, nullptr));
   }
}

TEST(DictionaryParse, TriStateWords)
{
   struct
   {
      const char *text;
      int32 value;
      Bool invalid;
   } cases[] = {
       {"yes", 1, FALSE},      {"off", 0, FALSE},       {"auto", -1, FALSE},
       {"DEFAULT", -1, FALSE}, {"DontCare", -1, FALSE}, {"", 1, FALSE},
       {"automatic", 0, TRUE}, {"-1", 0, TRUE},         {nullptr, 0, TRUE},
   };
   for (const auto &c : cases) {
      Bool invalid = 77;
      EXPECT_EQ(c.value, Dictionary_ParseTriState(c.text, &invalid)) << (c.text ? c.text : "");
      EXPECT_EQ(c.invalid, invalid) << (c.text ? c.text : "");
   }
}

TEST(DictionaryParse, Int32Conversion)
{
   const int32 def = 42;
   struct
   {
      const char *text;
      int32 value;
      const char *complaint; // id, or "" for none
   } cases[] = {
       {"17", 17, ""},
       {"-5", -5, ""},
       {"010", 8, ""},
       {"0x10", 16, ""},
       {"4294967295", -1, ""},
       {"0xFFFFFFFF", -1, ""},
       {"4294967296", 0, ""}, // keeps the low 32 bits
       {"8589934593", 1, ""},
       {"", 0, ""},
       {"12abc", def, "msg.dictionary.notInteger"},
       {"abc", def, "msg.dictionary.notInteger"},
       {"1 ", def, "msg.dictionary.notInteger"},
       {"99999999999999999999", def, "msg.dictionary.integerOutOfRange"},
   };
   for (const auto &c : cases) {
      MsgListHolder msgs;
      DictionaryValue v;
      Bool ok = DictionaryConvertValue("k", c.text, DICT_LONG, &def, &v, &msgs.list);
      EXPECT_EQ(c.value, v.longValue) << c.text;
      EXPECT_EQ(*c.complaint == '\0', ok) << c.text;
      EXPECT_EQ(c.complaint, msgs.Id()) << c.text;
   }
}

TEST(DictionaryParse, Int64AndDoubleConversion)
{
   const int64 def64 = 7;
   const double defD = 2.5;
   struct
   {
      DictionaryValueType type;
      const char *text;
      int64 i64;
      double d;
      const char *complaint;
   } cases[] = {
       {DICT_INT64, "-1", -1, 0, ""},
       {DICT_INT64, "0x7fffffffffffffff", INT64_MAX, 0, ""},
       {DICT_INT64, "18446744073709551615", -1, 0, ""},
       {DICT_INT64, "010", 8, 0, ""},
       {DICT_INT64, "", 0, 0, ""},
       {DICT_INT64, "12abc", def64, 0, "msg.dictionary.notInteger64"},
       {DICT_INT64, "99999999999999999999", def64, 0, "msg.dictionary.integer64OutOfRange"},
       {DICT_DOUBLE, "1.5", 0, 1.5, ""},
       {DICT_DOUBLE, "-2e3", 0, -2000, ""},
       {DICT_DOUBLE, "", 0, 0.0, ""},
       {DICT_DOUBLE, "1.5x", 0, defD, "msg.dictionary.notFloat"},
       {DICT_DOUBLE, "1e999", 0, defD, "msg.dictionary.doubleOutOfRange"},
   };
   for (const auto &c : cases) {
      MsgListHolder msgs;
      DictionaryValue v;
      const void *def = c.type == DICT_INT64 ? (const void *)&def64 : (const void *)&defD;
      DictionaryConvertValue("k", c.text, c.type, def, &v, &msgs.list);
      if (c.type == DICT_INT64) {
         EXPECT_EQ(c.i64, v.int64Value) << c.text;
      } else {
         EXPECT_DOUBLE_EQ(c.d, v.doubleValue) << c.text;
      }
      EXPECT_EQ(c.complaint, msgs.Id()) << c.text;
   }
}

TEST(DictionaryParse, FallbackWithoutDefaultIsZero)
{
   struct
   {
      DictionaryValueType type;
      const char *text;
   } cases[] = {{DICT_LONG, "x"},
                {DICT_INT64, "x"},
                {DICT_DOUBLE, "x"},
                {DICT_BOOL, "x"},
                {DICT_TRISTATE, "x"}};
   for (const auto &c : cases) {
      DictionaryValue v;
      memset(&v, 0xA5, sizeof v);
      EXPECT_FALSE(DictionaryConvertValue("k", c.text, c.type, nullptr, &v, nullptr));
      EXPECT_EQ(0, v.int64Value) << c.type;
   }
}

TEST(DictionaryParse, ComplaintTexts)
{
   struct
   {
      DictionaryValueType type;
      const char *text;
      Bool boolDef;
      int32 longDef;
      const char *expected;
   } cases[] = {
       {DICT_BOOL, "maybe", TRUE, 0,
        "Value \"maybe\" for variable \"k\" is not a valid boolean value. Using value \"TRUE\".\n"},
       {DICT_TRISTATE, "sometimes", 0, -1,
        "Value \"sometimes\" for variable \"k\" is not a valid tristate value. Using value "
        "\"default\".\n"},
       {DICT_LONG, "12abc", 0, 9,
        "Value \"12abc\" for variable \"k\" is not a valid integer value. Using value \"9\".\n"},
   };
   for (const auto &c : cases) {
      MsgListHolder msgs;
      DictionaryValue v;
      const void *def = c.type == DICT_BOOL ? (const void *)&c.boolDef : (const void *)&c.longDef;
      DictionaryConvertValue("k", c.text, c.type, def, &v, &msgs.list);
      EXPECT_EQ(c.expected, msgs.Text());
   }
   // No list: the complaint is dropped, the fallback still applies.
   Bool def = TRUE;
   DictionaryValue v;
   DictionaryConvertValue("k", "maybe", DICT_BOOL, &def, &v, nullptr);
   EXPECT_EQ(TRUE, v.boolValue);
}

} // namespace
