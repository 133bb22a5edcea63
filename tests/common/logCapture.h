/// What the log facility writes while a test runs, kept in memory.
#ifndef TESTS_COMMON_LOGCAPTURE_H
#define TESTS_COMMON_LOGCAPTURE_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/log.h"
#include "support/logTestOutput.h"

namespace fwdtest {

/// Registers an output for messages at `level` and more severe; the log
/// facility is shut down again on destruction.
class LogCapture
{
 public:
   explicit LogCapture(int32 level)
   {
      LogTestOutputOptions opts;
      opts.wholeMessage = TRUE;
      opts.fileLevel = level;
      mOut = LogTestOutput_Create(&opts);
      EXPECT_TRUE(Log_AddOutput(mOut));
   }
   ~LogCapture() { Log_Exit(); }
   LogCapture(const LogCapture &) = delete;
   LogCapture &operator=(const LogCapture &) = delete;

   /// The messages since the last call, as "<level name>: <message>".
   std::vector<std::string> Take()
   {
      std::vector<std::string> got;
      for (const LogTestEntry &e : LogTestOutput_Entries(mOut)) {
         got.push_back(std::string(e.record.desc->name) + ": " + e.text);
      }
      LogTestOutput_Clear(mOut);
      return got;
   }

 private:
   LogOutput *mOut = nullptr;
};

} // namespace fwdtest

#endif
