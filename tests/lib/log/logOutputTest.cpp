// What outputs receive: replay of buffered messages, level filtering,
// standard error, and errno. Line splitting is checked with many threads.
#include <errno.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/childProcess.h"
#include "support/logTestOutput.h"

using fwdtest::ChildResult;
using fwdtest::RunInChild;

namespace {

using Texts = std::vector<std::string>;

TEST(LogOutput, FirstOutputReceivesBufferedMessagesOldestFirst)
{
   DrainPreOutputBuffer();
   Log("one %d", 1);
   Warning("two\n");
   Log_Level(LOG_VERBOSE, "dropped: above the default threshold");
   Log_Level(LOG_AUDIT, "audit");
   fwdtest::LogCapture log(LOG_INFO, FALSE);
   EXPECT_EQ((Texts{"one 1\n", "two\n", "audit\n"}), log.Texts());
   Log("three");
   EXPECT_EQ((Texts{"info: one 1\n", "warning: two\n", "audit: audit\n", "info: three\n"}),
             log.Take());
}

TEST(LogOutput, EachOutputFiltersByItsOwnThreshold)
{
   DrainPreOutputBuffer();
   LogOutput *q = AddTestOutput("quiet", LOG_WARNING);
   LogOutput *c = AddTestOutput("chatty", LOG_DEBUG);
   LogOutput *o = AddTestOutput("off", -1);
   EXPECT_EQ(LOG_DEBUG, Log_GetModuleFileLevel(0));
   Log_Level(LOG_ERROR, "error");
   Log("info");
   Log_Level(LOG_DEBUG, "debug");
   Log_Level(LOG_DEBUG1, "debug1");
   EXPECT_EQ((Texts{"error\n"}), LogTestOutput_Texts(q));
   EXPECT_EQ((Texts{"error\n", "info\n", "debug\n"}), LogTestOutput_Texts(c));
   EXPECT_TRUE(LogTestOutput_Texts(o).empty());

   EXPECT_EQ(LOG_DEBUG, Log_SetOutputLevel(c, LOG_INFO));
   EXPECT_EQ(LOG_INFO, Log_GetModuleFileLevel(0));
   Log_Exit();
   EXPECT_EQ(LOG_INFO, Log_GetModuleFileLevel(0));
   EXPECT_EQ(-1, Log_GetModuleStderrLevel(0));
}

TEST(LogOutput, FirstOutputsThresholdSendsBareTextToStandardError)
{
   ChildResult child = RunInChild([] {
      AddTestOutput("test", LOG_INFO, FALSE, LOG_WARNING);
      Log_Level(LOG_ERROR, "error %d", 2);
      Warning("warning with qzv");
      Log("info stays out");
      Log_Level(LOG_AUDIT, "audit never goes to stderr");
      Log_Exit();
      Warning("no outputs: nothing on stderr");
   });
   ASSERT_TRUE(child.exited);
   EXPECT_EQ(0, child.status);
   EXPECT_EQ("error 2\nwarning with ***\n", child.err);
}

TEST(LogOutput, ErrnoSurvivesEveryEntryPoint)
{
   DrainPreOutputBuffer();
   fwdtest::LogCapture log;
   uint32 counter = 0;
   errno = EBADF;
   Log("a");
   Warning("b");
   Log_Level(LOG_ERROR, "c %s", "d");
   Log_Level(LOG_DEBUG15, "rejected");
   Log_Sampled(&counter, "e");
   Warning_Sampled(&counter, "f");
   EXPECT_EQ(EBADF, errno);
   EXPECT_EQ(5u, log.Texts().size());
}

} // namespace
