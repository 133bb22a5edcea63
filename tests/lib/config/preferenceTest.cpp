// The preference layers through HOME: remembered
// defaults, start-up and shutdown. The order of the file layers and bad or
// missing files are tested with the system files in a private mount
// namespace (tests/integration); the value parsers with the dictionary.
#include "lib/config/preference.h"

#include <gtest/gtest.h>

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
   free(s);
   EXPECT_NE(Logged().find("PREF early PreferenceGet(BpfProxy.FsPath), using default\n"),
             std::string::npos);
   EXPECT_FALSE(Preference_SetFromString("a=b", TRUE));
   Preference_Exit(); // safe when not started

   setenv("FWD_TEST_DIR", "logs", 1);
   char *p = Config_GetPathName("~/x/$FWD_TEST_DIR/f", "log.dir");
   EXPECT_EQ(mHome.path() + "/x/logs/f", p);
   free(p);
}

// The first default wins and is no setting; the user files of a
// system-only start are never read.
TEST_F(PreferenceTest, RememberedDefaultsAndSystemOnlyStart)
{
   WriteUserFile("config", "k = user\n");
   Preference_InitSystemOnly();
   EXPECT_EQ(ConfigText("dflt", "k"), "dflt");
   EXPECT_EQ(ConfigText("a", "key"), "a");
   EXPECT_EQ(ConfigText("b", "key"), "a");
   EXPECT_TRUE(Config_NotSet("key"));
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
