// The dictionary: typed lookup, remembered defaults, stores and their flags,
// removal, text forms and enumerations; value conversions with their
// complaints; reading and writing dictionary files (encodings, complaints,
// duplicates, rendering, saving) on real files in a temporary directory;
// the line syntax. Names are case-insensitive (an upper-case store below is
// "already defined").
#include "lib/user/dictionaryInt.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "lib/dict/dictll.h"
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

class DictionaryTest : public ::testing::Test
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
   // Replaces the entries with those of a file of this content: untyped
   // entries, as a configuration file gives them.
   Bool Load(const std::string &content)
   {
      ClearMsgs();
      return Dictionary_Load(mDict, Write("in", content).c_str(), TRUE, -1, &mMsgs);
   }
   std::string Messages() const { return fwdtest::MsgText(mMsgs); }
   std::string Str(const char *name, const char *def)
   {
      char *s = Dictionary_GetString(mDict, def, "%s", name);
      std::string out = s == nullptr ? "<null>" : s;
      free(s);
      return out;
   }
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
   // "name=value" of each entry in creation order.
   std::vector<std::string> Listed(Bool includeDefaults)
   {
      std::vector<std::string> seen;
      int count = Dictionary_Iterate(
          mDict,
          [](const char *name, const char *value, int index, void *data) {
             auto *out = static_cast<std::vector<std::string> *>(data);
             EXPECT_EQ((int)out->size(), index);
             out->push_back(std::string(name) + "=" + (value != nullptr ? value : ""));
          },
          &seen, includeDefaults);
      EXPECT_EQ(count, (int)seen.size());
      return seen;
   }
   Entries All()
   {
      Entries out;
      for (const std::string &kv : Listed(FALSE)) {
         out[kv.substr(0, kv.find('='))] = kv.substr(kv.find('=') + 1);
      }
      return out;
   }

   fwdtest::TempDir mDir;
   Dictionary *mDict = Dictionary_Create();
   MsgList *mMsgs = nullptr;
};

TEST_F(DictionaryTest, ZeroDefaultsAreNotRememberedOthersAreFirstWins)
{
   // The zero of each type (NULL, FALSE, 0, -0.0), a TRUE boolean, a -1
   // tri-state: given back, not remembered.
   EXPECT_EQ("<null>", Str("k", nullptr));
   EXPECT_FALSE(Dictionary_GetBool(mDict, FALSE, "k"));
   EXPECT_TRUE(Dictionary_GetBool(mDict, TRUE, "k"));
   EXPECT_EQ(0, Dictionary_GetLong(mDict, 0, "k"));
   EXPECT_EQ(0.0, Dictionary_GetDouble(mDict, -0.0, "k"));
   int32 minusOne = -1;
   EXPECT_EQ(-1, *(const int32 *)Dictionary_Get(mDict, &minusOne, DICT_TRISTATE, "k"));
   EXPECT_FALSE(Dictionary_IsDefined(mDict, "k"));

   // Other defaults are remembered (the first one wins, and is no setting:
   // seen through the preferences).
   EXPECT_EQ("d", Str("key", "d"));
   EXPECT_TRUE(Dictionary_IsDefined(mDict, "key"));
   EXPECT_EQ(5, Dictionary_GetLong(mDict, 5, "n"));
   // An empty text is not a zero default.
   EXPECT_EQ("", Str("empty", ""));
   EXPECT_TRUE(Listed(FALSE).empty());
   EXPECT_EQ(Listed(TRUE), (std::vector<std::string>{"key=d", "n=5", "empty="}));

   // Unsetting a remembered default leaves the dirty flag alone.
   EXPECT_TRUE(Dictionary_Unset(mDict, "key"));
   EXPECT_FALSE(Dictionary_IsDirty(mDict));
   EXPECT_EQ("e", Str("key", "e"));
   // A store makes it real.
   Dictionary_SetLong(mDict, 5, "n");
   EXPECT_FALSE(Dictionary_NotSet(mDict, "n"));
   EXPECT_EQ(1u, Dictionary_Count(mDict));
}

