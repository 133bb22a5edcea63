// Reading and writing dictionary files: encodings, complaints, duplicates,
// rendering and saving, on real files in a temporary directory.
#include "lib/user/dictionary.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

namespace {

using Entries = std::map<std::string, std::string>;

struct stat Stat(const std::string &path)
{
   struct stat st = {};
   EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
   return st;
}

class DictionaryFileTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      // A non-UTF-8 locale: the process default is US-ASCII.
      setlocale(LC_ALL, "C");
      ASSERT_EQ(Unicode_GetCurrentEncoding(), STRING_ENCODING_US_ASCII);
   }
   void TearDown() override
   {
      Dictionary_Free(mDict);
      MsgList_Free(mMsgs);
   }
   std::string Path(const std::string &name) const { return mDir.path() + "/" + name; }
   std::string Write(const std::string &name, const std::string &content)
   {
      return fwdtest::WriteFile(Path(name), content);
   }
   void ClearMsgs()
   {
      MsgList_Free(mMsgs);
      mMsgs = nullptr;
   }
   Bool Load(const std::string &content)
   {
      ClearMsgs();
      return Dictionary_Load(mDict, Write("in", content).c_str(), TRUE, -1, &mMsgs);
   }
   std::string Messages() const { return fwdtest::MsgText(mMsgs); }
   std::string Render(Bool ok = TRUE)
   {
      char *text = nullptr;
      size_t size = 0;
      EXPECT_EQ(Dictionary_WriteToBuffer(mDict, &text, &size), ok);
      std::string out = text != nullptr ? text : "<null>";
      EXPECT_EQ(size, text != nullptr ? out.size() + 1 : 0);
      free(text);
      return out;
   }
   Entries All()
   {
      Entries out;
      Dictionary_Iterate(
          mDict,
          [](const char *name, const char *value, int, void *data) {
             (*(Entries *)data)[name] = value ? value : "";
          },
          &out, FALSE);
      return out;
   }

   fwdtest::TempDir mDir;
   Dictionary *mDict = Dictionary_Create();
   MsgList *mMsgs = nullptr;
};

const char kLatin1[] = "# latin\n.encoding = \"ISO-8859-1\"\nv = \"caf\xE9\"\n";

TEST_F(DictionaryFileTest, LoadsAndRenders)
{
   // Content, entries, rendering.
   const std::tuple<std::string, Entries, std::string> cases[] = {
       // A byte-order mark means UTF-8 under a US-ASCII default.
       {"\xEF\xBB\xBF# comment\nname = \"caf\xC3\xA9\"\n",
        {{"name", "caf\xC3\xA9"}},
        "# comment\n.encoding = \"UTF-8\"\nname = \"caf\xC3\xA9\"\n"},
       {kLatin1, {{"v", "caf\xC3\xA9"}}, kLatin1},
       {".encoding = \"cp1252\"\nv = \"\x80\"\n",
        {{"v", "\xE2\x82\xAC"}},
        ".encoding = \"windows-1252\"\nv = \"\x80\"\n"},
       // A declaration after values converts them, a repeated one not twice.
       {"v = \"\xE9\"\nconfig.encoding = \"latin1\"\nw = \"\xFC\"\n",
        {{"v", "\xC3\xA9"}, {"w", "\xC3\xBC"}},
        ".encoding = \"ISO-8859-1\"\nv = \"\xE9\"\nw = \"\xFC\"\n"},
       // A name longer than the reader's stack buffer; metavariables are dropped.
       {".version = 3\n" + std::string(300, 'n') + " = 1\n",
        {{std::string(300, 'n'), "1"}},
        ".encoding = \"US-ASCII\"\n" + std::string(300, 'n') + " = 1\n"},
   };
   for (const auto &[content, entries, rendered] : cases) {
      SCOPED_TRACE(content);
      ASSERT_TRUE(Load(content)) << Messages();
      EXPECT_EQ(All(), entries);
      EXPECT_EQ(Render(), rendered);
   }
   // The mark alone does not make bytes UTF-8: the default then decides, and fails.
   EXPECT_FALSE(Load("\xEF\xBB\xBFv = \"\xE9\"\n"));
   EXPECT_NE(Messages().find("An error occurred while decoding file"), std::string::npos);
}

