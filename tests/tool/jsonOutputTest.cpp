// JSON records in their documented field order, and the cases the process
// tests cannot build: unnamed codes and indexes, a missing key, totals
// beyond 64 bits. The documents themselves are checked per map, through a
// real parser, by the process tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "tool/jsonOutput.h"

namespace {

TEST(JsonOutput, RecordsKeepTheirFieldOrderAndDecodeEdgeCases)
{
   const uint64_t max = std::numeric_limits<uint64_t>::max();
   const uint64_t values[2] = {100, 23};
   const uint32_t index = 2;
   FwdStatsRecord noKey;
   ASSERT_TRUE(DecodeFwdStats(RecordBytes{nullptr, 0, values, sizeof values}, 8, 2, &noKey));
   FwdStatsRecord indexed;
   ASSERT_TRUE(DecodeFwdStats(RecordBytes{&index, 4, values, sizeof values}, 8, 2, &indexed));
   const struct
   {
      JsonValue doc;
      const char *text;
   } cases[] = {
       {FwdErrJson(FwdErrRecord{4, 12}), R"({"code":4,"name":"do check sum","count":12})"},
       {FwdErrJson(FwdErrRecord{0x80000000u, max}),
        R"({"code":2147483648,"name":null,"count":18446744073709551615})"},
       {FwdStatsJson(indexed), R"({"index":2,"name":"tx bytes","values":[100,23],"total":123})"},
       {FwdStatsJson(FwdStatsRecord{true, 4, {1}}),
        R"({"index":4,"name":null,"values":[1],"total":1})"},
       {FwdStatsJson(noKey), R"({"index":null,"name":null,"values":[100,23],"total":123})"},
       {FwdStatsJson(FwdStatsRecord{true, 0, {max, 0}}),
        R"({"index":0,"name":"rx bytes","values":[18446744073709551615,0],)"
        R"("total":18446744073709551615})"},
       {FwdStatsJson(FwdStatsRecord{true, 0, {max, max}}),
        R"({"index":0,"name":"rx bytes","values":[18446744073709551615,18446744073709551615],)"
        R"("total":3.6893488147419103e+19})"},
       {ErrLogJson(ErrLogRecord{1500, 7, false, "::ffff:10.1.2.3", "fe80::1", 1, 6, 40000, 443}),
        R"({"time_ns":1500,"extra_id":7,"ip_ver":6,"sip":"::ffff:10.1.2.3","dip":"fe80::1",)"
        R"("err":1,"l4proto":6,"sport":40000,"dport":443})"},
       {MapDocument("m", JsonValue::array()), R"({"map":"m","records":[]})"},
   };
   for (const auto &c : cases) {
      std::ostringstream out;
      EXPECT_EQ(0, WriteJsonDocument(out, c.doc));
      EXPECT_EQ(std::string(c.text) + "\n", out.str());
   }
}

} // namespace
