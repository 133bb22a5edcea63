// The ring buffer of records and texts: cut texts. Wrap-around and dropping
// the oldest entries are checked against a model by the log-text fuzzer, and
// the 65536-byte pre-output buffer by the log concurrency tests.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/logTestOutput.h"

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

} // namespace
