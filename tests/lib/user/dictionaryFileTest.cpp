// Reading and writing dictionary files: encodings, complaints, duplicates,
// rendering and saving, on real files in a temporary directory.
#include "lib/user/dictionary.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"

namespace {

class DictionaryFileTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      // A non-UTF-8 locale: the process default is US-ASCII.
      setlocale(LC_ALL, "C");
      char tmpl[] = "/tmp/dictfile.XXXXXX";
      ASSERT_NE(mkdtemp(tmpl), nullptr);
      mDir = tmpl;
      mDict = Dictionary_Create();
   }
   void TearDown() override
   {
      Dictionary_Free(mDict);
      MsgList_Free(mMsgs);
      std::string cmd = "rm -rf '" + mDir + "'";
      ASSERT_EQ(system(cmd.c_str()), 0);
   }

   std::string Path(const std::string &name) const { return mDir + "/" + name; }

   std::string WriteFile(const std::string &name, const std::string &content)
   {
      std::string path = Path(name);
      std::ofstream(path, std::ios::binary) << content;
      return path;
   }

   static std::string ReadFile(const std::string &path)
   {
      std::ifstream in(path, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      return ss.str();
   }

   Bool Load(const std::string &content, int32 defaultEncoding = -1)
   {
      return Dictionary_Load(mDict, WriteFile("in", content).c_str(), TRUE, defaultEncoding,
                             &mMsgs);
   }

   std::string Messages() const
   {
      char *s = MsgList_ToString(mMsgs);
      std::string out = s;
      free(s);
      return out;
   }

   std::string Render()
   {
      char *text = nullptr;
      size_t size = 0;
      EXPECT_TRUE(Dictionary_WriteToBuffer(mDict, &text, &size));
      if (text == nullptr) {
         return "";
      }
      EXPECT_EQ(size, strlen(text) + 1);
      std::string out = text;
      free(text);
      return out;
   }

   std::map<std::string, std::string> Entries(Dictionary *dict = nullptr)
   {
      std::map<std::string, std::string> out;
      Dictionary_Iterate(
          dict != nullptr ? dict : mDict,
          [](const char *name, const char *value, int, void *data) {
             (*(std::map<std::string, std::string> *)data)[name] = value ? value : "";
          },
          &out, FALSE);
      return out;
   }

   std::string Value(const char *name)
   {
      const char *v = Dictionary_GetAsString(mDict, name);
      return v != nullptr ? v : "<absent>";
   }

   std::string mDir;
   Dictionary *mDict = nullptr;
   MsgList *mMsgs = nullptr;
};

TEST_F(DictionaryFileTest, CRLFLoadsLikeLFAndIsWrittenWithLF)
{
   ASSERT_TRUE(Load("# head\r\na = \"1\"\r\n\r\nb=2\r\n"));
   EXPECT_EQ(Value("a"), "1");
   EXPECT_EQ(Value("b"), "2");
   EXPECT_EQ(Render(), "# head\n.encoding = \"US-ASCII\"\na = \"1\"\n\nb=2\n");
}

TEST_F(DictionaryFileTest, ByteOrderMarkMeansUTF8UnderAnyDefault)
{
   ASSERT_EQ(Unicode_GetCurrentEncoding(), STRING_ENCODING_US_ASCII);
   ASSERT_TRUE(Load("\xEF\xBB\xBF# comment\nname = \"caf\xC3\xA9\"\n"));
   EXPECT_EQ(Dictionary_GetEncoding(mDict), STRING_ENCODING_UTF8);
   EXPECT_EQ(Value("name"), "caf\xC3\xA9");
   EXPECT_EQ(Render(), "# comment\n.encoding = \"UTF-8\"\nname = \"caf\xC3\xA9\"\n");
}