// Each type's conversion of a file's text, shown in its text form, with its
// default and the complaint it leaves. That a conversion fails exactly when
// it complains, and then holds its default (or zero without one), is
// checked for any text by the value fuzz target.
TEST_F(DictionaryTest, UntypedEntriesConvertOnTypedLookup)
{
   const Bool defBool = TRUE;
   const int32 def32 = 42, defTri = -1;
   const int64 def64 = 7;
   const double defD = 2.5;
   const void *defs[] = {nullptr, nullptr, &defBool, &def32, &defD, &defTri, &def64};
   struct
   {
      DictionaryValueType type;
      const char *text;
      const char *value;
      const char *complaint; // "" for none
   } cases[] = {
       {DICT_LONG, "17", "17", ""},
       {DICT_LONG, "0x10", "16", ""},
       {DICT_LONG, "4294967295", "-1", ""},
       {DICT_LONG, "4294967296", "0", ""}, // keeps the low 32 bits
       {DICT_LONG, "12abc", "42",
        "Value \"12abc\" for variable \"k\" is not a valid integer value. Using value \"42\".\n"},
       {DICT_LONG, "99999999999999999999", "42", "msg.dictionary.integerOutOfRange"},
       {DICT_INT64, "18446744073709551615", "-1", ""},
       {DICT_DOUBLE, "-2e3", "-2000", ""},
       {DICT_BOOL, "maybe", "TRUE",
        "Value \"maybe\" for variable \"k\" is not a valid boolean value. Using value \"TRUE\".\n"},
       {DICT_TRISTATE, "sometimes", "DEFAULT",
        "Value \"sometimes\" for variable \"k\" is not a valid tristate value. Using value "
        "\"default\".\n"},
       // The words are whole and case-blind: no spaces, no leading zeros.
       {DICT_BOOL, "yes", "TRUE", ""},
       {DICT_BOOL, "oFF", "FALSE", ""},
       {DICT_BOOL, "01", "TRUE", "msg.dictionary.notBoolean"},
       {DICT_BOOL, " 1", "TRUE", "msg.dictionary.notBoolean"},
       {DICT_TRISTATE, "DontCare", "DEFAULT", ""},
       {DICT_TRISTATE | 0x10000, "auto", "DEFAULT", ""}, // flags beside the type ignored
       {DICT_TRISTATE, "", "TRUE", ""},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(std::to_string(c.type) + " " + c.text);
      ASSERT_TRUE(Load(std::string("k = \"") + c.text + "\"\n"));
      Dictionary_GetEx(mDict, defs[c.type & DICT_TYPE_MASK], c.type, "k", &mMsgs);
      EXPECT_STREQ(c.value, Dictionary_GetAsString(mDict, "k"));
      // An id, or the whole text of the complaint.
      EXPECT_EQ(c.complaint, strncmp(c.complaint, "msg.", 4) == 0 || mMsgs == nullptr
                                 ? std::string(mMsgs != nullptr ? mMsgs->id : "")
                                 : Messages());
      // Conversions are not changes.
      EXPECT_FALSE(Dictionary_IsDirty(mDict));
   }
   // The entry keeps its converted value from then on, whatever the default.
   ASSERT_TRUE(Load("flag = maybe\na = 1\n"));
   EXPECT_TRUE(Dictionary_GetBool(mDict, TRUE, "flag"));
   EXPECT_TRUE(Dictionary_GetBool(mDict, FALSE, "flag"));
   // No text is no word; the invalid flag is optional.
   EXPECT_FALSE(Dictionary_ParseBool(nullptr, nullptr));
   EXPECT_EQ(0, Dictionary_ParseTriState(nullptr, nullptr));

   // Storing an equal value is no change.
   Dictionary_SetLong(mDict, 1, "a");
   EXPECT_FALSE(Dictionary_IsDirty(mDict));
   Dictionary_SetLong(mDict, 2, "a");
   EXPECT_TRUE(Dictionary_IsDirty(mDict));
   EXPECT_EQ(2, Dictionary_GetLong(mDict, 0, "a"));
   // A text stored onto a typed entry is parsed as its type.
   Dictionary_SetText(mDict, "0x20", "a");
   EXPECT_EQ(32, Dictionary_GetLong(mDict, 0, "a"));
}

