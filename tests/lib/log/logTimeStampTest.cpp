// Time stamps and thread names in records, including the form used inside a
// signal handler and what reaches standard error.
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/childProcess.h"
#include "support/logTestOutput.h"
#include "lib/misc/threadState.h"

using fwdtest::ChildResult;
using fwdtest::RunInChild;

namespace {

time_t ParseStamp(const char *stamp)
{
   struct tm tm = {};
   if (strptime(stamp, "%Y-%m-%dT%H:%M:%S", &tm) == nullptr) {
      return (time_t)-1;
   }
   return timegm(&tm);
}

LogRecord signalRecord;

void StampInHandler(int)
{
   ThreadState_EnterSignalHandler();
   LogMakeTimeStamp(&signalRecord);
   Log("from the handler");
   ThreadState_LeaveSignalHandler();
}

TEST(LogTimeStamp, OrdinaryStampIsUtcAndTheSignalHandlerFormReusesIt)
{
   // Both messages wait in the pre-output buffer, so the handler allocates
   // nothing; the output added afterwards receives them with their records.
   DrainPreOutputBuffer();
   time_t before = time(nullptr);
   Log("before");
   time_t after = time(nullptr);
   struct sigaction sa = {};
   sa.sa_handler = StampInHandler;
   struct sigaction old;
   ASSERT_EQ(0, sigaction(SIGUSR1, &sa, &old));
   ASSERT_EQ(0, raise(SIGUSR1));
   sigaction(SIGUSR1, &old, nullptr);
   std::vector<LogTestEntry> got = LogTestOutput_Entries(AddTestOutput());
   ASSERT_EQ(2u, got.size());
   const LogRecord &ordinary = got[0].record;
   const LogRecord &inHandler = got[1].record;
   // The ordinary stamp is UTC (its form shows in the file output's lines).
   EXPECT_STREQ("Z", ordinary.zone);
   EXPECT_GE(ParseStamp(ordinary.timeStamp), before);
   EXPECT_LE(ParseStamp(ordinary.timeStamp), after);

   std::string base = ordinary.timeStamp;
   std::string stamp = inHandler.timeStamp;
   ASSERT_EQ(0, stamp.compare(0, base.size(), base)) << stamp;
   std::smatch m;
   std::string rest = stamp.substr(base.size());
   ASSERT_TRUE(std::regex_match(rest, m, std::regex(R"(Z\[\+(\d+))"))) << stamp;
   // Elapsed since the last ordinary stamp, not since the epoch.
   EXPECT_LT(atol(m[1].str().c_str()), 3600);
   EXPECT_STREQ("]", inHandler.zone);
   EXPECT_STREQ("]", signalRecord.zone);
   Log_Exit();
}

// Default names carry the kernel's thread id; set names are cut on a
// character and reach the record.
TEST(LogThreadName, DefaultAndSetNames)
{
   const std::string host = "host-" + std::to_string((long)syscall(SYS_gettid));
   EXPECT_EQ(host, ThreadState_GetName());
   // A forked child is another thread: it must not keep the parent's id.
   ChildResult child = RunInChild(
       [] { _exit("host-" + std::to_string((long)getpid()) == ThreadState_GetName() ? 0 : 1); });
   EXPECT_EQ(0, child.status);
   const std::pair<const char *, std::string> cases[] = {
       {"0123456789012345678901234567890123456789", "0123456789012345678901234567890"},
       // 30 ASCII bytes and a 2-byte character: the character does not fit.
       {"012345678901234567890123456789\xC3\xA9", "012345678901234567890123456789"},
       {"", host},
   };
   DrainPreOutputBuffer();
   fwdtest::LogCapture log;
   for (const auto &[set, want] : cases) {
      ThreadState_SetName(set);
      EXPECT_EQ(want, ThreadState_GetName());
      log.Clear();
      Log("named");
      std::vector<LogTestEntry> got = LogTestOutput_Entries(log.out());
      ASSERT_EQ(1u, got.size());
      EXPECT_EQ(want, got[0].record.threadName);
   }
}

} // namespace
