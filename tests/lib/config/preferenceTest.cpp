// The getters and the preference layers through HOME: the user files, the
// in-memory layer, remembered defaults, start-up and shutdown. The system
// files are tested in a private mount namespace (tests/integration).
#include "lib/config/preference.h"

#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "lib/config/config.h"
#include "lib/log/log.h"
#include "support/childProcess.h"
#include "support/logTestOutput.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

namespace {

using fwdtest::ConfigText;

class PreferenceTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      setenv("HOME", mHome.path().c_str(), 1);
      mLog = LogTestOutput_Create(nullptr);
      ASSERT_TRUE(Log_AddOutput(mLog));
   }
   void TearDown() override
   {
      Preference_Exit();
      Log_Exit();
   }
   std::string UserFile(const char *name) { return mHome.path() + "/.keltria/" + name; }
   void WriteUserFile(const char *name, const std::string &content)
   {
      fwdtest::WriteFile(UserFile(name), content);
   }
   std::string Logged() { return LogTestOutput_Joined(mLog); }

   fwdtest::TempDir mHome;
   LogOutput *mLog = nullptr;
};

TEST_F(PreferenceTest, GettersBeforeStartUpGiveTheDefault)
{
   const char *def = "/sys/fs/bpf/";
   char *s = Config_GetString(def, "BpfProxy.FsPath");
   EXPECT_STREQ(def, s);
   EXPECT_NE(def, s); // a copy the caller frees
   free(s);
   EXPECT_NE(Logged().find("PREF early PreferenceGet(BpfProxy.FsPath), using default\n"),
             std::string::npos);
   EXPECT_EQ(nullptr, Config_GetString(nullptr, "absent.%s", "key"));
   EXPECT_EQ(nullptr, Config_GetPathName(nullptr, "absent"));
   EXPECT_FALSE(Config_GetBool(FALSE, "BpfProxy.Enabled"));
   EXPECT_EQ(-1, Config_GetTriState(-1, "t"));
   EXPECT_EQ(-7, Config_GetLong(-7, "l.%d", 3));
   EXPECT_EQ(INT64_C(1) << 50, Config_GetInt64(INT64_C(1) << 50, "i"));
   EXPECT_TRUE(isnan(Config_GetDouble(NAN, "d")));
   EXPECT_TRUE(Preference_NotSet("BpfProxy.FsPath"));
   EXPECT_FALSE(Preference_SetFromString("a=b", TRUE));
   Preference_Exit(); // safe when not started

   setenv("FWD_TEST_DIR", "logs", 1);
   char *p = Config_GetPathName("~/x/$FWD_TEST_DIR/f", "log.dir");
   EXPECT_EQ(mHome.path() + "/x/logs/f", p);
   free(p);
}