TEST_F(DictionaryFileTest, ByteOrderMarkWithBytesThatAreNotUTF8)
{
   // The mark is not enough: the default then decides, and fails.
   EXPECT_FALSE(Load("\xEF\xBB\xBFv = \"\xE9\"\n"));
   EXPECT_NE(Messages().find("An error occurred while decoding file"), std::string::npos);
}

TEST_F(DictionaryFileTest, Latin1DeclarationReadAndWrittenBack)
{
   std::string file = "# latin\n.encoding = \"ISO-8859-1\"\nv = \"caf\xE9\"\n";
   ASSERT_TRUE(Load(file)) << Messages();
   EXPECT_EQ(Value("v"), "caf\xC3\xA9");
   EXPECT_EQ(Render(), file);
   // Changed, the value is converted back to the declared encoding.
   Dictionary_SetString(mDict, "\xC3\xA9t\xC3\xA9", "v");
   EXPECT_EQ(Render(), "# latin\n.encoding = \"ISO-8859-1\"\nv = \"\xE9t\xE9\"\n");
}

TEST_F(DictionaryFileTest, DeclarationAfterValuesConvertsThem)
{
   ASSERT_TRUE(Load("v = \"\xE9\"\nconfig.encoding = \"latin1\"\nw = \"\xFC\"\n"));
   EXPECT_EQ(Value("v"), "\xC3\xA9");
   EXPECT_EQ(Value("w"), "\xC3\xBC");
}

TEST_F(DictionaryFileTest, RepeatedDeclarationDoesNotConvertTwice)
{
   ASSERT_TRUE(Load(".encoding = \"ISO-8859-1\"\nv = \"\xE9\"\n.ENCODING = \"latin1\"\n"));
   EXPECT_EQ(Value("v"), "\xC3\xA9");
}

TEST_F(DictionaryFileTest, EscapesBothWays)
{
   ASSERT_TRUE(Load("a = \"say |22hi|22\"\nb = \"|7C|7c\"\nc = \"|zz\"\n"));
   EXPECT_EQ(Value("a"), "say \"hi\"");
   EXPECT_EQ(Value("b"), "||");
   EXPECT_EQ(Value("c"), "|zz");
   Dictionary_SetString(mDict, "q\"uote|bar\ttab\x01", "d");
   std::string text = Render();
   EXPECT_NE(text.find("d = \"q|22uote|7Cbar\ttab|01\"\n"), std::string::npos) << text;
}

struct ComplaintCase
{
   const char *name;
   std::string content;
   std::string complaint; // with the file name as %F
   std::vector<std::string> loaded;
};

TEST_F(DictionaryFileTest, FailuresAndTheirComplaints)
{
   const ComplaintCase cases[] = {
       {"conflicting declarations",
        ".encoding = \"UTF-8\"\na = 1\n.encoding = \"ISO-8859-1\"\nb = 2\n",
        "File \"%F\" (line 3) already has encoding \"UTF-8\".\n",
        {"a", "b"}},
       {"unknown encoding",
        "a = 1\n.encoding = \"klingon\"\n",
        "File \"%F\" (line 2) specifies a character encoding (klingon) that is not supported.\n",
        {"a"}},
       {"wide encoding",
        ".encoding = \"UTF-16\"\n",
        "File \"%F\" (line 1) specifies a character encoding (UTF-16) that is not supported.\n",
        {}},
       {"syntax error",
        "a = 1\nthis is not a line\nb = 2\n",
        "File \"%F\" line 2: Syntax error.\n",
        {"a"}},
       {"name not ASCII",
        "a = 1\nn\xC3\xA9 = 2\nb = 3\n",
        "File \"%F\" line 2: Variable \"n\\xC3\\xA9\" is not valid ASCII.\n",
        {"a"}},
       {"bad bytes for the declaration",
        ".encoding = \"UTF-8\"\na = \"\xE9x\"\nb = 1\n",
        "File \"%F\" line 2: Value \"\\xE9x\" for variable \"a\" is not valid in encoding "
        "\"UTF-8\".\n",
        {}},
       {"bad bytes for the default",
        "a = 1\nb = \"\xE9\"\n",
        "File \"%F\": Value \"\\xE9\" for variable \"b\" is not valid in encoding \"US-ASCII\".\n"
        "An error occurred while decoding file \"%F\" using the default character encoding.\n",
        {"a", "b"}},
       {"duplicate",
        "a = 1\nA = 2\nb = 3\n",
        "File \"%F\" line 2: Variable \"A\" is already defined.\n",
        {"a", "b"}},
   };
   for (const ComplaintCase &c : cases) {
      SCOPED_TRACE(c.name);
      MsgList_Free(mMsgs);
      mMsgs = nullptr;
      EXPECT_FALSE(Load(c.content));
      std::string want = c.complaint;
      for (size_t pos; (pos = want.find("%F")) != std::string::npos;) {
         want.replace(pos, 2, Path("in"));
      }
      // Newest first in the list text: compare as a set of lines.
      std::string got = Messages();
      std::istringstream lines(want);
      for (std::string line; std::getline(lines, line);) {
         EXPECT_NE(got.find(line + "\n"), std::string::npos)
             << "missing: " << line << "\ngot: " << got;
      }
      std::vector<std::string> names;
      for (const auto &kv : Entries()) {
         names.push_back(kv.first);
      }
      EXPECT_EQ(names, c.loaded);
   }
}

