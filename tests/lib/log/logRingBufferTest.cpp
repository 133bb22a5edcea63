// The ring buffer of records and texts: an entry larger than the whole
// area. Wrap-around and dropping the oldest entries are checked against a
// model by the log-text fuzzer, and the 65536-byte pre-output buffer by the
// log concurrency tests.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/logTestOutput.h"

namespace {

TEST(LogRingBuffer, AnEntryLargerThanTheAreaIsCutToFit)
{
   std::vector<uint8> area(400);
   LogRingBuffer ring;
   LogRingBuffer_Init(&ring, area.data(), area.size());
   LogRecord rec = {};
   std::string huge(1000, 'h');
   LogRingBuffer_Append(&ring, &rec, huge.size(), huge.data());
   EXPECT_LT(ring.used, area.size());
   char buf[1024];
   size_t got = 0;
   ASSERT_TRUE(LogRingBuffer_Read(&ring, &rec, buf, sizeof buf, &got));
   EXPECT_EQ(std::string(area.size() - 2 - LOG_RING_RECORD_SIZE - 1, 'h'), std::string(buf, got));
}

} // namespace
