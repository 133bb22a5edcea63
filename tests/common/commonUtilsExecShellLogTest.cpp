// What the shell forms log: the capture and fork forms trace every command
// at level 8; the status form stays silent for its tc callers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/commonUtils.h"
#include "support/logTestOutput.h"

namespace {

class ExecShellLogTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      LogTestOutputOptions opts;
      opts.wholeMessage = TRUE;
      opts.fileLevel = LOG_DEBUG;
      mOut = LogTestOutput_Create(&opts);
      ASSERT_TRUE(Log_AddOutput(mOut));
      LogTestOutput_Clear(mOut);
   }
   void TearDown() override { Log_Exit(); }

   std::vector<std::string> Logged()
   {
      std::vector<std::string> got;
      for (const LogTestEntry &e : LogTestOutput_Entries(mOut)) {
         got.push_back(std::string(e.record.desc->name) + ": " + e.text);
      }
      LogTestOutput_Clear(mOut);
      return got;
   }

   LogOutput *mOut = nullptr;
};

TEST_F(ExecShellLogTest, EachFormLogsAsDocumented)
{
   using Msgs = std::vector<std::string>;
   std::string text = "before|";
   ASSERT_TRUE(CommonUtils::ExecShell("echo one", text));
   // The whole text is logged, including what it held before the call.
   EXPECT_EQ(Logged(), (Msgs{"debug: CommonUtils->ExecShell Command echo one executed, output "
                             "before|one\n\n"}));

   std::string empty;
   ASSERT_TRUE(CommonUtils::ExecShell("true", empty));
   EXPECT_EQ(Logged(), (Msgs{"debug: CommonUtils->ExecShell Command true executed, output \n"}));

   ASSERT_TRUE(CommonUtils::ExecShell("exit 3", true));
   EXPECT_EQ(Logged(), (Msgs{"debug: CommonUtils->ExecShell Command exit 3 executed\n"}));

   int status = -1;
   std::string out;
   ASSERT_TRUE(CommonUtils::ExecShell("echo quiet; exit 1", out, status));
   EXPECT_EQ(CommonUtils::ExecShellStatus("echo quiet", out), 0);
   EXPECT_EQ(Logged(), Msgs{});
}

} // namespace