TEST_F(DictionaryFileTest, LongLinesAndLineEndsAcrossReadBlocks)
{
   // Files are read in blocks; lines of any length and a "\r\n" split
   // between two blocks must come out the same.
   for (size_t valueLen : {32750u, 32755u, 32760u, 32761u, 32762u, 70000u, 200000u}) {
      SCOPED_TRACE(valueLen);
      std::string value(valueLen, 'v');
      std::string content = "a = \"" + value + "\"\r\nb = 2\r\rc = 3";
      MsgList_Free(mMsgs);
      mMsgs = nullptr;
      ASSERT_TRUE(Load(content)) << Messages();
      EXPECT_EQ(Value("a"), value);
      EXPECT_EQ(Value("b"), "2");
      EXPECT_EQ(Value("c"), "3");
      EXPECT_EQ(Dictionary_Count(mDict), 3u);
   }
}

TEST_F(DictionaryFileTest, DuplicateKeepsTheFirstValue)
{
   EXPECT_FALSE(Load("a = first\na = second\n"));
   EXPECT_EQ(Value("a"), "first");
}

TEST_F(DictionaryFileTest, DuplicatesBelowAndAboveTheLimit)
{
   for (int dups : {100, 101}) {
      SCOPED_TRACE(dups);
      std::string content = "a = 0\n";
      for (int i = 0; i < dups; i++) {
         content += "a = " + std::to_string(i + 1) + "\n";
      }
      content += "after = 1\n";
      MsgList_Free(mMsgs);
      mMsgs = nullptr;
      EXPECT_FALSE(Load(content));
      // Up to 100 the whole file is read; the 101st stops the reading.
      EXPECT_EQ(Value("after"), dups <= 100 ? "1" : "<absent>");
      EXPECT_EQ(Value("a"), "0");
      int complaints = 0;
      for (MsgList *m = mMsgs; m != nullptr; m = m->next) {
         complaints++;
      }
      EXPECT_EQ(complaints, dups);
   }
}

TEST_F(DictionaryFileTest, MetavariablesAreDropped)
{
   ASSERT_TRUE(Load(".version = 3\na = 1\n"));
   EXPECT_EQ(Entries(), (std::map<std::string, std::string>{{"a", "1"}}));
   EXPECT_EQ(Render(), ".encoding = \"US-ASCII\"\na = 1\n");
}

