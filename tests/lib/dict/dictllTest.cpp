// The line syntax: parsing, escapes, line ends and the byte-order mark.
#include "lib/dict/dictll.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Parsed
{
   bool assignment;
   std::string line, name, value;
};

Parsed Unmarshal(const std::string &text, const char **next = nullptr)
{
   char *line, *name, *value;
   const char *end = DictLL_UnmarshalLine(text.data(), text.size(), &line, &name, &value);
   if (next != nullptr) {
      *next = end;
   }
   Parsed p{name != nullptr, line ? line : "", name ? name : "", value ? value : ""};
   EXPECT_EQ(name == nullptr, value == nullptr);
   free(line);
   free(name);
   free(value);
   return p;
}

struct GrammarCase
{
   const char *text;
   bool assignment;
   const char *name;
   const char *value;
};

TEST(DictLLTest, Grammar)
{
   const GrammarCase cases[] = {
       {"a = \"b\"", true, "a", "b"},
       {"a=b", true, "a", "b"},
       {"  \tname\t=\t value  ", true, "name", "value"},
       {"a =", true, "a", ""},
       {"a = \"\"", true, "a", ""},
       {"a = \"x # y = z\"   # trailing", true, "a", "x # y = z"},
       {"a = b # comment", true, "a", "b"},
       {"a = b#comment", true, "a", "b"},
       {"a = b\"c=d", true, "a", "b\"c=d"},
       {"a.b-c_d\"x = 1", true, "a.b-c_d\"x", "1"},
       {"a = \"  spaced\tvalue \"", true, "a", "  spaced\tvalue "},
       {"a = b c", false, "", ""},
       {"a b = c", false, "", ""},
       {"a", false, "", ""},
       {"= b", false, "", ""},
       {"a = \"unclosed", false, "", ""},
       {"a = \"closed\"x", false, "", ""},
       {"# comment = \"x\"", false, "", ""},
       {"", false, "", ""},
       {"   ", false, "", ""},
       {"\xC3\xA9t\xC3\xA9 = \"\xE9\"", true, "\xC3\xA9t\xC3\xA9", "\xE9"},
   };
   for (const GrammarCase &c : cases) {
      SCOPED_TRACE(c.text);
      Parsed p = Unmarshal(c.text);
      EXPECT_EQ(p.line, c.text);
      EXPECT_EQ(p.assignment, c.assignment);
      EXPECT_EQ(p.name, c.name);
      EXPECT_EQ(p.value, c.value);
   }
}

TEST(DictLLTest, UnescapeOnRead)
{
   const GrammarCase cases[] = {
       {"a = \"|22quoted|22\"", true, "a", "\"quoted\""},
       {"a = \"|7C\"", true, "a", "|"},
       {"a = \"|7c|0a|0D\"", true, "a", "|\n\r"},
       {"a = \"|\"", true, "a", "|"},
       {"a = \"|4\"", true, "a", "|4"},
       {"a = \"|zz|4G\"", true, "a", "|zz|4G"},
       {"a = x|41|", true, "a", "xA|"},
   };
   for (const GrammarCase &c : cases) {
      SCOPED_TRACE(c.text);
      Parsed p = Unmarshal(c.text);
      EXPECT_TRUE(p.assignment);
      EXPECT_EQ(p.value, c.value);
   }
}

TEST(DictLLTest, MarshalEscapesAndRoundTrips)
{
   struct
   {
      const char *value;
      const char *rendered;
   } cases[] = {
       {"plain", "k = \"plain\"\n"},
       {"say \"hi\"", "k = \"say |22hi|22\"\n"},
       {"a|b", "k = \"a|7Cb\"\n"},
       {"tab\there", "k = \"tab\there\"\n"},
       {"\x01\x08\x0A\x0D\x1F\x7F", "k = \"|01|08|0A|0D|1F|7F\"\n"},
       {"\xC3\xA9\xFF", "k = \"\xC3\xA9\xFF\"\n"},
       {"# = x", "k = \"# = x\"\n"},
       {"", "k = \"\"\n"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.value);
      std::string out;
      ASSERT_TRUE(DictLL_MarshalLine(&out, "k", c.value));
      EXPECT_EQ(out, c.rendered);
      Parsed back = Unmarshal(out);
      EXPECT_TRUE(back.assignment);
      EXPECT_EQ(back.value, c.value);
   }
   std::string out = "x\n";
   ASSERT_TRUE(DictLL_MarshalLine(&out, nullptr, "# as \"is\" |"));
   EXPECT_EQ(out, "x\n# as \"is\" |\n");
}

