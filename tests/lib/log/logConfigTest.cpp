// Log configuration through the real preference layers and dictionaries:
// corrected settings, level names, precedence, module filters and paths.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/log/logFileFixture.h"

namespace {

using LogConfig = LogFileFixture;

TEST_F(LogConfig, NumbersCorrectedLevelNamesPrecedenceAndModuleFilters)
{
   using S = LogFileSettings;
   struct
   {
      std::vector<std::string> lines;
      int32 S::*field;
      int32 want;
      const char *warning;
   } cases[] = {
       {{"log.rotateSize=5000"}, &S::rotateSize, 100000, "(5000) is too small. Set to 100000.\n"},
       {{"log.rotateSize=0"}, &S::rotateSize, 0, nullptr},
       {{"log.rotateSize=-1"}, &S::rotateSize, 0, "LogFileInt32: log.rotateSize (-1) is invalid."},
       {{"log.throttleBytesPerSec=0"}, &S::throttleBytesPerSec, -1, nullptr},
       {{"log.throttleBytesPerSec=5000", "log.noLogAfterThreshold=TRUE"},
        &S::throttleBytesPerSec,
        0,
        nullptr},
   };
   for (const auto &c : cases) {
      LogTestOutput_Clear(mLog);
      LogOutput *out = Init(c.lines);
      ASSERT_NE(nullptr, out);
      EXPECT_EQ(c.want, Settings(out).*c.field) << c.lines[0];
      const std::string said = Said();
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
      LogOutput *out = Init({std::string("log.fileLevel=") + name});
      ASSERT_NE(nullptr, out);
      EXPECT_EQ(level, out->fileLevel) << name;
      ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
   }

   // The application's prefixed preference beats the plain one, which beats
   // the dictionary; one equal to the default counts as unset; another
   // application's is not read. Unlike log.fileLevel, a module filter that
   // names no level turns the module off.
   ASSERT_TRUE(Preference_Init());
   const std::string first = Log_ModuleName(1);
   const std::string second = Log_ModuleName(2);
   Log_SetModuleFileLevel(2, LOG_INFO);
   for (const std::string &pref : std::vector<std::string>{
            "log.keepOld=10", "svc.log.keepOld=20", "other.log.keepOld=30", "log.rotateSize=300000",
            "log.throttleThreshold=1000000", "log.filter.minLogLevel." + first + "=DeBug",
            "log.filter.minStderrLevel." + first + "=error",
            "svc.log.filter.minLogLevel." + second + "=bogus"}) {
      ASSERT_TRUE(Preference_SetFromString(pref.c_str(), TRUE)) << pref;
   }
   LogOutput *out =
       Init({"log.keepOld=50", "log.rotateSize=200000", "log.throttleThreshold=5000"}, "svc", true);
   ASSERT_NE(nullptr, out);
   EXPECT_EQ(20, Settings(out).keepOld);
   EXPECT_EQ(300000, Settings(out).rotateSize);
   EXPECT_EQ(5000, Settings(out).throttleThreshold);
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

   // Refused: an empty application prefix, a path that names a directory.
   EXPECT_EQ(nullptr, Log_InitWithFile("", nullptr, Path("g.log").c_str()));
   const std::string dir = Path("dir.log");
   ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
   EXPECT_EQ(nullptr, Init({"log.fileName=" + dir}));
   EXPECT_NE(std::string::npos,
             Said().find("Rejecting '" + dir + "' because it is not an acceptable type.\n"));
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