TEST_F(DictionaryFileTest, OpenFailuresLeaveTheDictionaryAlone)
{
   ASSERT_TRUE(Load("keep = 1\n"));
   struct
   {
      std::string path;
      std::string complaint;
   } cases[] = {
       {Path("missing"),
        "Cannot open file \"" + Path("missing") + "\": No such file or directory.\n"},
       {mDir, "\"" + mDir + "\" is a directory.\n"},
   };
   for (const auto &c : cases) {
      MsgList_Free(mMsgs);
      mMsgs = nullptr;
      EXPECT_FALSE(Dictionary_Load(mDict, c.path.c_str(), TRUE, -1, &mMsgs));
      EXPECT_EQ(Messages(), c.complaint);
      EXPECT_EQ(Value("keep"), "1");
   }
   // No path only clears.
   EXPECT_TRUE(Dictionary_Load(mDict, nullptr, TRUE, -1, &mMsgs));
   EXPECT_EQ(Dictionary_Count(mDict), 0u);
}

TEST_F(DictionaryFileTest, LoadMergesWhenAsked)
{
   ASSERT_TRUE(Load("a = 1\n"));
   ASSERT_TRUE(Dictionary_Load(mDict, WriteFile("more", "b = 2\n").c_str(), FALSE, -1, &mMsgs));
   EXPECT_EQ(Entries(), (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
}

TEST_F(DictionaryFileTest, StandardInput)
{
   std::string path = WriteFile("stdin", "x = 1\nbad line\n");
   int saved = dup(0);
   int fd = open(path.c_str(), O_RDONLY);
   ASSERT_GE(fd, 0);
   dup2(fd, 0);
   close(fd);
   clearerr(stdin);
   EXPECT_FALSE(Dictionary_Load(mDict, "-", TRUE, -1, &mMsgs));
   dup2(saved, 0);
   close(saved);
   EXPECT_EQ(Messages(), "File \"<stdin>\" line 2: Syntax error.\n");
   EXPECT_EQ(Value("x"), "1");
}

TEST_F(DictionaryFileTest, DescriptorForm)
{
   std::string path = WriteFile("fd", "x = 1\n");
   int fd = open(path.c_str(), O_RDONLY);
   ASSERT_GE(fd, 0);
   ASSERT_EQ(lseek(fd, 3, SEEK_SET), 3);
   EXPECT_TRUE(Dictionary_LoadFd(mDict, fd, path.c_str(), -1, &mMsgs));
   EXPECT_EQ(Value("x"), "1");
   EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);
   EXPECT_EQ(fcntl(fd, F_GETFD), 0); // still open
   close(fd);
}

TEST_F(DictionaryFileTest, BufferComplaintsHaveNoFileName)
{
   struct
   {
      std::string text;
      bool ok;
      std::string complaint;
   } cases[] = {
       {"a = 1\r\nb = \"x y\"\r\n", true, ""},
       {"a = 1\nbad line\n", false, "Syntax error.\n"},
       {"a = 1\na = 2\n", false, "Variable \"a\" is already defined.\n"},
       {".encoding = \"ASCII\"\n.encoding = \"UTF-8\"\n", false,
        "The dictionary already has encoding \"US-ASCII\".\n"},
       {".encoding = \"nope\"\n", false, "Character encoding \"nope\" is not supported.\n"},
       {".encoding = \"ASCII\"\nv = \"\xE9\"\n", false,
        "Value \"\\xE9\" for variable \"v\" is not valid in encoding \"US-ASCII\".\n"},
       {"v = \"\xE9\"\n", false,
        "Failed to decode the dictionary in the default character encoding.\n"
        "Value \"\\xE9\" for variable \"v\" is not valid in encoding \"US-ASCII\".\n"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.text);
      MsgList_Free(mMsgs);
      mMsgs = nullptr;
      std::string text = c.text;
      EXPECT_EQ((bool)Dictionary_LoadFromBuffer(mDict, &text[0], FALSE, -1, &mMsgs), c.ok);
      EXPECT_EQ(text, c.text); // left as it was
      EXPECT_EQ(Messages(), c.complaint);
   }
   MsgList_Free(mMsgs);
   mMsgs = nullptr;
   std::string text = "a = 1\r\nb = \"x y\"\r\n";
   ASSERT_TRUE(Dictionary_LoadFromBuffer(mDict, &text[0], FALSE, 0, &mMsgs));
   EXPECT_EQ(Entries(), (std::map<std::string, std::string>{{"a", "1"}, {"b", "x y"}}));
   // A lone "\r" ends a line here as in files, so a save reads back the same.
   std::string cr = "a = 1\rb = 2\r\r\nc = \"x\"";
   ASSERT_TRUE(Dictionary_LoadFromBuffer(mDict, &cr[0], FALSE, 0, &mMsgs));
   EXPECT_EQ(Entries(), (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}, {"c", "x"}}));
   EXPECT_EQ(Render(), ".encoding = \"UTF-8\"\na = 1\nb = 2\n\nc = \"x\"\n");
   ASSERT_TRUE(Dictionary_LoadFromBuffer(mDict, &text[0], FALSE, 0, &mMsgs));
   std::string more = "c = 3";
   ASSERT_TRUE(Dictionary_LoadFromBuffer(mDict, &more[0], TRUE, 0, &mMsgs));
   EXPECT_EQ(Value("c"), "3");
   EXPECT_TRUE(Dictionary_LoadFromBuffer(mDict, nullptr, FALSE, 0, &mMsgs));
   EXPECT_EQ(Dictionary_Count(mDict), 0u);
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

