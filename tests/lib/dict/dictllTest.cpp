// The line syntax: parsing, escapes, line ends and the byte-order mark.
#include "lib/dict/dictll.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <tuple>
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
       {"  \tname\t=\t value  ", "name=value"},
       {"a =", "a="},
       {"a = \"x # y = z\"   # trailing", "a=x # y = z"},
       {"a = b#comment", "a=b"},
       {"a.b-c_d\"x = 1", "a.b-c_d\"x=1"},
       {"\xC3\xA9t\xC3\xA9 = \"\xE9\"", "\xC3\xA9t\xC3\xA9=\xE9"},
       {"a = \"|22quoted|22\"", "a=\"quoted\""},
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
   EXPECT_EQ(Unmarshal("a=1\n#c\n\nb = \"2\""),
             (std::vector<std::string>{"a=1 -> a=1", "#c", "", "b = \"2\" -> b=2"}));
   EXPECT_TRUE(Unmarshal("").empty());
}

TEST(DictLLTest, MarshalEscapesAndRoundTrips)
{
   const std::pair<const char *, const char *> cases[] = {
       {"say \"hi\" a|b", "k = \"say |22hi|22 a|7Cb\"\n"},
       {"\x01\x08\x0A\x0D\x1F\x7F", "k = \"|01|08|0A|0D|1F|7F\"\n"},
       {"\xC3\xA9\xFF", "k = \"\xC3\xA9\xFF\"\n"},
       {"", "k = \"\"\n"},
   };
   for (const auto &c : cases) {
      std::string out;
      ASSERT_TRUE(DictLL_MarshalLine(&out, "k", c.first));
      EXPECT_EQ(out, c.second);
      out.pop_back();
      EXPECT_EQ(Unmarshal(out), std::vector<std::string>{out + " -> k=" + c.first});
   }
   std::string out = "x\n";
   ASSERT_TRUE(DictLL_MarshalLine(&out, nullptr, "# as \"is\" |"));
   EXPECT_EQ(out, "x\n# as \"is\" |\n");
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

// Line ends, long lines and "\r\n" split across read blocks are read
// through files in the dictionary's file tests.
TEST(DictLLTest, ReadFailsOnAWriteOnlyStream)
{
   FILE *f = fopen("/dev/null", "w");
   char *line, *name, *value;
   EXPECT_EQ(DictLL_ReadLine(f, &line, &name, &value), DICTLL_READ_ERROR);
   fclose(f);
}

TEST(DictLLTest, ByteOrderMark)
{
   const std::string bom = "\xEF\xBB\xBF", two = bom.substr(0, 2), one = bom.substr(0, 1);
   // Content, whether it starts with a whole mark, what is left for the reader.
   const std::tuple<std::string, bool, std::string> cases[] = {{bom + "a\n", true, "a"},
                                                               {two + "a\n", false, two + "a"},
                                                               {one + "a\n", false, one + "a"},
                                                               {two, false, two}};

   for (const auto &[content, marked, left] : cases) {
      FILE *f = StreamOf(content);
      EXPECT_EQ((bool)DictLL_ReadUTF8BOM(f), marked);
      EXPECT_EQ(ReadAll(f), std::vector<std::string>{left});
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
}

} // namespace
