// How a message is shaped before any output sees it: the newline rule,
// masking, truncation on character boundaries, levels, modules, sampling.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/logInt.h"
#include "lib/log/logTestSupport.h"

namespace {

// Registers a test output that receives whole messages at every level.
class LogCapture : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      mOut = AddTestOutput("test", LOG_DEBUG15, TRUE);
      LogTestOutput_Clear(mOut);
   }
   void TearDown() override { Log_Exit(); }

   std::string LogOne(const std::string &message)
   {
      LogTestOutput_Clear(mOut);
      Log("%s", message.c_str());
      std::vector<std::string> texts = LogTestOutput_Texts(mOut);
      EXPECT_EQ(1u, texts.size());
      return texts.empty() ? std::string() : texts[0];
   }

   LogOutput *mOut = nullptr;
};

TEST_F(LogCapture, NewlineAndMasking)
{
   // Masking goes left to right, without overlap.
   const std::pair<const char *, const char *> cases[] = {
       {"", "\n"},     {"two\n\n", "two\n\n"},         {"aQzVb", "a***b\n"}, {"qqzv", "q***\n"},
       {"qz", "qz\n"}, {"xqzvx qZv\n", "x***x ***\n"}, {"qzqzv", "qz***\n"},
   };
   for (const auto &[in, out] : cases) {
      EXPECT_EQ(out, LogOne(in)) << "input: " << in;
   }
   LogTestOutput_Clear(mOut);
   const char *noFormat = nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
   Log_Level(LOG_ERROR, noFormat);
#pragma GCC diagnostic pop
   EXPECT_EQ((std::vector<std::string>{"\n"}), LogTestOutput_Texts(mOut));
}

TEST_F(LogCapture, LongMessagesUseTheLargeBufferOrAreCutOnACharacter)
{
   // Fits the large buffer exactly: 32766 bytes plus the added newline.
   std::string fits(32766, 'y');
   EXPECT_EQ(fits + "\n", LogOne(fits));

   EXPECT_EQ(std::string(32765, 'y') + "\n", LogOne(fits + "yy"));
   // A cut inside a character loses that character only; every other
   // position of the cut is in the table below.
   for (const char *wide : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
      std::string text(32765, 'a');
      while (text.size() < 32800) {
         text += wide;
      }
      EXPECT_EQ(std::string(32765, 'a') + "\n", LogOne(text)) << strlen(wide) << "-byte";
   }
}

TEST(LogCut, CutAtCharacterTable)
{
   struct
   {
      size_t size;
      std::string text; // the formatter's output, NUL-padded to size
      std::string want;
   } cases[] = {
       {8, "abcdefg", "abcdef\n"},
       {8, "abcde\xC3\xA9", "abcde\n"},           // last whole character is 2 bytes
       {8, "abcdef\xC3", "abcdef\n"},             // incomplete lead: the newline takes its place
       {8, "abcde\xE2\x82", "abcde\n"},           // incomplete 3-byte sequence
       {8, "abc\xF0\x9F\x98\x80", "abc\n"},       // whole 4-byte character replaced
       {8, "abcd\xF0\x9F\x98", "abcd\n"},         // incomplete 4-byte sequence
       {8, "abc", std::string("abc\0\0\0\n", 7)}, // zero bytes count as characters
       {3, "ab", "a\n"},
       {3, "\xC3\xA9", "\n"},
       {2, "a", "\n"},
       {1, "", "\n"},
   };
   for (const auto &c : cases) {
      std::vector<char> buf(c.size + 4, '#');
      memset(buf.data(), 0, c.size);
      memcpy(buf.data(), c.text.data(), std::min(c.text.size(), c.size - 1));
      size_t len = LogCutAtCharacter(c.size, buf.data());
      EXPECT_EQ(c.want, std::string(buf.data(), len)) << "size " << c.size;
      if (c.size >= 2) {
         EXPECT_EQ('\0', buf[len]);
      }
      EXPECT_EQ('#', buf[c.size]) << "wrote past the buffer";
   }
}

// Log_IsEnabled answers what Log_Level keeps, case by case.
TEST_F(LogCapture, ModuleThresholdsSelectMessagesAndBypassOutputLevels)
{
   Log_SetOutputLevel(mOut, LOG_WARNING);
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
      LogTestOutput_Clear(mOut);
      Log_Level(c.value, "message");
      bool kept = !LogTestOutput_Texts(mOut).empty();
      EXPECT_EQ(c.kept, kept) << c.value;
      EXPECT_EQ(c.kept, (bool)Log_IsEnabled(c.value)) << c.value;
   }
   Log_SetModuleFileLevel(m, -1);
   // A stderr threshold alone keeps a message too.
   Log_SetModuleStderrLevel(m, LOG_DEBUG);
   EXPECT_TRUE(Log_IsEnabled(LOG_LEVEL_MODULE(LOG_DEBUG, m)));
   Log_SetModuleStderrLevel(m, -1);
}

TEST(LogSampling, Schedule)
{
   const std::pair<uint32, bool> cases[] = {
       // Below 10000 the sampled forms' own test sees every step.
       {1000000, true},
       {1010000, false},
       {2000000, true},
       {4294967295u, false},
   };
   for (const auto &[n, logged] : cases) {
      EXPECT_EQ(logged, (bool)Log_IsSampledOccurrence(n)) << n;
   }
}

TEST_F(LogCapture, SampledFormsLogOnlySampledOccurrences)
{
   uint32 info = 0;
   uint32 warn = 0;
   for (int i = 0; i < 20000; i++) {
      Log_Sampled(&info, "i%d", i + 1);
      Warning_Sampled(&warn, "w%d", i + 1);
   }
   std::vector<LogTestEntry> got = LogTestOutput_Entries(mOut);
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
