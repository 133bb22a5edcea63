// What becomes of a message on its way to the outputs: the newline rule,
// masking, truncation on character boundaries, levels, modules, sampling,
// each output's own threshold, errno, and the time stamps and thread names
// in records (including the form used inside a signal handler). Replay of
// the buffer, line splitting and standard error are checked with many
// threads.
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/logInt.h"
#include "lib/misc/threadState.h"
#include "support/childProcess.h"
#include "support/logTestOutput.h"

using fwdtest::ChildResult;
using fwdtest::RunInChild;

namespace {

using Texts = std::vector<std::string>;

// Whole messages at every level.
class LogMessage : public ::testing::Test
{
 protected:
   LogMessage() { mLog.Clear(); }
   std::string LogOne(const std::string &message)
   {
      mLog.Clear();
      Log("%s", message.c_str());
      std::vector<std::string> texts = mLog.Texts();
      EXPECT_EQ(1u, texts.size());
      return texts.empty() ? std::string() : texts[0];
   }

   fwdtest::LogCapture mLog{LOG_DEBUG15};
};

TEST_F(LogMessage, NewlineAndMasking)
{
   // The log-text fuzzer checks masking against a model on any text.
   const std::pair<const char *, const char *> cases[] = {{"", "\n"},
                                                          {"two\n\n", "two\n\n"},
                                                          {"xqzvx qZv qqzv\n", "x***x *** q***\n"},
                                                          {"qz", "qz\n"}};
   for (const auto &[in, out] : cases) {
      EXPECT_EQ(out, LogOne(in)) << "input: " << in;
   }
   mLog.Clear();
   const char *noFormat = nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
   Log_Level(LOG_ERROR, noFormat);
#pragma GCC diagnostic pop
   EXPECT_EQ((Texts{"\n"}), mLog.Texts());
}

TEST_F(LogMessage, LongMessagesUseTheLargeBufferOrAreCutOnACharacter)
{
   // Fits the large buffer exactly: 32766 bytes plus the added newline.
   std::string fits(32766, 'y');
   EXPECT_EQ(fits + "\n", LogOne(fits));

   EXPECT_EQ(std::string(32765, 'y') + "\n", LogOne(fits + "yy"));
   // A cut inside a character loses that character only; the log-text
   // fuzzer tries every other position and width of the cut.
   std::string text(32764, 'a');
   while (text.size() < 32800) {
      text += "\xE2\x82\xAC";
   }
   EXPECT_EQ(std::string(32764, 'a') + "\n", LogOne(text));
}

// Buffers too small for any text; every other cut is the log-text fuzzer's.
TEST(LogCut, TinyBuffersHoldOnlyTheNewline)
{
   const std::pair<size_t, std::string> cases[] = {{3, "a\n"}, {2, "\n"}, {1, "\n"}};
   for (const auto &[size, want] : cases) {
      char buf[4] = {'a', 'b', '\0', '#'};
      size_t len = LogCutAtCharacter(size, buf);
      EXPECT_EQ(want, std::string(buf, len)) << size;
      EXPECT_EQ(size >= 2 ? '\0' : 'b', buf[len]) << size;
      EXPECT_EQ('#', buf[3]) << "wrote past the buffer";
   }
}

// Log_IsEnabled answers what Log_Level keeps, case by case.
TEST_F(LogMessage, ModuleThresholdsSelectMessagesAndBypassOutputLevels)
{
   Log_SetOutputLevel(mLog.out(), LOG_WARNING);
   uint32 m = (uint32)Log_ModuleByName("tc");
   const struct
   {
      int32 moduleFile; // m's file threshold
      uint32 value;
      bool kept;
   } cases[] = {
       {-1, LOG_LEVEL_MODULE(LOG_DEBUG, m), false},
       {-1, LOG_LEVEL_MODULE(LOG_AUDIT, m), true},
       {LOG_DEBUG, LOG_LEVEL_MODULE(LOG_DEBUG, m), true}, // past the output's own level
       {LOG_DEBUG, LOG_LEVEL_MODULE(LOG_DEBUG1, m), false},
       {-1, LOG_LEVEL_MODULE(LOG_DEBUG, LOG_MODULE_COUNT + 5), false},
       {-1, LOG_LEVEL_MODULE(LOG_ERROR, LOG_MODULE_COUNT + 5), true}, // as no module
       {-1, LOG_LEVEL_MODULE(LOG_AUDIT, LOG_MODULE_COUNT + 1), true},
       {-1, LOG_WARNING, true},
       {-1, LOG_INFO, false},
   };
   for (const auto &c : cases) {
      Log_SetModuleFileLevel(m, c.moduleFile);
      mLog.Clear();
      Log_Level(c.value, "message");
      EXPECT_EQ(c.kept, !mLog.Texts().empty()) << c.value;
      EXPECT_EQ(c.kept, (bool)Log_IsEnabled(c.value)) << c.value;
   }
   Log_SetModuleFileLevel(m, -1);
   // A stderr threshold alone keeps a message too.
   Log_SetModuleStderrLevel(m, LOG_DEBUG);
   EXPECT_TRUE(Log_IsEnabled(LOG_LEVEL_MODULE(LOG_DEBUG, m)));
   Log_SetModuleStderrLevel(m, -1);
}

TEST_F(LogMessage, SampledFormsLogOnlySampledOccurrences)
{
   uint32 info = 0;
   uint32 warn = 0;
   for (int i = 0; i < 20000; i++) {
      Log_Sampled(&info, "i%d", i + 1);
      Warning_Sampled(&warn, "w%d", i + 1);
   }
   // Of each form: 1 to 99, 100 to 9900 by 100, 10000 and 20000.
   std::vector<LogTestEntry> got = LogTestOutput_Entries(mLog.out());
   ASSERT_EQ(2u * 200, got.size());
   EXPECT_STREQ("warning", got[1].record.desc->name);
   EXPECT_EQ("i100\n", got[198].text);
   EXPECT_EQ("w20000\n", got[399].text);
}

// Each output receives what its own threshold admits; no entry point, taken
// or rejected, changes errno.
TEST(LogOutput, EachOutputFiltersByItsOwnThresholdAndErrnoIsKept)
{
   DrainPreOutputBuffer();
   LogOutput *q = AddTestOutput("quiet", LOG_WARNING);
   LogOutput *c = AddTestOutput("chatty", LOG_DEBUG);
   LogOutput *o = AddTestOutput("off", -1);
   EXPECT_EQ(LOG_DEBUG, Log_GetModuleFileLevel(0));
   uint32 counter = 0;
   errno = EBADF;
   Log_Level(LOG_ERROR, "error %s", "e");
   Log("info");
   Log_Level(LOG_DEBUG, "debug");
   Log_Level(LOG_DEBUG1, "debug1");
   Warning("warning");
   Log_Sampled(&counter, "sampled");
   EXPECT_EQ(EBADF, errno);
   EXPECT_EQ((Texts{"error e\n", "warning\n"}), LogTestOutput_Texts(q));
   EXPECT_EQ((Texts{"error e\n", "info\n", "debug\n", "warning\n", "sampled\n"}),
             LogTestOutput_Texts(c));
   EXPECT_TRUE(LogTestOutput_Texts(o).empty());

   EXPECT_EQ(LOG_DEBUG, Log_SetOutputLevel(c, LOG_INFO));
   EXPECT_EQ(LOG_INFO, Log_GetModuleFileLevel(0));
   Log_Exit();
   EXPECT_EQ(LOG_INFO, Log_GetModuleFileLevel(0));
   EXPECT_EQ(-1, Log_GetModuleStderrLevel(0));
}

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
   sighandler_t old = signal(SIGUSR1, StampInHandler);
   ASSERT_EQ(0, raise(SIGUSR1));
   signal(SIGUSR1, old);
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
   std::smatch m;
   ASSERT_TRUE(std::regex_match(stamp, m, std::regex(base + R"(Z\[\+(\d+))"))) << stamp;
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
