// Log configuration through the real preference layers and dictionaries:
// precedence, corrected settings, level names, module filters and paths.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/log/logFileFixture.h"

namespace {

class LogConfig : public LogFileFixture
{
 protected:
   LogFileSettings Settings(LogOutput *out)
   {
      LogFileSettings s = {};
      EXPECT_TRUE(LogFile_GetSettings(out, &s));
      return s;
   }
   std::string mFile = "log.fileName=" + Path("app.log");
};

TEST_F(LogConfig, PrefixedPreferenceThenPreferenceThenDictionaryThenDefault)
{
   struct
   {
      std::vector<std::string> dict;
      std::vector<std::string> prefs;
      int32 keepOld;
   } cases[] = {
       {{}, {}, 3},
       {{"log.keepOld=50"}, {"log.keepOld=3"}, 50}, // equal to the default: unset
       {{"log.keepOld=50"}, {"log.keepOld=10"}, 10},
       {{"log.keepOld=50"}, {"log.keepOld=10", "svc.log.keepOld=20"}, 20},
       {{}, {"svc.log.keepOld=20", "other.log.keepOld=30"}, 20},
   };
   for (const auto &c : cases) {
      ASSERT_TRUE(Preference_Init());
      for (const auto &p : c.prefs) {
         ASSERT_TRUE(Preference_SetFromString(p.c_str(), TRUE));
      }
      std::vector<std::string> dict = c.dict;
      dict.push_back(mFile);
      LogOutput *out = Init(dict, "svc", true);
      ASSERT_NE(nullptr, out);
      EXPECT_EQ(c.keepOld, Settings(out).keepOld) << ::testing::PrintToString(c.prefs);
      ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
      Preference_Exit();
   }
}

TEST_F(LogConfig, NumbersCorrectedLevelNamesAndModuleFilters)
{
   using S = LogFileSettings;
   struct
   {
      std::vector<std::string> lines;
      int32 S::*field;
      int32 want;
      const char *warning;
   } cases[] = {
       {{"log.rotateSize=5000"},
        &S::rotateSize,
        100000,
        "log.rotateSize (5000) is too small. Set to 100000.\n"},
       {{"log.rotateSize=0"}, &S::rotateSize, 0, nullptr},
       {{"log.rotateSize=-1"},
        &S::rotateSize,
        0,
        "LogFileInt32: log.rotateSize (-1) is invalid. Set to 0.\n"},
       {{"log.throttleBytesPerSec=0"}, &S::throttleBytesPerSec, -1, nullptr},
       {{"log.throttleBytesPerSec=5000", "log.noLogAfterThreshold=TRUE"},
        &S::throttleBytesPerSec,
        0,
        nullptr},
   };
   for (const auto &c : cases) {
      LogTestOutput_Clear(mLog);
      std::vector<std::string> lines = c.lines;
      lines.push_back(mFile);
      LogOutput *out = Init(lines);
      ASSERT_NE(nullptr, out);
      EXPECT_EQ(c.want, Settings(out).*c.field) << c.lines[0];
      std::string said = Said();
      if (c.warning != nullptr) {
         EXPECT_NE(std::string::npos, said.find(c.warning)) << said;
      } else {
         EXPECT_EQ(std::string::npos, said.find("Set to")) << said;
      }
      ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
   }

   const std::pair<const char *, int32> levels[] = {
       {"NONE", -1}, {"VeRbOsE", 6}, {"bogus", 5}, {"debug3", 11}};
   for (const auto &[name, level] : levels) {
      LogOutput *out = Init({mFile, std::string("log.fileLevel=") + name});
      ASSERT_NE(nullptr, out);
      EXPECT_EQ(level, out->fileLevel) << name;
      ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
   }

   ASSERT_TRUE(Preference_Init());
   std::string first = Log_ModuleName(1);
   std::string second = Log_ModuleName(2);
   Log_SetModuleFileLevel(2, LOG_INFO);
   ASSERT_TRUE(
       Preference_SetFromString(("log.filter.minLogLevel." + first + "=DeBug").c_str(), TRUE));
   ASSERT_TRUE(
       Preference_SetFromString(("log.filter.minStderrLevel." + first + "=error").c_str(), TRUE));
   // Unlike log.fileLevel, a name that is no level turns the module off.
   ASSERT_TRUE(
       Preference_SetFromString(("svc.log.filter.minLogLevel." + second + "=bogus").c_str(), TRUE));
   ASSERT_NE(nullptr, Init({mFile}, "svc", true));
   EXPECT_EQ(LOG_DEBUG, Log_GetModuleFileLevel(1));
   EXPECT_EQ(LOG_ERROR, Log_GetModuleStderrLevel(1));
   EXPECT_EQ(-1, Log_GetModuleFileLevel(2));
   EXPECT_EQ(-1, Log_GetModuleFileLevel(3));
}

TEST_F(LogConfig, PathsConfiguredGeneratedAndGiven)
{
   std::string pid = std::to_string(getpid());
   std::string area = mDir.path() + "/keltria-" + getpwuid(geteuid())->pw_name;
   ASSERT_EQ(0, chdir(mDir.path().c_str()));
   const std::pair<std::vector<std::string>, std::string> cases[] = {
       {{"log.fileName=app-$PID.log"}, "app-" + pid + ".log"},
       {{}, area + "/pellory-" + pid + ".log"},
       {{"log.suffix=svc"}, area + "/pellory-svc-" + pid + ".log"},
   };
   for (const auto &[lines, path] : cases) {
      LogOutput *out = Init(lines);
      ASSERT_NE(nullptr, out) << path;
      EXPECT_EQ(path, LogFile_GetPath(out));
      EXPECT_STREQ(LogFile_GetPath(out), Log_GetFileName());
      EXPECT_EQ(0, access(path.c_str(), F_OK)) << path;
      ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
   }
   struct stat st;
   ASSERT_EQ(0, stat(area.c_str(), &st));
   EXPECT_EQ(0700u, st.st_mode & 07777);

   EXPECT_EQ(nullptr, Log_InitWithFile("", nullptr, Path("g.log").c_str())); // empty prefix
   ProductState_Reset();
   // Set once, even to the built-in name.
   Log_SetProductInfo("Keltria Pellory", "1.2", "b77", nullptr);
   Log_SetProductInfo("Other Product", "9.9", "b1", "release"); // only the option was unset
   ASSERT_NE(nullptr, Log_InitWithFile(nullptr, nullptr, Path("f.log").c_str()));
   std::string text = fwdtest::ReadFile(Path("f.log"));
   EXPECT_NE(std::string::npos,
             text.find("Log for Keltria Pellory pid=" + std::to_string(getpid()) +
                       " version=1.2 build=b77 option=release\n"))
       << text;
}

} // namespace