TEST(DictLLTest, UnmarshalWalksABuffer)
{
   std::string text = "a=1\n#c\n\nb = \"2\"";
   const char *p = text.data();
   const char *end = text.data() + text.size();
   std::vector<std::string> lines;
   while (p != nullptr) {
      char *line, *name, *value;
      p = DictLL_UnmarshalLine(p, end - p, &line, &name, &value);
      if (p == nullptr) {
         EXPECT_EQ(line, nullptr);
         break;
      }
      lines.push_back(line);
      free(line);
      free(name);
      free(value);
   }
   EXPECT_EQ(lines, (std::vector<std::string>{"a=1", "#c", "", "b = \"2\""}));
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
         break;
      }
      lines.push_back(line);
      free(line);
      free(name);
      free(value);
   }
   return lines;
}

TEST(DictLLTest, ReadLineEnds)
{
   struct
   {
      std::string content;
      std::vector<std::string> lines;
   } cases[] = {
       {"a\nb\n", {"a", "b"}},
       {"a\r\nb\r\n", {"a", "b"}},
       {"a\rb\r", {"a", "b"}},
       {"a\r\rb", {"a", "", "b"}},
       {"a\n\r\nb", {"a", "", "b"}},
       {"last", {"last"}},
       {"\n", {""}},
       {"", {}},
       {std::string(100000, 'x') + "\nshort\n", {std::string(100000, 'x'), "short"}},
   };
   for (const auto &c : cases) {
      FILE *f = StreamOf(c.content);
      EXPECT_EQ(ReadAll(f), c.lines);
      fclose(f);
   }
}

TEST(DictLLTest, ReadLineParsesAssignments)
{
   FILE *f = StreamOf("k = \"v|22\"\r\nbad line\r\n");
   char *line, *name, *value;
   ASSERT_EQ(DictLL_ReadLine(f, &line, &name, &value), DICTLL_READ_LINE);
   EXPECT_STREQ(name, "k");
   EXPECT_STREQ(value, "v\"");
   free(line);
   free(name);
   free(value);
   ASSERT_EQ(DictLL_ReadLine(f, &line, &name, &value), DICTLL_READ_LINE);
   EXPECT_STREQ(line, "bad line");
   EXPECT_EQ(name, nullptr);
   free(line);
   fclose(f);
}

TEST(DictLLTest, ReadLineReportsAReadError)
{
   // A stream opened for writing only fails on read.
   FILE *f = fopen("/dev/null", "w");
   ASSERT_NE(f, nullptr);
   char *line, *name, *value;
   EXPECT_EQ(DictLL_ReadLine(f, &line, &name, &value), DICTLL_READ_ERROR);
   fclose(f);
}

TEST(DictLLTest, WriteLine)
{
   FILE *f = tmpfile();
   ASSERT_TRUE(DictLL_WriteLine(f, "k", "a\"b"));
   ASSERT_TRUE(DictLL_WriteLine(f, nullptr, "# comment"));
   rewind(f);
   EXPECT_EQ(ReadAll(f), (std::vector<std::string>{"k = \"a|22b\"", "# comment"}));
   fclose(f);
   FILE *full = fopen("/dev/full", "w");
   ASSERT_NE(full, nullptr);
   setvbuf(full, nullptr, _IONBF, 0);
   EXPECT_FALSE(DictLL_WriteLine(full, "k", "v"));
   fclose(full);
}

TEST(DictLLTest, ByteOrderMark)
{
   struct
   {
      std::string content;
      bool bom;
      std::string first;
   } cases[] = {
       {"\xEF\xBB\xBF"
        "a=1\n",
        true, "a=1"},
       {"\xEF\xBB"
        "a=1\n",
        false,
        "\xEF\xBB"
        "a=1"},
       {"\xEF"
        "a\n",
        false,
        "\xEF"
        "a"},
       {"a=1\n", false, "a=1"},
       {"\xEF\xBB", false, "\xEF\xBB"},
   };
   for (const auto &c : cases) {
      FILE *f = StreamOf(c.content);
      EXPECT_EQ(DictLL_ReadUTF8BOM(f), c.bom);
      std::vector<std::string> lines = ReadAll(f);
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines[0], c.first);
      fclose(f);
   }
}

TEST(DictLLTest, ByteOrderMarkOnAPipeKeepsTheBytes)
{
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
