// The preference layers through HOME: start-ups that must not read the user
// files. Restarts, the order of the file layers and bad or missing files are
// tested with the system files in a private mount namespace
// (tests/integration), racing starts by the concurrency test below.
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
   void WriteUserFile(const char *name, const std::string &content)
   {
      fwdtest::WriteFile(mHome.path() + "/.keltria/" + name, content);
   }
   std::string Logged() { return LogTestOutput_Joined(mLog); }

   fwdtest::TempDir mHome;
   LogOutput *mLog = nullptr;
};

// The user files of a system-only start are never read; a remembered
// default is no setting.
TEST_F(PreferenceTest, SystemOnlyStartIgnoresTheUserFiles)
{
   WriteUserFile("config", "k = user\n");
   Preference_InitSystemOnly();
   EXPECT_EQ(ConfigText("dflt", "k"), "dflt");
   EXPECT_TRUE(Config_NotSet("k"));
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
