// The ring buffer of records and texts: cut texts and the facility's
// 65536-byte pre-output buffer. Wrap-around and dropping the oldest entries
// are checked against a model by the log-text fuzzer.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/logTestSupport.h"

namespace {

const size_t kEntryOverhead = 2 + LOG_RING_RECORD_SIZE;

LogRecord RecordFor(uint32 tag)
{
   LogRecord r;
   memset(&r, 0, sizeof r);
   r.desc = Log_LevelDescriptor(tag % LOG_LEVEL_COUNT);
   snprintf(r.threadName, sizeof r.threadName, "t%u", tag);
   r.continuation = (uint8)(tag & 1);
   return r;
}

TEST(LogRingBuffer, ShortReadsAndOversizedTexts)
{
   std::vector<uint8> area(400);
   LogRingBuffer ring;
   LogRingBuffer_Init(&ring, area.data(), area.size());
   LogRecord rec = RecordFor(3);

   LogRingBuffer_Append(&ring, &rec, 10, "0123456789");
   LogRingBuffer_Append(&ring, &rec, 3, "abc");
   LogRecord out;
   char small[5];
   size_t got = 0;
   ASSERT_TRUE(LogRingBuffer_Read(&ring, &out, small, sizeof small, &got));
   EXPECT_EQ("0123", std::string(small, got));
   EXPECT_EQ('\0', small[4]);
   ASSERT_TRUE(LogRingBuffer_Read(&ring, &out, small, sizeof small, &got));
   EXPECT_EQ("abc", std::string(small, got)) << "the rest of a cut entry was skipped";

   // An entry larger than the whole area is cut to fit, not written past it.
   std::string huge(1000, 'h');
   LogRingBuffer_Append(&ring, &rec, huge.size(), huge.data());
   EXPECT_LT(ring.used, area.size());
   char buf[1024];
   ASSERT_TRUE(LogRingBuffer_Read(&ring, &out, buf, sizeof buf, &got));
   EXPECT_EQ(std::string(area.size() - kEntryOverhead - 1, 'h'), std::string(buf, got));
}

TEST(LogRingBuffer, PreOutputBufferKeepsTheNewestMessagesThatFit)
{
   DrainPreOutputBuffer();
   // 100-byte messages: each entry takes 246 bytes, so 266 fit in 65536.
   const int total = 1000;
   for (int i = 0; i < total; i++) {
      Log("m%04d %s", i, std::string(93, '.').c_str());
   }
   std::vector<std::string> got = LogTestOutput_Texts(AddTestOutput());
   ASSERT_EQ(266u, got.size());
   for (size_t k = 0; k < got.size(); k++) {
      char want[16];
      snprintf(want, sizeof want, "m%04d ", total - 266 + (int)k);
      ASSERT_EQ(0, got[k].compare(0, 6, want)) << got[k];
      ASSERT_EQ(100u, got[k].size());
   }
   Log_Exit();
}

} // namespace
