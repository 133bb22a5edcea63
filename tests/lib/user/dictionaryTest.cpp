// The dictionary store: typed lookup, remembered defaults, stores and their
// flags, removal, text forms, enumerations and the index.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "lib/user/dictionaryInt.h"

namespace {

struct DictFixture : public ::testing::Test
{
   Dictionary *dict = Dictionary_Create();
   MsgList *msgs = nullptr;
   ~DictFixture() override
   {
      Dictionary_Free(dict);
      MsgList_Free(msgs);
   }
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
};

TEST_F(DictFixture, AbsentZeroDefaultsRecordNothing)
{
   const char *none = nullptr;
   Bool f = FALSE;
   Bool t = TRUE;
   int32 zero = 0;
   int32 minusOne = -1;
   double negZero = -0.0;
   int64 zero64 = 0;
   EXPECT_EQ(nullptr, *(char *const *)Dictionary_Get(dict, &none, DICT_STRING, "a"));
   EXPECT_EQ(FALSE, *(const Bool *)Dictionary_Get(dict, &f, DICT_BOOL, "b"));
   EXPECT_EQ(TRUE, *(const Bool *)Dictionary_Get(dict, &t, DICT_BOOL, "c"));
   EXPECT_EQ(0, *(const int32 *)Dictionary_Get(dict, &zero, DICT_LONG, "d"));
   EXPECT_EQ(-1, *(const int32 *)Dictionary_Get(dict, &minusOne, DICT_LONG, "e"));
   EXPECT_EQ(-1, *(const int32 *)Dictionary_Get(dict, &minusOne, DICT_TRISTATE, "f"));
   EXPECT_EQ(0.0, *(const double *)Dictionary_Get(dict, &negZero, DICT_DOUBLE, "g"));
   EXPECT_EQ(0, *(const int64 *)Dictionary_Get(dict, &zero64, DICT_INT64, "h"));
   EXPECT_EQ(FALSE, Dictionary_GetBool(dict, FALSE, "i"));
   EXPECT_TRUE(Dictionary_GetBool(dict, TRUE, "j"));
   EXPECT_EQ(nullptr, DictionaryFirstEntry(dict));
   EXPECT_EQ(0u, dict->numEntries);
   EXPECT_FALSE(Dictionary_IsDirty(dict));
}

TEST_F(DictFixture, RememberedDefaultFirstDefaultWins)
{
   EXPECT_EQ("d", Str("key", "d"));
   EXPECT_TRUE(Dictionary_IsDefined(dict, "key"));
   EXPECT_TRUE(Dictionary_NotSet(dict, "key"));
   EXPECT_EQ("d", Str("key", "e"));
   EXPECT_EQ(5, Dictionary_GetLong(dict, 5, "n"));
   EXPECT_EQ(5, Dictionary_GetLong(dict, 6, "n"));
   EXPECT_EQ(2.5, Dictionary_GetDouble(dict, 2.5, "x"));
   EXPECT_EQ(2.5, Dictionary_GetDouble(dict, 3.5, "x"));
   EXPECT_EQ(INT64_C(1) << 40, Dictionary_GetInt64(dict, INT64_C(1) << 40, "big"));
   EXPECT_EQ(INT64_C(1) << 40, Dictionary_GetInt64(dict, 3, "big"));
   // An empty text is not a zero default.
   EXPECT_EQ("", Str("empty", ""));
   EXPECT_TRUE(Dictionary_IsDefined(dict, "empty"));

   EXPECT_EQ(0u, Dictionary_Count(dict));
   EXPECT_EQ(5u, dict->numEntries);
   EXPECT_FALSE(Dictionary_IsDirty(dict));
   EXPECT_EQ(0, Dictionary_Iterate(
                    dict, [](const char *, const char *, int, void *) {}, nullptr, FALSE));
   EXPECT_EQ(5, Dictionary_Iterate(
                    dict, [](const char *, const char *, int, void *) {}, nullptr, TRUE));

   // Unsetting a remembered default leaves the dirty flag alone.
   EXPECT_TRUE(Dictionary_Unset(dict, "key"));
   EXPECT_FALSE(Dictionary_IsDirty(dict));
   EXPECT_EQ("e", Str("key", "e"));

   // A store makes it real.
   Dictionary_SetLong(dict, 5, "n");
   EXPECT_FALSE(Dictionary_NotSet(dict, "n"));
   EXPECT_EQ(1u, Dictionary_Count(dict));
}

TEST_F(DictFixture, NamesDifferingInCaseAreOneEntry)
{
   Dictionary_SetString(dict, "one", "Foo.Bar");
   Dictionary_SetString(dict, "two", "FOO.BAR");
   EXPECT_EQ(1u, Dictionary_Count(dict));
   EXPECT_EQ("two", Str("foo.bar", nullptr));
   EXPECT_TRUE(Dictionary_Unset(dict, "fOO.bAR"));
   EXPECT_EQ(0u, Dictionary_Count(dict));

   Dictionary *exact = Dictionary_CreateEx(16, TRUE);
   Dictionary_SetLong(exact, 1, "A");
   Dictionary_SetLong(exact, 2, "a");
   EXPECT_EQ(2u, Dictionary_Count(exact));
   EXPECT_EQ(1, Dictionary_GetLong(exact, 0, "A"));
   EXPECT_EQ(2, Dictionary_GetLong(exact, 0, "a"));
   Dictionary_Free(exact);
}

TEST_F(DictFixture, UntypedEntriesConvertOnFirstLookup)
{
   Load("flag", "maybe");
   Load("num", "0x10");
   Load("text", "hello");
   Load("tri", "auto");
   MsgList *list = nullptr;
   Bool t = TRUE;
   EXPECT_EQ(TRUE, *(const Bool *)Dictionary_GetEx(dict, &t, DICT_BOOL, "flag", &list));
   ASSERT_NE(nullptr, list);
   EXPECT_STREQ("msg.dictionary.notBoolean", list->id);
   MsgList_Free(list);
   // The entry keeps TRUE from then on, whatever the default.
   EXPECT_TRUE(Dictionary_GetBool(dict, FALSE, "flag"));
   EXPECT_EQ(DICT_BOOL, DictionaryFindEntry(dict, "flag")->type);

   EXPECT_EQ(16, Dictionary_GetLong(dict, 3, "num"));
   EXPECT_EQ("hello", Str("text", "x"));
   EXPECT_EQ(DICT_STRING, DictionaryFindEntry(dict, "text")->type);
   int32 def = 0;
   EXPECT_EQ(-1, *(const int32 *)Dictionary_Get(dict, &def, DICT_TRISTATE | 0x10000, "tri"));
   // Conversions are not changes.
   EXPECT_FALSE(Dictionary_IsDirty(dict));
}

TEST_F(DictFixture, StoresSetFlags)
{
   Load("a", "1");
   EXPECT_FALSE(Dictionary_IsDirty(dict));

   // Equal value: no change.
   Dictionary_SetLong(dict, 1, "a");
   EXPECT_FALSE(DictionaryFindEntry(dict, "a")->modified);
   EXPECT_FALSE(Dictionary_IsDirty(dict));

   // Different value.
   Dictionary_SetLong(dict, 2, "a");
   EXPECT_TRUE(DictionaryFindEntry(dict, "a")->modified);
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   EXPECT_EQ(2, Dictionary_GetLong(dict, 0, "a"));

   // A text stored onto a typed entry is parsed as its type.
   Dictionary_SetText(dict, "0x20", "a");
   EXPECT_EQ(32, Dictionary_GetLong(dict, 0, "a"));
   MsgList *list = nullptr;
   const char *bad = "zz";
   Dictionary_Set(dict, &bad, DICT_ANY, "a", &list);
   ASSERT_NE(nullptr, list);
   EXPECT_STREQ("msg.dictionary.notInteger", list->id);
   MsgList_Free(list);
   EXPECT_EQ(0, Dictionary_GetLong(dict, 9, "a"));

   // Missing and empty texts differ in storage only.
   Dictionary *d2 = Dictionary_Create();
   const char *none = nullptr;
   Dictionary_Set(d2, &none, DICT_STRING, "s", nullptr);
   d2->dirty = FALSE;
   DictionaryFindEntry(d2, "s")->modified = FALSE;
   Dictionary_SetString(d2, "", "s");
   EXPECT_FALSE(Dictionary_IsDirty(d2));
   EXPECT_STREQ("", DictionaryFindEntry(d2, "s")->value.text);
   Dictionary_Free(d2);
}

TEST_F(DictFixture, SetFromString)
{
   struct
   {
      const char *text;
      const char *name;
      const char *value;
   } cases[] = {{"a=b=c", "a", "b=c"}, {"b", "b", ""}, {"=v", "", "v"}, {" c = d ", " c ", " d "}};
   for (const auto &c : cases) {
      EXPECT_TRUE(Dictionary_SetFromString(dict, c.text, FALSE, nullptr));
      DictionaryEntry *e = DictionaryFindEntry(dict, c.name);
      ASSERT_NE(nullptr, e) << c.text;
      EXPECT_EQ(DICT_ANY, e->type);
      EXPECT_STREQ(c.value, e->value.text);
      EXPECT_TRUE(e->modified);
   }
   EXPECT_TRUE(Dictionary_IsDirty(dict));

   MsgList *list = nullptr;
   EXPECT_FALSE(Dictionary_SetFromString(dict, "A=x", TRUE, &list));
   ASSERT_NE(nullptr, list);
   char *text = MsgList_ToString(list);
   EXPECT_STREQ("Variable \"A\" is already defined.\n", text);
   free(text);
   MsgList_Free(list);
   EXPECT_STREQ("b=c", DictionaryFindEntry(dict, "a")->value.text);

   EXPECT_TRUE(Dictionary_SetFromString(dict, "A=x", FALSE, nullptr));
   EXPECT_STREQ("x", DictionaryFindEntry(dict, "a")->value.text);
}

TEST_F(DictFixture, CountUnsetAndPrefixes)
{
   Dictionary_SetLong(dict, 1, "log.level");
   Dictionary_SetLong(dict, 2, "log.keep");
   Dictionary_SetLong(dict, 3, "msg.noOK");
   Load("Log.file", "x");
   EXPECT_EQ(4u, Dictionary_Count(dict));
   EXPECT_TRUE(Dictionary_HasPrefix(dict, "LOG."));
   EXPECT_FALSE(Dictionary_HasPrefix(dict, "pref."));
   EXPECT_FALSE(Dictionary_Unset(dict, "nothing"));
   EXPECT_FALSE(Dictionary_UnsetPrefix(dict, "nothing"));

   // The line of a removed entry goes with it.
   DictionaryEntry *e = DictionaryFindEntry(dict, "log.file");
   DictionaryAppendLine(dict, strdup("# comment\n"), nullptr);
   DictionaryAppendLine(dict, strdup("Log.file = \"x\"\n"), e);
   dict->dirty = FALSE;
   EXPECT_TRUE(Dictionary_UnsetPrefix(dict, "log."));
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   EXPECT_EQ(1u, Dictionary_Count(dict));
   DictionaryLine *line = DictionaryFirstLine(dict);
   ASSERT_NE(nullptr, line);
   EXPECT_STREQ("# comment\n", line->text);
   EXPECT_EQ(nullptr, DictionaryNextLine(dict, line));

   EXPECT_TRUE(Dictionary_UnsetFormatted(dict, "%s.%s", "msg", "nook"));
   EXPECT_EQ(0u, Dictionary_Count(dict));
}

TEST_F(DictFixture, DirtyAndModifiedMarks)
{
   Load("a", "1");
   EXPECT_FALSE(Dictionary_IsDirty(dict));
   EXPECT_EQ(nullptr, Dictionary_MarkModified(dict, "b"));
   EXPECT_FALSE(Dictionary_IsDirty(dict));
   EXPECT_NE(nullptr, Dictionary_MarkModified(dict, "A"));
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   dict->dirty = FALSE;
   EXPECT_TRUE(Dictionary_IsDirty(dict)); // the entry is still modified
   DictionaryFindEntry(dict, "a")->modified = FALSE;
   EXPECT_FALSE(Dictionary_IsDirty(dict));
   Dictionary_MarkDirty(dict);
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   // Clear keeps the dirty flag and forgets the encoding.
   dict->encoding = DICTIONARY_ENCODING_UTF8;
   Dictionary_Clear(dict);
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   EXPECT_EQ(DICTIONARY_ENCODING_UNKNOWN, dict->encoding);
   EXPECT_EQ(0u, Dictionary_Count(dict));
}

TEST_F(DictFixture, GetAsStringFormats)
{
   Dictionary_SetBool(dict, TRUE, "b1");
   Dictionary_SetBool(dict, FALSE, "b0");
   Dictionary_SetLong(dict, -42, "l");
   Dictionary_SetDouble(dict, 0.5, "d");
   Dictionary_SetDouble(dict, 1e20, "e");
   Dictionary_SetInt64(dict, INT64_C(-9000000000), "i");
   Dictionary_SetString(dict, "text", "s");
   Dictionary_SetText(dict, "raw", "t");
   int32 tri[] = {0, 1, -1};
   const char *triNames[] = {"t0", "t1", "tm"};
   for (int i = 0; i < 3; i++) {
      Dictionary_Set(dict, &tri[i], DICT_TRISTATE, triNames[i], nullptr);
   }
   std::map<std::string, std::string> expected = {
       {"b1", "TRUE"},  {"b0", "FALSE"},      {"l", "-42"},      {"d", "0.5"},
       {"e", "1e+20"},  {"i", "-9000000000"}, {"s", "text"},     {"t", "raw"},
       {"t0", "FALSE"}, {"t1", "TRUE"},       {"tm", "DEFAULT"},
   };
   for (const auto &kv : expected) {
      const char *s = Dictionary_GetAsString(dict, kv.first.c_str());
      ASSERT_NE(nullptr, s) << kv.first;
      EXPECT_EQ(kv.second, s) << kv.first;
   }
   EXPECT_EQ(nullptr, Dictionary_GetAsString(dict, "absent"));

   std::vector<std::string> seen;
   int n = Dictionary_Iterate(
       dict,
       [](const char *name, const char *value, int index, void *data) {
          auto *out = static_cast<std::vector<std::string> *>(data);
          EXPECT_EQ((int)out->size(), index);
          out->push_back(std::string(name) + "=" + value);
       },
       &seen, FALSE);
   EXPECT_EQ(11, n);
   ASSERT_EQ(11u, seen.size());
   EXPECT_EQ("b1=TRUE", seen[0]); // creation order
   EXPECT_EQ("tm=DEFAULT", seen[10]);
}

TEST_F(DictFixture, GetEnum)
{
   const char *choices[] = {"low", "Medium", "high", nullptr};
   Load("a", "MEDIUM");
   Load("b", "huge");
   Load("c", "");
   Load("d", "huge");
   struct
   {
      const char *name;
      const char *def;
      const char *result;
      const char *complaint;
   } cases[] = {
       {"a", "low", "Medium", ""},
       {"b", "low", "low",
        "Value \"huge\" for variable \"b\" is not a valid value. Using value \"low\".\n"},
       {"c", "high", "high", ""},
       {"d", nullptr, nullptr, "Value \"huge\" for variable \"d\" is not a valid value.\n"},
       {"absent", "high", "high", ""},
       {"absent2", nullptr, nullptr, ""},
   };
   for (const auto &c : cases) {
      MsgList *list = nullptr;
      const char *r = Dictionary_GetEnum(dict, c.def, choices, c.name, &list);
      if (c.result == nullptr) {
         EXPECT_EQ(nullptr, r) << c.name;
      } else {
         EXPECT_STREQ(c.result, r) << c.name;
      }
      char *text = MsgList_ToString(list);
      EXPECT_STREQ(c.complaint, text) << c.name;
      free(text);
      MsgList_Free(list);
   }
   // The default was remembered for the absent name.
   EXPECT_TRUE(Dictionary_IsDefined(dict, "absent"));
   char *copy = Dictionary_GetEnumFormatted(dict, "low", choices, "%c", 'a');
   EXPECT_STREQ("Medium", copy);
   free(copy);
}

TEST_F(DictFixture, MismatchedTypesNeverMisreadTheValueSlot)
{
   Dictionary_SetBool(dict, TRUE, "flag");
   // A string read of a boolean gets its text form, not the byte as a pointer.
   EXPECT_EQ("TRUE", Str("flag", "x"));
   Dictionary_SetString(dict, "abc", "s");
   EXPECT_EQ(7, Dictionary_GetLong(dict, 7, "s"));
}

TEST_F(DictFixture, ManyKeysAndLongNames)
{
   for (int i = 0; i < 5000; i++) {
      Dictionary_SetLong(dict, i, "key.%d", i);
   }
   EXPECT_EQ(5000u, Dictionary_Count(dict));
   EXPECT_GT(dict->numBuckets, 512u);
   for (int i = 0; i < 5000; i += 7) {
      EXPECT_EQ(i, Dictionary_GetLong(dict, -5, "KEY.%d", i));
   }
   for (int i = 0; i < 5000; i += 2) {
      EXPECT_TRUE(Dictionary_UnsetFormatted(dict, "key.%d", i));
   }
   EXPECT_EQ(2500u, Dictionary_Count(dict));
   EXPECT_EQ(-5, Dictionary_GetLong(dict, -5, "key.%d", 4)); // remembered now
   EXPECT_EQ(4999, Dictionary_GetLong(dict, 0, "key.4999"));

   // Names are cut to 1023 bytes.
   std::string longName(3000, 'n');
   Dictionary_SetLong(dict, 1, "%s", longName.c_str());
   EXPECT_EQ(1, Dictionary_GetLong(dict, 0, "%s", longName.substr(0, 1023).c_str()));
}

} // namespace

namespace {

TEST(DictionaryDeathTest, TypesOutOfRangePanic)
{
   Dictionary *dict = Dictionary_Create();
   int32 v = 3;
   EXPECT_EXIT(Dictionary_Get(dict, &v, 7, "k"), ::testing::ExitedWithCode(255),
               "NOT_REACHED vela/lib/user/dictionary_core:[0-9]+\n");
   EXPECT_EXIT(Dictionary_Set(dict, &v, 0x1007, "k", nullptr), ::testing::ExitedWithCode(255),
               "NOT_REACHED vela/lib/user/dictionary_core:");
   // Flag bits above the low 12 are ignored.
   Dictionary_Set(dict, &v, DICT_LONG | 0x1000, "k", nullptr);
   EXPECT_EQ(3, Dictionary_GetLong(dict, 0, "k"));
   // A tri-state holds 0, 1 or -1 only.
   int32 five = 5;
   Dictionary_Set(dict, &five, DICT_TRISTATE, "t", nullptr);
   EXPECT_EXIT(Dictionary_GetAsString(dict, "t"), ::testing::ExitedWithCode(255),
               "NOT_REACHED vela/lib/user/dictionary_core:");
   Dictionary_Free(dict);
}

} // namespace