TEST_F(DictionaryFileTest, ChangedValuesRenderInTheFileEncoding)
{
   const std::tuple<const char *, const char *, const char *, std::string> cases[] = {
       {kLatin1, "v", "\xC3\xA9t\xC3\xA9",
        "# latin\n.encoding = \"ISO-8859-1\"\nv = \"\xE9t\xE9\"\n"},
       {"x = 1\n", "d", "q\"uote|bar\ttab\x01",
        ".encoding = \"US-ASCII\"\nx = 1\nd = \"q|22uote|7Cbar\ttab|01\"\n"},
       // A value that does not fit upgrades to UTF-8; every text value is rendered afresh.
       {"# c\na = 1\nb = plain\n", "a", "caf\xC3\xA9",
        "# c\n.encoding = \"UTF-8\"\na = \"caf\xC3\xA9\"\nb = \"plain\"\n"},
   };
   for (const auto &[content, name, value, rendered] : cases) {
      ASSERT_TRUE(Load(content)) << content << Messages();
      Dictionary_SetString(mDict, value, "%s", name);
      EXPECT_EQ(Render(), rendered);
   }
}

// Each failure read from a file (complaints name it, %F) and from a buffer
// (complaints name nothing), and the names loaded.
TEST_F(DictionaryFileTest, FailuresAndTheirComplaints)
{
   const std::tuple<std::string, std::string, std::string, std::vector<std::string>> cases[] = {
       // The line syntax is ASCII: an encoding that writes it otherwise is refused.
       {"a = 1\n.encoding = \"UTF-16\"\n",
        "File \"%F\" (line 2) specifies a character encoding (UTF-16) that is not supported.\n",
        "Character encoding \"UTF-16\" is not supported.\n",
        {"a"}},
       {"a = 1\nthis is not a line\nb = 2\n",
        "File \"%F\" line 2: Syntax error.\n",
        "Syntax error.\n",
        {"a"}},
       {".encoding = \"UTF-8\"\na = \"\xE9x\"\nb = 1\n",
        "File \"%F\" line 2: Value \"\\xE9x\" for variable \"a\" is not valid in encoding "
        "\"UTF-8\".\n",
        "Value \"\\xE9x\" for variable \"a\" is not valid in encoding \"UTF-8\".\n",
        {}},
       {"a = 1\nb = \"\xE9\"\n",
        "An error occurred while decoding file \"%F\" using the default character encoding.\n"
        "File \"%F\": Value \"\\xE9\" for variable \"b\" is not valid in encoding \"US-ASCII\".\n",
        "Failed to decode the dictionary in the default character encoding.\n"
        "Value \"\\xE9\" for variable \"b\" is not valid in encoding \"US-ASCII\".\n",
        {"a", "b"}},
   };
   for (const auto &[content, fileComplaint, bufferComplaint, loaded] : cases) {
      SCOPED_TRACE(content);
      EXPECT_FALSE(Load(content));
      EXPECT_EQ(Messages(), std::regex_replace(fileComplaint, std::regex("%F"), Path("in")));
      std::vector<std::string> names;
      for (const auto &kv : All()) {
         names.push_back(kv.first);
      }
      EXPECT_EQ(names, loaded);
      ClearMsgs();
      std::string text = content;
      EXPECT_FALSE(Dictionary_LoadFromBuffer(mDict, &text[0], FALSE, -1, &mMsgs));
      EXPECT_EQ(text, content); // left as it was
      EXPECT_EQ(Messages(), bufferComplaint);
   }
}