TEST_F(DictionaryTest, SetFromStringCountUnsetAndPrefixes)
{
   for (const auto &[text, name, value] :
        {std::make_tuple("a=b=c", "a", "b=c"), std::make_tuple("b", "b", ""),
         std::make_tuple(" c = d ", " c ", " d ")}) {
      EXPECT_TRUE(Dictionary_SetFromString(mDict, text, FALSE, nullptr));
      EXPECT_EQ(value, Str(name, "<absent>")) << text;
   }
   EXPECT_TRUE(Dictionary_IsDirty(mDict));

   EXPECT_FALSE(Dictionary_SetFromString(mDict, "A=x", TRUE, &mMsgs));
   EXPECT_EQ("Variable \"A\" is already defined.\n", Messages());
   EXPECT_EQ("b=c", Str("a", nullptr));

   std::string text = "# comment\nLog.file = x\n";
   ASSERT_TRUE(Dictionary_LoadFromBuffer(mDict, &text[0], FALSE, 0, nullptr));
   Dictionary_SetLong(mDict, 1, "log.level");
   Dictionary_SetLong(mDict, 3, "msg.noOK");
   EXPECT_EQ(3u, Dictionary_Count(mDict));
   EXPECT_TRUE(Dictionary_HasPrefix(mDict, "LOG."));
   EXPECT_FALSE(Dictionary_HasPrefix(mDict, "pref."));
   EXPECT_FALSE(Dictionary_UnsetPrefix(mDict, "nothing"));
   EXPECT_TRUE(Dictionary_UnsetPrefix(mDict, "log."));
   EXPECT_EQ(1u, Dictionary_Count(mDict));
   // Clear keeps the dirty flag.
   Dictionary_Clear(mDict);
   EXPECT_TRUE(Dictionary_IsDirty(mDict));
   EXPECT_EQ(0u, Dictionary_Count(mDict));
}

// That each type's text form converts back to its value is checked by the
// value fuzz target.
TEST_F(DictionaryTest, TextFormsInCreationOrderAndGetEnum)
{
   ASSERT_TRUE(Load("a = MEDIUM\nb = huge\nd = huge\n"));
   Dictionary_SetBool(mDict, TRUE, "b1");
   Dictionary_SetDouble(mDict, 1e20, "e");
   Dictionary_SetInt64(mDict, INT64_C(-9000000000), "i");
   int32 tri = -1;
   Dictionary_Set(mDict, &tri, DICT_TRISTATE, "tm", nullptr);
   Dictionary_SetString(mDict, "text", "s");
   EXPECT_EQ(Listed(FALSE),
             (std::vector<std::string>{"a=MEDIUM", "b=huge", "d=huge", "b1=TRUE", "e=1e+20",
                                       "i=-9000000000", "tm=DEFAULT", "s=text"}));
   EXPECT_EQ(nullptr, Dictionary_GetAsString(mDict, "absent"));
   // A string read of a boolean gets its text form, not the byte as a pointer.
   EXPECT_EQ("TRUE", Str("b1", "x"));
   EXPECT_EQ(7, Dictionary_GetLong(mDict, 7, "s"));

   const char *choices[] = {"low", "Medium", "high", nullptr};
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
      ClearMsgs();
      const char *r = Dictionary_GetEnum(mDict, c.def, choices, c.name, &mMsgs);
      EXPECT_EQ(std::string(c.result ? c.result : "<null>"), r ? r : "<null>") << c.name;
      EXPECT_EQ(c.complaint, Messages()) << c.name;
   }
   // The default was remembered for the absent name.
   EXPECT_TRUE(Dictionary_IsDefined(mDict, "absent"));
}

