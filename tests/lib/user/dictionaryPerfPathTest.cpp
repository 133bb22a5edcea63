// The compact load path: lines read share their entry's allocation, names
// are scanned in place (long ones off the stack), the encoding declarations
// are recognised by their ending, and the writer sizes its text from the
// kept lengths. Each case edits a loaded dictionary and checks the text it
// writes and what that text reads back as.
#include "lib/user/dictionary.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"

namespace {

std::string Write(Dictionary *dict)
{
   char *text = nullptr;
   size_t size = 0;
   EXPECT_TRUE(Dictionary_WriteToBuffer(dict, &text, &size));
   // The size counts the terminating NUL.
   std::string out(text != nullptr ? text : "", size > 0 ? size - 1 : 0);
   free(text);
   return out;
}

Bool Load(Dictionary *dict, const std::string &text)
{
   std::string copy = text;
   MsgList *msgs = nullptr;
   Bool ok = Dictionary_LoadFromBuffer(dict, &copy[0], FALSE, STRING_ENCODING_UTF8, &msgs);
   MsgList_Free(msgs);
   return ok;
}

std::string Get(Dictionary *dict, const char *name)
{
   char *value = Dictionary_GetString(dict, "<unset>", "%s", name);
   std::string out = value != nullptr ? value : "<null>";
   free(value);
   return out;
}

TEST(DictionaryPerfPath, EditsOfLoadedLinesWriteAndReadBack)
{
   const std::string longName(300, 'n');
   const std::string input = "# head\n"
                             "a = \"1\"\n"
                             "b = \"2\"  # kept comment\n"
                             "c = \"3\"\n" +
                             longName + " = \"long\"\n";
   struct Case
   {
      const char *what;
      void (*edit)(Dictionary *);
      std::string expected; // after the ".encoding" line
   } cases[] = {
       {"untouched", [](Dictionary *) {}, "a = \"1\"\nb = \"2\"  # kept comment\nc = \"3\"\n"},
       {"middle entry unset", [](Dictionary *d) { Dictionary_Unset(d, "b"); },
        "a = \"1\"\nc = \"3\"\n"},
       {"value changed in place",
        [](Dictionary *d) { Dictionary_SetString(d, "two|\"", "%s", "B"); },
        "a = \"1\"\nb = \"two|7C|22\"\nc = \"3\"\n"},
       {"changed, then unset",
        [](Dictionary *d) {
           Dictionary_SetString(d, "x", "%s", "a");
           char *ignored = nullptr;
           size_t size = 0;
           Dictionary_WriteToBuffer(d, &ignored, &size);
           free(ignored);
           Dictionary_Unset(d, "a");
        },
        "b = \"2\"  # kept comment\nc = \"3\"\n"},
       {"new key to the end", [](Dictionary *d) { Dictionary_SetString(d, "4", "%s", "d"); },
        "a = \"1\"\nb = \"2\"  # kept comment\nc = \"3\"\n"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      Dictionary *dict = Dictionary_Create();
      ASSERT_TRUE(Load(dict, input));
      c.edit(dict);
      std::string out = Write(dict);
      std::string head = "# head\n.encoding = \"UTF-8\"\n";
      ASSERT_EQ(0u, out.find(head)) << out;
      std::string body = out.substr(head.size());
      EXPECT_EQ(0u, body.find(c.expected)) << body;
      EXPECT_NE(std::string::npos, body.find(longName + " = \"long\"\n")) << body;

      // The written text reads back as the same entries.
      Dictionary *again = Dictionary_Create();
      ASSERT_TRUE(Load(again, out)) << out;
      for (const char *name : {"a", "b", "c", "d"}) {
         EXPECT_EQ(Get(dict, name), Get(again, name)) << name;
      }
      EXPECT_EQ("long", Get(again, longName.c_str()));
      Dictionary_Free(again);

      // Clearing and loading again reuses nothing stale.
      Dictionary_Clear(dict);
      ASSERT_TRUE(Load(dict, "a = \"z\"\n"));
      EXPECT_EQ("z", Get(dict, "a"));
      EXPECT_EQ("<unset>", Get(dict, "b"));
      Dictionary_Free(dict);
   }
}

TEST(DictionaryPerfPath, NamesEndingInEncodingAreDeclarationsOnlyWhenListed)
{
   struct Case
   {
      const char *line;
      Bool loads;
      const char *name;  // read back as an entry, or NULL
      const char *value; // its value
   } cases[] = {
       {"Config.Encoding = \"UTF-8\"\n", TRUE, NULL, NULL},
       {"config.encoding = \"no-such-encoding\"\n", FALSE, NULL, NULL},
       {"x.encoding = \"no-such-encoding\"\n", TRUE, "x.encoding", "no-such-encoding"},
       {"encoding = \"latin1\"\n", TRUE, "encoding", "latin1"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.line);
      Dictionary *dict = Dictionary_Create();
      EXPECT_EQ(c.loads, Load(dict, c.line));
      if (c.name != NULL) {
         EXPECT_EQ(c.value, Get(dict, c.name));
      } else {
         EXPECT_EQ(0u, Dictionary_Count(dict));
      }
      Dictionary_Free(dict);
   }
}

TEST(DictionaryPerfPath, DuplicateAfterRememberedDefaultAndShebang)
{
   Dictionary *dict = Dictionary_Create();
   // A remembered default is replaced by the file's line, a second line complains.
   char *dflt = Dictionary_GetString(dict, "dflt", "%s", "k");
   EXPECT_STREQ("dflt", dflt);
   free(dflt);
   EXPECT_FALSE(Load(dict, "k = \"file\"\nK = \"again\"\n"));
   EXPECT_EQ("file", Get(dict, "k"));
   EXPECT_TRUE(Dictionary_AddShebang(dict, "/bin/interp"));
   std::string out = Write(dict);
   // The failed load settled no encoding; the process default names it.
   const std::string head = "#!/bin/interp\n.encoding = \"";
   const std::string tail = "\"\nk = \"file\"\nK = \"again\"\n";
   ASSERT_GE(out.size(), head.size() + tail.size()) << out;
   EXPECT_EQ(head, out.substr(0, head.size())) << out;
   EXPECT_EQ(tail, out.substr(out.size() - tail.size())) << out;
   Dictionary_Free(dict);
}

} // namespace
