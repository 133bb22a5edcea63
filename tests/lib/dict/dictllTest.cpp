// The line syntax: parsing, escapes and a partial byte-order mark. Marshalling,
// blank, empty and plain lines, tabs and "|22" are seen through the dictionary
// file tests; marshalled lines parse back in the line parser fuzz target.
#include "lib/dict/dictll.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// "line" for a line that is no assignment, "line -> name=value" otherwise.
std::string Shown(char *line, char *name, char *value)
{
   EXPECT_EQ(name == nullptr, value == nullptr);
   std::string s = line != nullptr ? line : "<null>";
   if (name != nullptr) {
      s += std::string(" -> ") + name + "=" + value;
   }
   free(line);
   free(name);
   free(value);
   return s;
}

// Every line of a buffer, walked with DictLL_UnmarshalLine.
std::vector<std::string> Unmarshal(const std::string &text)
{
   std::vector<std::string> lines;
   const char *p = text.data(), *end = text.data() + text.size();
   for (;;) {
      char *line, *name, *value;
      p = DictLL_UnmarshalLine(p, end - p, &line, &name, &value);
      if (p == nullptr) {
         EXPECT_EQ(line, nullptr);
         return lines;
      }
      lines.push_back(Shown(line, name, value));
   }
}

TEST(DictLLTest, GrammarAndEscapes)
{
   const std::pair<const char *, const char *> assignments[] = {
       {"a = \"x # y = z\"   # trailing", "a=x # y = z"},
       {"a = b#comment", "a=b"},
       {"a.b-c_d\"x = 1", "a.b-c_d\"x=1"},
       {"\xC3\xA9t\xC3\xA9 = \"\xE9\"", "\xC3\xA9t\xC3\xA9=\xE9"},
       {"a = \"|7c|0a|0D|7C\"", "a=|\n\r|"},
       {"a = \"|zz|4G|4\"", "a=|zz|4G|4"},
       {"a = x|41|", "a=xA|"},
   };
   for (const auto &c : assignments) {
      EXPECT_EQ(Unmarshal(c.first),
                std::vector<std::string>{c.first + std::string(" -> ") + c.second});
   }
   for (const char *other : {"a = b c", "a b = c", "a", "= b", "a = \"unclosed", "a = \"closed\"x",
                             "# comment = \"x\"", "   "}) {
      EXPECT_EQ(Unmarshal(other), std::vector<std::string>{other});
   }
   EXPECT_TRUE(Unmarshal("").empty());
}

FILE *StreamOf(const std::string &content)
{
   FILE *f = tmpfile();
   fwrite(content.data(), 1, content.size(), f);
   rewind(f);
   return f;
}

std::vector<std::string> ReadAll(FILE *f)
{
   std::vector<std::string> lines;
   for (;;) {
      char *line, *name, *value;
      int res = DictLL_ReadLine(f, &line, &name, &value);
      if (res != DICTLL_READ_LINE) {
         EXPECT_EQ(res, DICTLL_READ_EOF);
         EXPECT_EQ(line, nullptr);
         return lines;
      }
      lines.push_back(Shown(line, name, value));
   }
}

// Line ends, long lines, "\r\n" split across read blocks and a whole mark
// are read through files in the dictionary's file tests.
TEST(DictLLTest, StreamsPartialMarkAndReadFailure)
{
   const std::string two = "\xEF\xBB";
   for (const std::string &content : {two + "a\n", two}) {
      FILE *f = StreamOf(content);
      EXPECT_FALSE(DictLL_ReadUTF8BOM(f));
      EXPECT_EQ(ReadAll(f), std::vector<std::string>{content.substr(0, 3)});
      fclose(f);
   }
   // On a pipe, which cannot seek, the bytes of a partial mark are kept too.
   int fds[2];
   ASSERT_EQ(pipe(fds), 0);
   ASSERT_EQ(write(fds[1], "\xEF\xBBx\n", 4), 4);
   close(fds[1]);
   FILE *f = fdopen(fds[0], "r");
   EXPECT_FALSE(DictLL_ReadUTF8BOM(f));
   EXPECT_EQ(ReadAll(f), (std::vector<std::string>{"\xEF\xBBx"}));
   fclose(f);
   f = fopen("/dev/null", "w");
   char *line, *name, *value;
   EXPECT_EQ(DictLL_ReadLine(f, &line, &name, &value), DICTLL_READ_ERROR);
   fclose(f);
}

} // namespace