TEST_F(DictionaryFileTest, LongLinesAcrossReadBlocksAndDuplicates)
{
   // Files are read in blocks; lines of any length and a "\r\n" split
   // between two blocks must come out the same.
   for (size_t valueLen : {32760u, 32761u, 32762u, 200000u}) {
      SCOPED_TRACE(valueLen);
      std::string value(valueLen, 'v');
      ASSERT_TRUE(Load("a = \"" + value + "\"\r\nb = 2\r\rc = 3")) << Messages();
      EXPECT_EQ(All(), (Entries{{"a", value}, {"b", "2"}, {"c", "3"}}));
   }

   for (int dups : {100, 101}) {
      SCOPED_TRACE(dups);
      std::string content = "a = 0\n";
      for (int i = 0; i < dups; i++) {
         content += "a = " + std::to_string(i + 1) + "\n";
      }
      EXPECT_FALSE(Load(content + "after = 1\n"));
      // The first value stays; up to 100 the whole file is read, the 101st stops it.
      EXPECT_EQ(All(), (dups <= 100 ? Entries{{"a", "0"}, {"after", "1"}} : Entries{{"a", "0"}}));
      const std::string complaints = Messages();
      EXPECT_EQ(std::count(complaints.begin(), complaints.end(), '\n'), dups);
   }
}

TEST_F(DictionaryFileTest, OpenFailuresMergeNoPathAndADescriptor)
{
   ASSERT_TRUE(Load("keep = 1\n"));
   const std::string missing = Path("missing"), dir = mDir.path();
   for (const auto &c : {std::make_pair(missing, "Cannot open file \"" + missing +
                                                     "\": No such file or directory.\n"),
                         std::make_pair(dir, "\"" + dir + "\" is a directory.\n")}) {
      ClearMsgs();
      EXPECT_FALSE(Dictionary_Load(mDict, c.first.c_str(), TRUE, -1, &mMsgs));
      EXPECT_EQ(Messages(), c.second);
      EXPECT_EQ(All(), (Entries{{"keep", "1"}}));
   }
   ASSERT_TRUE(Dictionary_Load(mDict, Write("more", "b = 2\n").c_str(), FALSE, -1, &mMsgs));
   EXPECT_EQ(All(), (Entries{{"keep", "1"}, {"b", "2"}}));
   // No path only clears.
   EXPECT_TRUE(Dictionary_Load(mDict, nullptr, TRUE, -1, &mMsgs));
   EXPECT_EQ(Dictionary_Count(mDict), 0u);

   std::string path = Write("stdin", "x = 1\nbad line\n");
   int fd = open(path.c_str(), O_RDONLY);
   // The descriptor form clears, reads from the start and leaves the descriptor open.
   ASSERT_EQ(lseek(fd, 3, SEEK_SET), 3);
   ClearMsgs();
   EXPECT_FALSE(Dictionary_LoadFd(mDict, fd, path.c_str(), -1, &mMsgs));
   EXPECT_EQ(Messages(), "File \"" + path + "\" line 2: Syntax error.\n");
   EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);
   close(fd);
}

const char kUntouched[] = "#!/usr/bin/env keltria\n"
                          "# Site configuration\n"
                          "\n"
                          "  # indented comment\n"
                          "BpfProxy.FsPath=/sys/fs/bpf/   # where tc pins\n"
                          "spaced   =   \"a value\"\t# note\n"
                          "empty =\n"
                          "\ttabbed\t=\t\"x\"\n"
                          "\n"
                          "# trailing comment\n"
                          "last = \"|22quoted|22\"";