TEST_F(DictionaryFileTest, UntouchedFileIsRewrittenByteForByte)
{
   std::string crlf;
   for (const char *p = kUntouched; *p != '\0'; p++) {
      crlf += *p == '\n' ? std::string("\r\n") : std::string(1, *p);
   }
   ASSERT_TRUE(Load(crlf)) << Messages();
   std::string want = kUntouched;
   want.insert(want.find("\n\n") + 1, ".encoding = \"US-ASCII\"\n");
   want += "\n";
   EXPECT_EQ(Render(), want);
   EXPECT_EQ(Value("BpfProxy.FsPath"), "/sys/fs/bpf/");
   EXPECT_EQ(Value("last"), "\"quoted\"");
}

TEST_F(DictionaryFileTest, ChangedValueInPlaceNewKeyAtTheEnd)
{
   ASSERT_TRUE(Load("# c\na = 1 # keep\nb = 2\n\nc = 3\n"));
   Dictionary_SetString(mDict, "two", "b");
   Dictionary_SetLong(mDict, 7, "new.long");
   Dictionary_SetBool(mDict, TRUE, "new.bool");
   Dictionary_SetDouble(mDict, 1.0 / 3, "new.double");
   Dictionary_SetInt64(mDict, -5000000000LL, "new.int64");
   // A remembered default is never written.
   char *def = Dictionary_GetString(mDict, "dflt", "remembered");
   free(def);
   Dictionary_SetText(mDict, "same", "new.text");
   EXPECT_EQ(Render(), "# c\n.encoding = \"US-ASCII\"\na = 1 # keep\nb = \"two\"\n\nc = 3\n"
                       "new.long = \"7\"\nnew.bool = \"TRUE\"\nnew.double = \"0.333333333\"\n"
                       "new.int64 = \"-5000000000\"\nnew.text = \"same\"\n");
   // A removed entry takes its line with it.
   Dictionary_Unset(mDict, "a");
   EXPECT_EQ(Render(), "# c\n.encoding = \"US-ASCII\"\nb = \"two\"\n\nc = 3\n"
                       "new.long = \"7\"\nnew.bool = \"TRUE\"\nnew.double = \"0.333333333\"\n"
                       "new.int64 = \"-5000000000\"\nnew.text = \"same\"\n");
}

