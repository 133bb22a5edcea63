// What outputs receive: replay of buffered messages, line splitting, level
// filtering, and the registration rules.
#include <errno.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/logTestOutput.h"
#include "lib/log/logTestSupport.h"

namespace {

using Texts = std::vector<std::string>;

TEST(LogOutput, FirstOutputReceivesBufferedMessagesOldestFirst)
{
   DrainPreOutputBuffer();
   Log("one %d", 1);
   Warning("two\n");
   Log_Level(LOG_VERBOSE, "dropped: above the default threshold");
   Log_Level(LOG_AUDIT, "audit");
   LogOutput *out = LogTestOutput_Create(nullptr);
   ASSERT_TRUE(Log_AddOutput(out));
   EXPECT_EQ((Texts{"one 1\n", "two\n", "audit\n"}), LogTestOutput_Texts(out));

   Log("three");
   std::vector<LogTestEntry> entries = LogTestOutput_Entries(out);
   ASSERT_EQ(4u, entries.size());
   EXPECT_EQ("three\n", entries[3].text);
   EXPECT_STREQ("info", entries[3].record.desc->name);
   EXPECT_STREQ("warning", entries[1].record.desc->name);
   EXPECT_STREQ("Z", entries[3].record.zone);
   Log_Exit();
}

TEST(LogOutput, LineOutputsGetLinesAndWholeOutputsGetMessages)
{
   DrainPreOutputBuffer();
   LogTestOutputOptions lineOpts;
   lineOpts.name = "lines";
   LogTestOutputOptions wholeOpts;
   wholeOpts.name = "whole";
   wholeOpts.wholeMessage = TRUE;
   LogOutput *lines = LogTestOutput_Create(&lineOpts);
   LogOutput *whole = LogTestOutput_Create(&wholeOpts);
   ASSERT_TRUE(Log_AddOutput(lines));
   ASSERT_TRUE(Log_AddOutput(whole));

   Log("first\nsecond\nthird");
   EXPECT_EQ((Texts{"first\nsecond\nthird\n"}), LogTestOutput_Texts(whole));
   std::vector<LogTestEntry> got = LogTestOutput_Entries(lines);
   ASSERT_EQ(3u, got.size());
   const char *want[] = {"first\n", "second\n", "third\n"};
   for (size_t i = 0; i < 3; i++) {
      EXPECT_EQ(want[i], got[i].text);
      EXPECT_EQ(i == 0 ? 0 : 1, got[i].record.continuation);
   }
   Log_Exit();
}

TEST(LogOutput, EachOutputFiltersByItsOwnThreshold)
{
   DrainPreOutputBuffer();
   LogTestOutputOptions quiet;
   quiet.name = "quiet";
   quiet.fileLevel = LOG_WARNING;
   LogTestOutputOptions chatty;
   chatty.name = "chatty";
   chatty.fileLevel = LOG_DEBUG;
   LogTestOutputOptions off;
   off.name = "off";
   off.fileLevel = -1;
   LogOutput *q = LogTestOutput_Create(&quiet);
   LogOutput *c = LogTestOutput_Create(&chatty);
   LogOutput *o = LogTestOutput_Create(&off);
   ASSERT_TRUE(Log_AddOutput(q));
   ASSERT_TRUE(Log_AddOutput(c));
   ASSERT_TRUE(Log_AddOutput(o));
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

TEST(LogOutput, ErrnoSurvivesEveryEntryPoint)
{
   DrainPreOutputBuffer();
   LogOutput *out = LogTestOutput_Create(nullptr);
   ASSERT_TRUE(Log_AddOutput(out));
   uint32 counter = 0;
   errno = EBADF;
   Log("a");
   Warning("b");
   Log_Level(LOG_ERROR, "c %s", "d");
   Log_Level(LOG_DEBUG15, "rejected");
   Log_Sampled(&counter, "e");
   Warning_Sampled(&counter, "f");
   EXPECT_EQ(EBADF, errno);
   EXPECT_EQ(5u, LogTestOutput_Texts(out).size());
   Log_Exit();
}

} // namespace
