// Message lists and argument capture: ids and formatting. Order, copies and
// appending lists are seen through the message module (msgTest).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/misc/msgList.h"
#include "support/textFiles.h"

namespace {

using fwdtest::MsgText;

TEST(MsgList, IdParsing)
{
   struct
   {
      const char *text;
      const char *id;
      const char *formatted;
   } cases[] = {
       {MSGID(a.b) "Hello\n", "a.b", "Hello\n"},
       {"plain %d text", "msg.literal", "plain %d text\n"},
       {"@&!*@*@()empty id", "", "empty id\n"},
       {MSGID(p) "100%% (ok)", "p", "100% (ok)\n"},
   };
   for (const auto &c : cases) {
      MsgList *list = MsgList_CreateStr(c.text);
      ASSERT_NE(nullptr, list);
      EXPECT_STREQ(c.id, list->id) << c.text;
      EXPECT_EQ(c.formatted, MsgText(list)) << c.text;
      MsgList_Free(list);
   }
}

// Hidden from the compiler's format checks, which reject a literal null.
const char *volatile nullText = nullptr;

TEST(MsgList, CapturesEveryWidth)
{
   char buf[16];
   strcpy(buf, "mutable");
   MsgList *list = MsgList_Create(
       MSGID(t) "%s|%d|%u|%ld|%lld|%llu|%zu|%hhd|%x|%#o|%5.2f|%Lg|%c|%-4s|%*d|%.*s|%%|%e|%s", buf,
       -7, 4000000000u, -9000000000L, (long long)INT64_MIN, (unsigned long long)UINT64_MAX,
       (size_t)12, 65, 255u, 8u, 3.14159, (long double)2.5, 'z', "ab", 4, 9, 2, "xyz", 1e10,
       nullText);
   // The copy is taken at append time.
   strcpy(buf, "changed");
   EXPECT_EQ("mutable|-7|4000000000|-9000000000|-9223372036854775808|18446744073709551615|12|65|"
             "ff|010| 3.14|2.5|z|ab  |   9|xy|%|1.000000e+10|(null)\n",
             MsgText(list));
   EXPECT_EQ(20, list->numArgs); // two of them are * fields
   MsgList_Free(list);
   std::string big(5000, 'q');
   list = MsgList_Create(MSGID(big) "<%s>", big.c_str());
   EXPECT_EQ("<" + big + ">\n", MsgText(list));
   MsgList_Free(list);
}

TEST(MsgList, MismatchedFormatShowsConversions)
{
   MsgList *list = MsgList_Create(MSGID(m) "%s and %d", "a", 5);
   const std::pair<const char *, const char *> cases[] = {
       {"%d then %s", "%d then %s"}, // kinds differ: shown as written
       {"%s %d %s", "a 5 %s"},       // one too many
       {"%99999s %d", "%99999s 5"},  // absurd width
       {"%n%s", "%na"},              // never writes through %n
   };
   for (const auto &c : cases) {
      char *text = MsgList_FormatOne(list, c.first, nullptr);
      EXPECT_STREQ(c.second, text) << c.first;
      free(text);
   }
   MsgList_Free(list);
}

TEST(MsgListDeathTest, UncapturableFormatPanics)
{
   EXPECT_EXIT(MsgList_Create(MSGID(bad) "%1$s", "x"), ::testing::ExitedWithCode(255),
               "MsgList_VAppend error: positional arguments are not supported\nformat <");
   int written = 0;
   EXPECT_EXIT(MsgList_Create(MSGID(bad) "%n", &written), ::testing::ExitedWithCode(255),
               "MsgList_VAppend error");
}

} // namespace
