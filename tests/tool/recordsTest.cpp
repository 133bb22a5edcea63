// Per-CPU counter slots by element size. The fuzzer checks that no size of
// record is read past and that a raw error-log line reads back as the record
// it came from (the tool parses only lines it wrote); the process tests see
// short records refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool/records.h"

namespace {

TEST(RecordDecodeTest, StatsSlotsFollowTheElementSize)
{
   uint64_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
   uint32_t index = 2;
   struct Case
   {
      uint64_t keySize;
      uint32_t elemSize;
      int cpus;
      uint64_t bufBytes;
      bool ok;
      bool hasIndex;
      std::vector<uint64_t> perCpu;
   } cases[] = {
       {4, 8, 4, 64, true, true, {1, 2, 3, 4}}, {4, 12, 2, 64, true, true, {1, 3}}, // 16-byte slots
       {0, 8, 2, 64, true, false, {1, 2}}, // no key: no index
       {4, 0, 2, 64, true, true, {}},      // no value: no counters
       {4, 8, 9, 64, false, true, {}},     // more CPUs than the buffer holds
       {4, 4, 2, 64, false, true, {}},     // element shorter than a counter
       {2, 8, 2, 64, false, true, {}},     // key shorter than an index
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(std::to_string(c.keySize) + "/" + std::to_string(c.elemSize) + "/" +
                   std::to_string(c.cpus));
      FwdStatsRecord r;
      ASSERT_EQ(c.ok, DecodeFwdStats({&index, c.keySize, buf, c.bufBytes}, c.elemSize, c.cpus, &r));
      if (c.ok) {
         EXPECT_EQ(c.hasIndex, r.hasIndex);
         EXPECT_EQ(c.perCpu, r.perCpu);
      }
   }
}

} // namespace