TEST_F(DictionaryFileTest, RenderKeepsUntouchedLinesAndRefusesUnwritableEntries)
{
   ASSERT_TRUE(Load(std::regex_replace(kUntouched, std::regex("\n"), "\r\n"))) << Messages();
   std::string want = kUntouched;
   want.insert(want.find("\n\n") + 1, ".encoding = \"US-ASCII\"\n");
   EXPECT_EQ(Render(), want + "\n");
   EXPECT_EQ(All().at("BpfProxy.FsPath"), "/sys/fs/bpf/");
   EXPECT_EQ(All().at("last"), "\"quoted\"");

   ASSERT_TRUE(Load("# c\na = 1 # keep\nb = 2\n\nc = 3\n"));
   Dictionary_SetString(mDict, "two", "b");
   Dictionary_SetLong(mDict, 7, "new.long");
   free(Dictionary_GetString(mDict, "dflt", "remembered")); // a remembered default is never written
   Dictionary_SetText(mDict, "same", "new.text");
   const std::string added = "new.long = \"7\"\nnew.text = \"same\"\n";
   EXPECT_EQ(Render(),
             "# c\n.encoding = \"US-ASCII\"\na = 1 # keep\nb = \"two\"\n\nc = 3\n" + added);
   // A removed entry takes its line with it.
   Dictionary_Unset(mDict, "a");
   EXPECT_EQ(Render(), "# c\n.encoding = \"US-ASCII\"\nb = \"two\"\n\nc = 3\n" + added);

   // The reader would not give these back; writing them would lose settings.
   const std::pair<std::string, std::string> unwritable[] = {
       {"has space", "1"}, {"", "empty"}, {".dot", "1"}, {"n\xC3\xA9", "1"}, {"notutf8", "\xE9"}};
   for (const auto &[name, value] : unwritable) {
      Dictionary_Clear(mDict);
      Dictionary_SetString(mDict, value.c_str(), "%s", name.c_str());
      EXPECT_EQ(Render(FALSE), "<null>") << name;
   }
}

TEST_F(DictionaryFileTest, WriteReplacesThroughATemporaryFileOrInPlace)
{
   std::string path = Write("config", "# keep me\na = 1\n");
   ASSERT_EQ(chmod(path.c_str(), 0640), 0);
   ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
   ino_t before = Stat(path).st_ino;
   ASSERT_TRUE(Dictionary_Load(mDict, path.c_str(), TRUE, -1, &mMsgs));
   Dictionary_SetString(mDict, "2", "a");
   ASSERT_TRUE(Dictionary_Write(mDict, path.c_str()));
   EXPECT_EQ(fwdtest::ReadFile(path), "# keep me\n.encoding = \"US-ASCII\"\na = \"2\"\n");
   struct stat st = Stat(path);
   EXPECT_NE(st.st_ino, before);
   EXPECT_EQ(std::make_tuple(st.st_mode & 07777, st.st_uid, st.st_gid),
             std::make_tuple(0640u, 1234u, 5678u));
   EXPECT_EQ(fwdtest::DirEntries(mDir.path()), std::vector<std::string>{"config"}); // no "~" left
   EXPECT_FALSE(Dictionary_IsDirty(mDict));

   // Through a symbolic link the target is replaced and the link stays.
   ASSERT_EQ(symlink(path.c_str(), Path("link").c_str()), 0);
   Dictionary_SetString(mDict, "3", "a");
   ASSERT_TRUE(Dictionary_Write(mDict, Path("link").c_str()));
   EXPECT_TRUE(std::filesystem::is_symlink(Path("link")));
   EXPECT_EQ(fwdtest::ReadFile(path), "# keep me\n.encoding = \"US-ASCII\"\na = \"3\"\n");

   umask(022); // each test runs in a process of its own
   ASSERT_TRUE(Dictionary_Write(mDict, Path("new").c_str()));
   EXPECT_EQ(fwdtest::ReadFile(Path("new")), fwdtest::ReadFile(path));
   EXPECT_EQ(Stat(Path("new")).st_mode & 07777, 0754u);
   EXPECT_FALSE(Dictionary_Write(mDict, Path("no/such/dir/file").c_str()));

   // In place when no temporary file can be made.
   Write("config", "a = 1\nlong = \"" + std::string(1000, 'x') + "\"\n");
   Write("config~", "stale"); // left by an earlier crash: blocks the exclusive creation
   before = Stat(path).st_ino;
   ASSERT_TRUE(Dictionary_Load(mDict, path.c_str(), TRUE, -1, &mMsgs));
   Dictionary_Unset(mDict, "long");
   ASSERT_TRUE(Dictionary_Write(mDict, path.c_str()));
   // Truncated to the new, shorter text.
   EXPECT_EQ(fwdtest::ReadFile(path), ".encoding = \"US-ASCII\"\na = 1\n");
   EXPECT_EQ(Stat(path).st_ino, before);
   EXPECT_EQ(fwdtest::ReadFile(path + "~"), "stale");
}

} // namespace
