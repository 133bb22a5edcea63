// The preference layers through HOME: the user files, the in-memory layer,
// remembered defaults, start-up and shutdown. The system files are tested in
// a private mount namespace (tests/integration).
#include "lib/config/preference.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lib/config/config.h"
#include "lib/log/log.h"
#include "lib/log/logTestOutput.h"

namespace {

class PreferenceTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      char tmpl[] = "/tmp/prefhome.XXXXXX";
      ASSERT_NE(mkdtemp(tmpl), nullptr);
      mHome = tmpl;
      ASSERT_EQ(mkdir((mHome + "/.keltria").c_str(), 0755), 0);
      setenv("HOME", mHome.c_str(), 1);
      mLog = LogTestOutput_Create(nullptr);
      ASSERT_TRUE(Log_AddOutput(mLog));
   }
   void TearDown() override
   {
      Preference_Exit();
      Log_Exit();
      std::string cmd = "rm -rf '" + mHome + "'";
      ASSERT_EQ(system(cmd.c_str()), 0);
   }

   void WriteUserFile(const char *name, const std::string &content)
   {
      std::ofstream(mHome + "/.keltria/" + name) << content;
   }

   std::string Logged() { return LogTestOutput_Joined(mLog); }

   static std::string GetString(const char *dflt, const char *key)
   {
      char *v = Config_GetString(dflt, "%s", key);
      std::string s = v != nullptr ? v : "<null>";
      free(v);
      return s;
   }

   std::string mHome;
   LogOutput *mLog = nullptr;
};

TEST_F(PreferenceTest, EarlyLookupGivesTheDefault)
{
   EXPECT_EQ(GetString("/sys/fs/bpf/", "BpfProxy.FsPath"), "/sys/fs/bpf/");
   EXPECT_NE(Logged().find("PREF early PreferenceGet(BpfProxy.FsPath), using default\n"),
             std::string::npos);
   EXPECT_TRUE(Preference_NotSet("BpfProxy.FsPath"));
   EXPECT_FALSE(Preference_SetFromString("a=b", TRUE));
   Preference_Exit(); // safe when not started
}

