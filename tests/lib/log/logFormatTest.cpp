// How a message is shaped before any output sees it: the newline rule,
// masking, truncation on character boundaries, levels, modules, sampling.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/logInt.h"
#include "support/logTestOutput.h"

namespace {

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
   EXPECT_EQ((std::vector<std::string>{"\n"}), mLog.Texts());
}

TEST_F(LogMessage, LongMessagesUseTheLargeBufferOrAreCutOnACharacter)
{
   // Fits the large buffer exactly: 32766 bytes plus the added newline.
   std::string fits(32766, 'y');
   EXPECT_EQ(fits + "\n", LogOne(fits));

   EXPECT_EQ(std::string(32765, 'y') + "\n", LogOne(fits + "yy"));
   // A cut inside a character loses that character only; the log-text
   // fuzzer tries every other position of the cut.
   for (size_t pad : {32765, 32764}) {
      for (const char *wide : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
         std::string text(pad, 'a');
         while (text.size() < 32800) {
            text += wide;
         }
         EXPECT_EQ(std::string(pad, 'a') + "\n", LogOne(text)) << strlen(wide) << "-byte";
      }
   }
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
      bool kept = !mLog.Texts().empty();
      EXPECT_EQ(c.kept, kept) << c.value;
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
   std::vector<LogTestEntry> got = LogTestOutput_Entries(mLog.out());
   // 99 + 99 (100..9900) + 2 (10000, 20000) for each form.
   ASSERT_EQ(2u * 200, got.size());
   EXPECT_EQ("i1\n", got[0].text);
   EXPECT_STREQ("warning", got[1].record.desc->name);
   EXPECT_EQ("i100\n", got[198].text);
   EXPECT_EQ("i10000\n", got[396].text);
   EXPECT_EQ("w20000\n", got[399].text);
   EXPECT_EQ(20000u, info);
}

} // namespace