const char kLatin1[] = "# latin\n.encoding = \"ISO-8859-1\"\nv = \"caf\xE9\"\n";

TEST_F(DictionaryTest, FilesLoadAndRender)
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

// Each failure read from a file (complaints name it, %F) and from a buffer
// (complaints name nothing), and the names loaded.
TEST_F(DictionaryTest, FileFailuresAndTheirComplaints)
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

TEST_F(DictionaryTest, FileLongLinesAcrossReadBlocksAndDuplicates)
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

TEST_F(DictionaryTest, FileOpenFailuresMergeNoPathAndADescriptor)
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

TEST_F(DictionaryTest, RenderKeepsUntouchedLinesAndRefusesUnwritableEntries)
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
   // A value that does not fit upgrades to UTF-8; every text value is rendered afresh.
   Dictionary_SetString(mDict, "caf\xC3\xA9 \"|", "b");
   EXPECT_EQ(Render(),
             "# c\n.encoding = \"UTF-8\"\nb = \"caf\xC3\xA9 |22|7C\"\n\nc = \"3\"\n" + added);

   // The reader would not give these back; writing them would lose settings.
   const std::pair<std::string, std::string> unwritable[] = {
       {"has space", "1"}, {"", "empty"}, {".dot", "1"}, {"n\xC3\xA9", "1"}, {"notutf8", "\xE9"}};
   for (const auto &[name, value] : unwritable) {
      Dictionary_Clear(mDict);
      Dictionary_SetString(mDict, value.c_str(), "%s", name.c_str());
      EXPECT_EQ(Render(FALSE), "<null>") << name;
   }
}

TEST_F(DictionaryTest, WriteReplacesThroughATemporaryFileOrInPlace)
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

/* ---- The line syntax ---------------------------------------------------- */

// Parsing, escapes and a partial byte-order mark. Marshalling, blank, empty
// and plain lines, tabs and "|22" are seen through the file tests above;
// marshalled lines parse back in the line parser fuzz target.
// Every line that next() gives until it says there is none: "line" for a
// line that is no assignment, "line -> name=value" otherwise.
std::vector<std::string> Lines(const std::function<bool(char **, char **, char **)> &next)
{
   std::vector<std::string> lines;
   char *line, *name, *value;
   while (next(&line, &name, &value)) {
      EXPECT_EQ(name == nullptr, value == nullptr);
      lines.push_back(std::string(line) +
                      (name != nullptr ? std::string(" -> ") + name + "=" + value : ""));
      free(line);
      free(name);
      free(value);
   }
   EXPECT_EQ(line, nullptr);
   return lines;
}

// Every line of a buffer, walked with DictLL_UnmarshalLine.
std::vector<std::string> Unmarshal(const std::string &text)
{
   const char *p = text.data(), *end = text.data() + text.size();
   return Lines([&p, end](char **line, char **name, char **value) {
      p = DictLL_UnmarshalLine(p, end - p, line, name, value);
      return p != nullptr;
   });
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

std::vector<std::string> ReadAll(FILE *f)
{
   int res = DICTLL_READ_LINE;
   std::vector<std::string> lines = Lines([f, &res](char **line, char **name, char **value) {
      res = DictLL_ReadLine(f, line, name, value);
      return res == DICTLL_READ_LINE;
   });
   EXPECT_EQ(res, DICTLL_READ_EOF);
   return lines;
}

// Line ends, long lines, "\r\n" split across read blocks and a whole mark
// are read through files in the dictionary's file tests.
TEST(DictLLTest, StreamsPartialMarkAndReadFailure)
{
   const std::string two = "\xEF\xBB";
   for (const std::string &content : {two + "a\n", two}) {
      FILE *f = fmemopen((void *)content.data(), content.size(), "r"); // seekable
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