TEST_F(PreferenceTest, UserLayersAndPrecedence)
{
   WriteUserFile("config", "# user defaults\n"
                           "BpfProxy.FsPath = \"/run/bpf\"\n"
                           "both = \"from config\"\n"
                           "flag = FALSE\n"
                           "count = 0x10\n");
   WriteUserFile("preferences", "both = \"from preferences\"\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(GetString("/sys/fs/bpf/", "BpfProxy.FsPath"), "/run/bpf");
   EXPECT_EQ(GetString(nullptr, "both"), "from preferences");
   EXPECT_FALSE(Config_GetBool(TRUE, "flag"));
   EXPECT_EQ(Config_GetLong(0, "count"), 16);
   EXPECT_TRUE(Config_GetBool(TRUE, "BpfProxy.Enabled"));
   EXPECT_EQ(GetString(nullptr, "absent"), "<null>");

   // The in-memory layer sits above both user layers.
   EXPECT_TRUE(Preference_SetFromString("both=from memory", TRUE));
   EXPECT_EQ(GetString(nullptr, "both"), "from memory");
   EXPECT_FALSE(Preference_SetFromString("both=again", FALSE));
   EXPECT_EQ(GetString(nullptr, "both"), "from memory");
   EXPECT_TRUE(Preference_SetFromString("both=again", TRUE));
   EXPECT_EQ(GetString(nullptr, "both"), "again");
}

TEST_F(PreferenceTest, RememberedDefault)
{
   ASSERT_TRUE(Preference_Init());
   EXPECT_TRUE(Preference_NotSet("key"));
   EXPECT_EQ(GetString("a", "key"), "a");
   EXPECT_EQ(GetString("b", "key"), "a");
   // A remembered default is no setting.
   EXPECT_TRUE(Preference_NotSet("key"));
   // Zero defaults and a TRUE boolean record nothing.
   EXPECT_EQ(Config_GetLong(0, "n"), 0);
   EXPECT_EQ(Config_GetLong(5, "n"), 5);
   EXPECT_EQ(Config_GetLong(7, "n"), 5);
   EXPECT_FALSE(Config_GetBool(FALSE, "b"));
   EXPECT_TRUE(Config_GetBool(TRUE, "b"));
}

TEST_F(PreferenceTest, NotSetSeesEveryLayer)
{
   WriteUserFile("config", "inconfig = 1\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_FALSE(Preference_NotSet("inconfig"));
   EXPECT_TRUE(Preference_NotSet("inmemory"));
   Preference_SetFromString("inmemory=1", FALSE);
   EXPECT_FALSE(Preference_NotSet("inmemory"));
   EXPECT_FALSE(Config_NotSet("inmemory"));
}

TEST_F(PreferenceTest, SystemOnlySkipsTheUserFiles)
{
   WriteUserFile("config", "k = user\n");
   Preference_InitSystemOnly();
   EXPECT_EQ(GetString("dflt", "k"), "dflt");
   Preference_Log();
   EXPECT_EQ(Logged().find("USER DEFAULTS"), std::string::npos);
}

TEST_F(PreferenceTest, BadUserFileIsLoggedAndKeepsWhatWasRead)
{
   WriteUserFile("config", "good = 1\nthis is bad\nlater = 2\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(Config_GetLong(0, "good"), 1);
   EXPECT_EQ(Config_GetLong(0, "later"), 0);
   std::string path = mHome + "/.keltria/config";
   std::string log = Logged();
   EXPECT_NE(
       log.find("[msg.dictionary.read.syntaxError] File \"" + path + "\" line 2: Syntax error.\n"),
       std::string::npos)
       << log;
   EXPECT_NE(log.find("PREF Optional preferences file not found at " + path +
                      ". Using default values.\n"),
             std::string::npos);
   // The missing preferences file is logged the same way.
   EXPECT_NE(log.find("PREF Optional preferences file not found at " + mHome +
                      "/.keltria/preferences. Using default values.\n"),
             std::string::npos);
}

TEST_F(PreferenceTest, RestartReadsTheFilesAgain)
{
   WriteUserFile("config", "k = one\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(GetString(nullptr, "k"), "one");
   WriteUserFile("config", "k = two\n");
   ASSERT_TRUE(Preference_Init()); // already started: nothing happens
   EXPECT_EQ(GetString(nullptr, "k"), "one");
   Preference_Exit();
   EXPECT_EQ(GetString("early", "k"), "early");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(GetString(nullptr, "k"), "two");
}

TEST_F(PreferenceTest, HomeUnsetLooksBelowTheWorkingDirectory)
{
   std::string cwd = mHome + "/work";
   ASSERT_EQ(mkdir(cwd.c_str(), 0755), 0);
   ASSERT_EQ(mkdir((cwd + "/~").c_str(), 0755), 0);
   ASSERT_EQ(mkdir((cwd + "/~/.keltria").c_str(), 0755), 0);
   std::ofstream(cwd + "/~/.keltria/config") << "k = relative\n";
   char old[4096];
   ASSERT_NE(getcwd(old, sizeof old), nullptr);
   ASSERT_EQ(chdir(cwd.c_str()), 0);
   unsetenv("HOME");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(GetString(nullptr, "k"), "relative");
   ASSERT_EQ(chdir(old), 0);
}

TEST_F(PreferenceTest, SetuidProcessIgnoresTheUserFiles)
{
   WriteUserFile("config", "k = user\n");
   pid_t pid = fork();
   ASSERT_GE(pid, 0);
   if (pid == 0) {
      // Real user nobody, effective user root: a setuid program.
      if (setresuid(65534, 0, 0) != 0) {
         _exit(3);
      }
      Preference_Init();
      char *v = Config_GetString("dflt", "k");
      bool ignored = v != nullptr && strcmp(v, "dflt") == 0;
      bool logged =
          Logged().find("setuid: ignoring user's config and preferences\n") != std::string::npos;
      _exit(ignored && logged ? 0 : 1);
   }
   int status = 0;
   ASSERT_EQ(waitpid(pid, &status, 0), pid);
   ASSERT_TRUE(WIFEXITED(status));
   EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PreferenceTest, DumpShowsEveryLayer)
{
   WriteUserFile("config", "shown = \"yes\"\n");
   ASSERT_TRUE(Preference_Init());
   Preference_SetFromString("mem=1", TRUE);
   LogTestOutput_Clear(mLog);
   Preference_Log();
   std::string log = Logged();
   const std::string headings[] = {
       "DICT --- GLOBAL SETTINGS /usr/lib/keltria/settings\n",
       "DICT --- NON PERSISTENT (null)\n",
       "DICT --- USER PREFERENCES " + mHome + "/.keltria/preferences\n",
       "DICT --- USER DEFAULTS " + mHome + "/.keltria/config\n",
       "DICT --- HOST DEFAULTS /etc/keltria/config\n",
       "DICT --- SITE DEFAULTS /usr/lib/keltria/config\n",
   };
   size_t pos = 0;
   for (const std::string &h : headings) {
      size_t at = log.find(h, pos);
      EXPECT_NE(at, std::string::npos) << h << "\n" << log;
      pos = at == std::string::npos ? pos : at;
   }
   for (const auto &kv : {std::make_pair("mem", "1"), std::make_pair("shown", "yes")}) {
      char line[128];
      snprintf(line, sizeof line, "DICT %25s = \"%s\"\n", kv.first, kv.second);
      EXPECT_NE(log.find(line), std::string::npos) << line << log;
   }
   // libdir is remembered as a default in HOST DEFAULTS but never dumped.
   EXPECT_EQ(log.find("libdir"), std::string::npos);
}

TEST(PreferenceConcurrencyTest, RacingStartersAndReadersShareOneState)
{
   char tmpl[] = "/tmp/prefhome.XXXXXX";
   ASSERT_NE(mkdtemp(tmpl), nullptr);
   std::string home = tmpl;
   ASSERT_EQ(mkdir((home + "/.keltria").c_str(), 0755), 0);
   std::ofstream(home + "/.keltria/config") << "shared = \"value\"\n";
   setenv("HOME", home.c_str(), 1);

   const int kThreads = 4;
   std::vector<std::thread> threads;
   std::vector<std::string> seen(kThreads);
   std::vector<std::string> remembered(kThreads);
   for (int t = 0; t < kThreads; t++) {
      threads.emplace_back([t, &seen, &remembered] {
         Preference_Init();
         for (int i = 0; i < 200; i++) {
            char *v = Config_GetString(nullptr, "shared");
            seen[t] = v != nullptr ? v : "";
            free(v);
            std::string dflt = "thread" + std::to_string(t);
            v = Config_GetString(dflt.c_str(), "unset.key");
            remembered[t] = v;
            free(v);
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
   std::string cmd = "rm -rf '" + home + "'";
   ASSERT_EQ(system(cmd.c_str()), 0);
}

} // namespace
