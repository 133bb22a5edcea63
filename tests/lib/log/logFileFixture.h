// A fixture for the file output and its configuration: a temporary
// directory as TMPDIR and HOME, and a test output that shows what the file
// output says about itself.
#ifndef TESTS_LIB_LOG_LOGFILEFIXTURE_H
#define TESTS_LIB_LOG_LOGFILEFIXTURE_H

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/config/preference.h"
#include "lib/log/logConfig.h"
#include "lib/log/logFile.h"
#include "lib/misc/productState.h"
#include "lib/misc/threadState.h"
#include "lib/user/dictionary.h"
#include "support/logTestOutput.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

class LogFileFixture : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      setenv("TMPDIR", mDir.path().c_str(), 1);
      setenv("HOME", mDir.path().c_str(), 1);
      ThreadState_SetName("main");
      mLog = AddTestOutput();
   }
   void TearDown() override
   {
      Log_Exit();
      Preference_Exit();
      LogFile_SetClockForTesting(nullptr);
   }
   std::string Path(const std::string &name) const { return mDir.path() + "/" + name; }
   /// Registers a file output configured by dictionary lines "key=value",
   /// with the preferences as provider when withPrefs, cleaning up old logs
   /// when cleanOld; NULL when refused.
   LogOutput *Init(const std::vector<std::string> &lines, const char *appPrefix = nullptr,
                   bool withPrefs = false, bool cleanOld = false)
   {
      Dictionary *dict = Dictionary_Create();
      for (const auto &line : lines) {
         Dictionary_SetFromString(dict, line.c_str(), FALSE, nullptr);
      }
      LogOutput *out = Log_InitWithConfig(
          appPrefix, dict, withPrefs ? Log_GetSystemConfigProvider() : nullptr, cleanOld);
      Dictionary_Free(dict);
      return out;
   }
   LogFileSettings Settings(LogOutput *out)
   {
      LogFileSettings s = {};
      EXPECT_TRUE(LogFile_GetSettings(out, &s));
      return s;
   }
   /// Everything logged so far, including what outputs logged from inside
   /// the log lock (the empty message lets it through).
   std::string Said()
   {
      Log("%s", "");
      return LogTestOutput_Joined(mLog);
   }

   fwdtest::TempDir mDir;
   LogOutput *mLog = nullptr;
   std::string mPath = Path("app.log");
   std::string mFile = "log.fileName=" + mPath;
};

#endif