TEST_F(DictionaryFileTest, UpgradeToUTF8WhenAValueDoesNotFit)
{
   ASSERT_TRUE(Load("# c\na = 1\nb = plain\n"));
   Dictionary_SetString(mDict, "caf\xC3\xA9", "a");
   // Every text value is rendered afresh in the new encoding.
   EXPECT_EQ(Render(), "# c\n.encoding = \"UTF-8\"\na = \"caf\xC3\xA9\"\nb = \"plain\"\n");
   EXPECT_EQ(Dictionary_GetEncoding(mDict), STRING_ENCODING_UTF8);
}

TEST_F(DictionaryFileTest, UnwritableEntriesFailTheRender)
{
   // The reader would not give these back; writing them would lose settings.
   for (const char *text : {"has space=1", "=empty", ".dot=1", "n\xC3\xA9=1"}) {
      Dictionary *d = Dictionary_Create();
      Dictionary_SetFromString(d, text, FALSE, nullptr);
      char *out = nullptr;
      size_t size = 0;
      EXPECT_FALSE(Dictionary_WriteToBuffer(d, &out, &size)) << text;
      EXPECT_EQ(out, nullptr);
      Dictionary_Free(d);
   }
   Dictionary *d = Dictionary_Create();
   Dictionary_SetString(d, "\xE9", "notutf8");
   char *out = nullptr;
   size_t size = 0;
   EXPECT_FALSE(Dictionary_WriteToBuffer(d, &out, &size));
   Dictionary_Free(d);
}

TEST_F(DictionaryFileTest, NewDictionaryRendersInTheCurrentEncoding)
{
   Dictionary_SetString(mDict, "v", "k");
   EXPECT_EQ(Render(), ".encoding = \"US-ASCII\"\nk = \"v\"\n");
}

TEST_F(DictionaryFileTest, ChangeEncoding)
{
   ASSERT_TRUE(Load("a = plain\n"));
   Dictionary_SetString(mDict, "\xE2\x82\xAC", "euro");
   EXPECT_FALSE(Dictionary_ChangeEncoding(mDict, STRING_ENCODING_ISO_8859_1));
   EXPECT_EQ(Dictionary_GetEncoding(mDict), STRING_ENCODING_US_ASCII);
   ASSERT_TRUE(Dictionary_ChangeEncoding(mDict, Unicode_EncodingNameToEnum("ISO-8859-15")));
   EXPECT_EQ(Render(), ".encoding = \"ISO-8859-15\"\na = \"plain\"\neuro = \"\xA4\"\n");
}

TEST_F(DictionaryFileTest, Shebang)
{
   ASSERT_TRUE(Load("a = 1\n"));
   EXPECT_TRUE(Dictionary_AddShebang(mDict, "/usr/bin/keltria"));
   EXPECT_FALSE(Dictionary_AddShebang(mDict, "/bin/other"));
   EXPECT_EQ(Render(), "#!/usr/bin/keltria\n.encoding = \"US-ASCII\"\na = 1\n");
}

TEST_F(DictionaryFileTest, MakeExecutable)
{
   struct
   {
      mode_t before, after;
   } cases[] = {{0644, 0755}, {0600, 0700}, {0640, 0750}, {0200, 0200}, {0444, 0555}};
   std::string path = WriteFile("exec", "");
   for (const auto &c : cases) {
      ASSERT_EQ(chmod(path.c_str(), c.before), 0);
      EXPECT_TRUE(Dictionary_MakeExecutable(path.c_str()));
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.after) << std::oct << c.before;
   }
   EXPECT_FALSE(Dictionary_MakeExecutable(Path("missing").c_str()));
}