// The file layers' order is tested with the system files (tests/integration);
// here the user files and the in-memory layer above them.
TEST_F(PreferenceTest, UserLayersAndTheInMemoryLayer)
{
   WriteUserFile("config", "both = \"from config\"\nflag = FALSE\n");
   WriteUserFile("preferences", "both = \"from preferences\"\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(ConfigText(nullptr, "both"), "from preferences");
   EXPECT_FALSE(Config_GetBool(TRUE, "flag"));
   EXPECT_FALSE(Config_NotSet("flag"));
   EXPECT_TRUE(Preference_NotSet("mem.only"));
   EXPECT_TRUE(Preference_SetFromString("mem.only=1", FALSE));
   EXPECT_FALSE(Preference_NotSet("mem.only"));
   EXPECT_TRUE(Preference_SetFromString("both=from memory", TRUE));
   EXPECT_FALSE(Preference_SetFromString("both=again", FALSE));
   EXPECT_EQ(ConfigText(nullptr, "both"), "from memory");
}

// Values from the in-memory layer, converted on first typed lookup.
TEST_F(PreferenceTest, ValuesFallbacksAndRememberedDefaults)
{
   WriteUserFile("config", "k = user\n");
   Preference_InitSystemOnly();
   EXPECT_EQ(ConfigText("dflt", "k"), "dflt"); // the user files are never read
   for (const char *s :
        {"k.maybe=maybe", "k.num=0x10", "k.big=-1", "k.d=2.5", "k.tri=auto", "k.bad=12abc"}) {
      ASSERT_TRUE(Preference_SetFromString(s, TRUE));
   }
   // Not a boolean word: the default, and the entry keeps it.
   EXPECT_TRUE(Config_GetBool(TRUE, "k.maybe"));
   EXPECT_TRUE(Config_GetBool(FALSE, "k.maybe"));
   EXPECT_EQ(16, Config_GetLong(0, "k.num"));
   EXPECT_EQ(-1, Config_GetInt64(0, "k.big"));
   EXPECT_EQ(2.5, Config_GetDouble(0, "k.d"));
   EXPECT_EQ(-1, Config_GetTriState(0, "k.tri"));
   EXPECT_EQ(5, Config_GetLong(5, "k.bad"));

   // The first default wins and is no setting; zero defaults and a TRUE
   // boolean record nothing.
   EXPECT_EQ(ConfigText("a", "key"), "a");
   EXPECT_EQ(ConfigText("b", "key"), "a");
   EXPECT_TRUE(Preference_NotSet("key"));
   EXPECT_TRUE(Config_NotSet("key"));
   EXPECT_EQ(Config_GetLong(0, "n"), 0);
   EXPECT_EQ(Config_GetLong(5, "n"), 5);
   EXPECT_EQ(Config_GetLong(7, "n"), 5);
   EXPECT_TRUE(Config_GetBool(TRUE, "b"));
   EXPECT_FALSE(Config_GetBool(FALSE, "b"));
   Preference_Log();
   EXPECT_EQ(Logged().find("USER DEFAULTS"), std::string::npos);
}

TEST_F(PreferenceTest, BadUserFileIsLoggedAndKeepsWhatWasRead)
{
   WriteUserFile("config", "good = 1\nthis is bad\nlater = 2\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(Config_GetLong(0, "good"), 1);
   EXPECT_EQ(Config_GetLong(0, "later"), 0);
   std::string log = Logged();
   for (const std::string &line : {"[msg.dictionary.read.syntaxError] File \"" +
                                       UserFile("config") + "\" line 2: Syntax error.\n",
                                   "PREF Optional preferences file not found at " +
                                       UserFile("config") + ". Using default values.\n",
                                   "PREF Optional preferences file not found at " +
                                       UserFile("preferences") + ". Using default values.\n"}) {
      EXPECT_NE(log.find(line), std::string::npos) << line << log;
   }
}

TEST_F(PreferenceTest, RestartReadsTheFilesAgain)
{
   WriteUserFile("config", "k = one\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(ConfigText(nullptr, "k"), "one");
   WriteUserFile("config", "k = two\n");
   ASSERT_TRUE(Preference_Init()); // already started: nothing happens
   EXPECT_EQ(ConfigText(nullptr, "k"), "one");
   Preference_Exit();
   EXPECT_EQ(ConfigText("early", "k"), "early");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(ConfigText(nullptr, "k"), "two");
}

TEST_F(PreferenceTest, HomeUnsetLooksBelowTheWorkingDirectory)
{
   std::string cwd = mHome.path() + "/work";
   fwdtest::WriteFile(cwd + "/~/.keltria/config", "k = relative\n");
   char old[4096];
   ASSERT_NE(getcwd(old, sizeof old), nullptr);
   ASSERT_EQ(chdir(cwd.c_str()), 0);
   unsetenv("HOME");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(ConfigText(nullptr, "k"), "relative");
   ASSERT_EQ(chdir(old), 0);
}

TEST_F(PreferenceTest, SetuidProcessIgnoresTheUserFiles)
{
   WriteUserFile("config", "k = user\n");
   fwdtest::ChildResult child = fwdtest::RunInChild([this] {
      // Real user nobody, effective user root: a setuid program.
      if (setresuid(65534, 0, 0) != 0) {
         _exit(3);
      }
      Preference_Init();
      bool ignored = ConfigText("dflt", "k") == "dflt";
      bool logged =
          Logged().find("setuid: ignoring user's config and preferences\n") != std::string::npos;
      _exit(ignored && logged ? 0 : 1);
   });
   EXPECT_EQ(0, child.status) << child.err;
}

std::string Entry(const char *name, const char *value)
{
   char line[128];
   snprintf(line, sizeof line, "DICT %25s = \"%s\"\n", name, value);
   return line;
}

TEST_F(PreferenceTest, DumpShowsEveryLayer)
{
   WriteUserFile("config", "shown = \"yes\"\n");
   ASSERT_TRUE(Preference_Init());
   Preference_SetFromString("mem=1", TRUE);
   LogTestOutput_Clear(mLog);
   Preference_Log();
   std::string log = Logged();
   const std::string lines[] = {
       "DICT --- GLOBAL SETTINGS /usr/lib/keltria/settings\n",
       "DICT --- NON PERSISTENT (null)\n",
       Entry("mem", "1"),
       "DICT --- USER PREFERENCES " + UserFile("preferences") + "\n",
       "DICT --- USER DEFAULTS " + UserFile("config") + "\n",
       Entry("shown", "yes"),
       "DICT --- HOST DEFAULTS /etc/keltria/config\n",
       "DICT --- SITE DEFAULTS /usr/lib/keltria/config\n",
   };
   size_t pos = 0;
   for (const std::string &line : lines) {
      size_t at = log.find(line, pos);
      EXPECT_NE(at, std::string::npos) << line << "\n" << log;
      pos = at == std::string::npos ? pos : at;
   }
   // libdir is remembered as a default in HOST DEFAULTS but never dumped.
   EXPECT_EQ(log.find("libdir"), std::string::npos);
}

TEST(PreferenceConcurrencyTest, RacingStartersAndReadersShareOneState)
{
   fwdtest::TempDir home;
   fwdtest::WriteFile(home.path() + "/.keltria/config", "shared = \"value\"\n");
   setenv("HOME", home.path().c_str(), 1);
   const int kThreads = 4;
   std::vector<std::thread> threads;
   std::vector<std::string> seen(kThreads), remembered(kThreads);
   for (int t = 0; t < kThreads; t++) {
      threads.emplace_back([t, &seen, &remembered] {
         Preference_Init();
         for (int i = 0; i < 200; i++) {
            seen[t] = ConfigText(nullptr, "shared");
            remembered[t] = ConfigText(("thread" + std::to_string(t)).c_str(), "unset.key");
         }
      });
   }
   for (std::thread &th : threads) {
      th.join();
   }
   for (int t = 0; t < kThreads; t++) {
      EXPECT_EQ(seen[t], "value");
      // Whichever default came first is the one every thread sees.
      EXPECT_EQ(remembered[t], remembered[0]);
   }
   Preference_Exit();
}

} // namespace
