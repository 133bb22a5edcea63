// The dictionary store: typed lookup, remembered defaults, stores and their
// flags, removal, text forms and enumerations. Names are case-insensitive
// (an upper-case store below is "already defined").
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <tuple>
#include <vector>

#include "lib/user/dictionaryInt.h"
#include "support/textFiles.h"

namespace {

struct DictFixture : public ::testing::Test
{
   Dictionary *dict = Dictionary_Create();
   ~DictFixture() override { Dictionary_Free(dict); }
   // An untyped entry as the file reader would create it.
   void Load(const char *name, const char *value)
   {
      DictionaryValue v;
      v.text = (char *)value;
      DictionaryCreateEntry(dict, name, DICT_ANY, &v);
   }
   std::string Str(const char *name, const char *def)
   {
      char *s = Dictionary_GetString(dict, def, "%s", name);
      std::string out = s == nullptr ? "<null>" : s;
      free(s);
      return out;
   }
   static int Iterate(Dictionary *d, Bool includeDefaults, std::vector<std::string> *seen)
   {
      return Dictionary_Iterate(
          d,
          [](const char *name, const char *value, int index, void *data) {
             auto *out = static_cast<std::vector<std::string> *>(data);
             EXPECT_EQ((int)out->size(), index);
             out->push_back(std::string(name) + "=" + value);
          },
          seen, includeDefaults);
   }
};

TEST_F(DictFixture, ZeroDefaultsAreNotRememberedOthersAreFirstWins)
{
   // The zero of each type (NULL, FALSE, 0, -0.0), a TRUE boolean, a -1
   // tri-state: given back, not remembered.
   EXPECT_EQ("<null>", Str("k", nullptr));
   EXPECT_FALSE(Dictionary_GetBool(dict, FALSE, "k"));
   EXPECT_TRUE(Dictionary_GetBool(dict, TRUE, "k"));
   EXPECT_EQ(0, Dictionary_GetLong(dict, 0, "k"));
   EXPECT_EQ(0.0, Dictionary_GetDouble(dict, -0.0, "k"));
   int32 minusOne = -1;
   EXPECT_EQ(-1, *(const int32 *)Dictionary_Get(dict, &minusOne, DICT_TRISTATE, "k"));
   EXPECT_FALSE(Dictionary_IsDefined(dict, "k"));

   // Other defaults are remembered; the first one wins.
   EXPECT_EQ("d", Str("key", "d"));
   EXPECT_TRUE(Dictionary_IsDefined(dict, "key"));
   EXPECT_TRUE(Dictionary_NotSet(dict, "key"));
   EXPECT_EQ("d", Str("key", "e"));
   EXPECT_EQ(5, Dictionary_GetLong(dict, 5, "n"));
   EXPECT_EQ(5, Dictionary_GetLong(dict, 6, "n"));
   // An empty text is not a zero default.
   EXPECT_EQ("", Str("empty", ""));
   EXPECT_EQ(0u, Dictionary_Count(dict));
   std::vector<std::string> seen;
   EXPECT_EQ(0, Iterate(dict, FALSE, &seen));
   EXPECT_EQ(3, Iterate(dict, TRUE, &seen));

   // Unsetting a remembered default leaves the dirty flag alone.
   EXPECT_TRUE(Dictionary_Unset(dict, "key"));
   EXPECT_FALSE(Dictionary_IsDirty(dict));
   EXPECT_EQ("e", Str("key", "e"));
   // A store makes it real.
   Dictionary_SetLong(dict, 5, "n");
   EXPECT_FALSE(Dictionary_NotSet(dict, "n"));
   EXPECT_EQ(1u, Dictionary_Count(dict));
}

TEST_F(DictFixture, UntypedEntriesConvertAndEqualStoresAreNoChange)
{
   Load("flag", "maybe");
   Load("num", "0x10");
   Load("text", "hello");
   Load("tri", "auto");
   MsgList *list = nullptr;
   Bool t = TRUE;
   EXPECT_EQ(TRUE, *(const Bool *)Dictionary_GetEx(dict, &t, DICT_BOOL, "flag", &list));
   EXPECT_STREQ("msg.dictionary.notBoolean", MsgList_GetMsgID(list));
   MsgList_Free(list);
   // The entry keeps TRUE from then on, whatever the default.
   EXPECT_TRUE(Dictionary_GetBool(dict, FALSE, "flag"));
   EXPECT_EQ(16, Dictionary_GetLong(dict, 3, "num"));
   EXPECT_EQ("hello", Str("text", "x"));
   int32 def = 0;
   EXPECT_EQ(-1, *(const int32 *)Dictionary_Get(dict, &def, DICT_TRISTATE | 0x10000, "tri"));
   // Conversions are not changes.
   EXPECT_FALSE(Dictionary_IsDirty(dict));

   Load("a", "1");
   Dictionary_SetLong(dict, 1, "a");
   EXPECT_FALSE(Dictionary_IsDirty(dict));
   Dictionary_SetLong(dict, 2, "a");
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   EXPECT_EQ(2, Dictionary_GetLong(dict, 0, "a"));

   // A text stored onto a typed entry is parsed as its type.
   Dictionary_SetText(dict, "0x20", "a");
   EXPECT_EQ(32, Dictionary_GetLong(dict, 0, "a"));
}

TEST_F(DictFixture, SetFromStringCountUnsetAndPrefixes)
{
   for (const auto &[text, name, value] :
        {std::make_tuple("a=b=c", "a", "b=c"), std::make_tuple("b", "b", ""),
         std::make_tuple(" c = d ", " c ", " d ")}) {
      EXPECT_TRUE(Dictionary_SetFromString(dict, text, FALSE, nullptr));
      EXPECT_EQ(value, Str(name, "<absent>")) << text;
   }
   EXPECT_TRUE(Dictionary_IsDirty(dict));

   MsgList *list = nullptr;
   EXPECT_FALSE(Dictionary_SetFromString(dict, "A=x", TRUE, &list));
   EXPECT_EQ("Variable \"A\" is already defined.\n", fwdtest::MsgText(list));
   MsgList_Free(list);
   EXPECT_EQ("b=c", Str("a", nullptr));

   std::string text = "# comment\nLog.file = x\n";
   ASSERT_TRUE(Dictionary_LoadFromBuffer(dict, &text[0], FALSE, 0, nullptr));
   Dictionary_SetLong(dict, 1, "log.level");
   Dictionary_SetLong(dict, 3, "msg.noOK");
   EXPECT_EQ(3u, Dictionary_Count(dict));
   EXPECT_TRUE(Dictionary_HasPrefix(dict, "LOG."));
   EXPECT_FALSE(Dictionary_HasPrefix(dict, "pref."));
   EXPECT_FALSE(Dictionary_UnsetPrefix(dict, "nothing"));
   EXPECT_TRUE(Dictionary_UnsetPrefix(dict, "log."));
   EXPECT_EQ(1u, Dictionary_Count(dict));
   // Clear keeps the dirty flag.
   Dictionary_Clear(dict);
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   EXPECT_EQ(0u, Dictionary_Count(dict));
}

TEST_F(DictFixture, GetAsStringFormatsAndGetEnum)
{
   Dictionary_SetBool(dict, TRUE, "b1");
   Dictionary_SetLong(dict, -42, "l");
   Dictionary_SetDouble(dict, 1e20, "e");
   Dictionary_SetInt64(dict, INT64_C(-9000000000), "i");
   Dictionary_SetString(dict, "text", "s");
   int32 tri = -1;
   Dictionary_Set(dict, &tri, DICT_TRISTATE, "tm", nullptr);
   // Creation order.
   const std::vector<std::string> expected = {"b1=TRUE",       "l=-42",  "e=1e+20",
                                              "i=-9000000000", "s=text", "tm=DEFAULT"};
   std::vector<std::string> seen;
   EXPECT_EQ(6, Iterate(dict, FALSE, &seen));
   EXPECT_EQ(expected, seen);
   for (const std::string &kv : expected) {
      size_t eq = kv.find('=');
      const char *s = Dictionary_GetAsString(dict, kv.substr(0, eq).c_str());
      EXPECT_EQ(kv.substr(eq + 1), s != nullptr ? s : "<null>");
   }
   EXPECT_EQ(nullptr, Dictionary_GetAsString(dict, "absent"));
   // A string read of a boolean gets its text form, not the byte as a pointer.
   EXPECT_EQ("TRUE", Str("b1", "x"));
   EXPECT_EQ(7, Dictionary_GetLong(dict, 7, "s"));

   const char *choices[] = {"low", "Medium", "high", nullptr};
   Load("a", "MEDIUM");
   Load("b", "huge");
   Load("d", "huge");
   struct
   {
      const char *name, *def, *result, *complaint;
   } cases[] = {
       {"a", "low", "Medium", ""},
       {"b", "low", "low",
        "Value \"huge\" for variable \"b\" is not a valid value. Using value \"low\".\n"},
       {"d", nullptr, nullptr, "Value \"huge\" for variable \"d\" is not a valid value.\n"},
       {"absent", "high", "high", ""},
   };
   for (const auto &c : cases) {
      MsgList *list = nullptr;
      const char *r = Dictionary_GetEnum(dict, c.def, choices, c.name, &list);
      EXPECT_EQ(std::string(c.result ? c.result : "<null>"), r ? r : "<null>") << c.name;
      EXPECT_EQ(c.complaint, fwdtest::MsgText(list)) << c.name;
      MsgList_Free(list);
   }
   // The default was remembered for the absent name.
   EXPECT_TRUE(Dictionary_IsDefined(dict, "absent"));
}

} // namespace