ino_t Inode(const std::string &path)
{
   struct stat st;
   return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST_F(DictionaryFileTest, WriteReplacesThroughATemporaryFile)
{
   std::string path = WriteFile("config", "# keep me\na = 1\n");
   ASSERT_EQ(chmod(path.c_str(), 0640), 0);
   ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
   ino_t before = Inode(path);
   ASSERT_TRUE(Dictionary_Load(mDict, path.c_str(), TRUE, -1, &mMsgs));
   Dictionary_SetString(mDict, "2", "a");
   ASSERT_TRUE(Dictionary_Write(mDict, path.c_str()));
   EXPECT_EQ(ReadFile(path), "# keep me\n.encoding = \"US-ASCII\"\na = \"2\"\n");
   EXPECT_NE(Inode(path), before);
   EXPECT_NE(access((path + "~").c_str(), F_OK), 0);
   struct stat st;
   ASSERT_EQ(stat(path.c_str(), &st), 0);
   EXPECT_EQ(st.st_mode & 07777, 0640u);
   EXPECT_EQ(st.st_uid, 1234u);
   EXPECT_EQ(st.st_gid, 5678u);
   EXPECT_FALSE(Dictionary_IsDirty(mDict));
}

TEST_F(DictionaryFileTest, WriteInPlaceWhenNoTemporaryFileCanBeMade)
{
   std::string path = WriteFile("config", "a = 1\nlong = \"" + std::string(1000, 'x') + "\"\n");
   // A file left by an earlier crash blocks the exclusive creation.
   WriteFile("config~", "stale");
   ino_t before = Inode(path);
   ASSERT_TRUE(Dictionary_Load(mDict, path.c_str(), TRUE, -1, &mMsgs));
   Dictionary_Unset(mDict, "long");
   ASSERT_TRUE(Dictionary_Write(mDict, path.c_str()));
   // Truncated to the new, shorter text.
   EXPECT_EQ(ReadFile(path), ".encoding = \"US-ASCII\"\na = 1\n");
   EXPECT_EQ(Inode(path), before);
   EXPECT_EQ(ReadFile(path + "~"), "stale");
}

TEST_F(DictionaryFileTest, WriteKeepsASymbolicLink)
{
   std::string real = WriteFile("real", "a = 1\n");
   std::string link = Path("link");
   ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
   ASSERT_TRUE(Dictionary_Load(mDict, link.c_str(), TRUE, -1, &mMsgs));
   Dictionary_SetString(mDict, "2", "a");
   ASSERT_TRUE(Dictionary_Write(mDict, link.c_str()));
   struct stat st;
   ASSERT_EQ(lstat(link.c_str(), &st), 0);
   EXPECT_TRUE(S_ISLNK(st.st_mode));
   EXPECT_EQ(ReadFile(real), ".encoding = \"US-ASCII\"\na = \"2\"\n");
}

TEST_F(DictionaryFileTest, WriteCreatesANewFile)
{
   Dictionary_SetString(mDict, "v", "k");
   std::string path = Path("new");
   mode_t old = umask(022);
   ASSERT_TRUE(Dictionary_Write(mDict, path.c_str()));
   umask(old);
   EXPECT_EQ(ReadFile(path), ".encoding = \"US-ASCII\"\nk = \"v\"\n");
   struct stat st;
   ASSERT_EQ(stat(path.c_str(), &st), 0);
   EXPECT_EQ(st.st_mode & 07777, 0754u);
   // A path that cannot be opened fails.
   EXPECT_FALSE(Dictionary_Write(mDict, Path("no/such/dir/file").c_str()));
}

TEST_F(DictionaryFileTest, WrittenFileLoadsBackTheSameEntries)
{
   ASSERT_TRUE(Load(".encoding = \"ISO-8859-1\"\n# x\na = \"\xE9\"\nb = \"|22\"\n"));
   Dictionary_SetString(mDict, "new\nline", "c");
   std::string path = Path("out");
   ASSERT_TRUE(Dictionary_Write(mDict, path.c_str()));
   Dictionary *back = Dictionary_Create();
   ASSERT_TRUE(Dictionary_Load(back, path.c_str(), TRUE, -1, &mMsgs)) << Messages();
   EXPECT_EQ(Entries(back), Entries());
   Dictionary_Free(back);
}

} // namespace
