// The JSON records the process tests cannot build: unnamed codes and
// indexes, a missing key, totals beyond 64 bits. The documents, fields in
// their order, are checked per map by the process tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "tool/jsonOutput.h"

namespace {

TEST(JsonOutput, UnnamedMissingAndWideValues)
{
   const uint64_t max = std::numeric_limits<uint64_t>::max();
   const uint64_t values[2] = {100, 23};
   FwdStatsRecord noKey;
   ASSERT_TRUE(DecodeFwdStats(RecordBytes{nullptr, 0, values, sizeof values}, 8, 2, &noKey));
   const struct
   {
      JsonValue doc;
      const char *text;
   } cases[] = {
       {FwdErrJson(FwdErrRecord{0x80000000u, max}),
        R"({"code":2147483648,"name":null,"count":18446744073709551615})"},
       {FwdStatsJson(FwdStatsRecord{true, 4, {1}}),
        R"({"index":4,"name":null,"values":[1],"total":1})"},
       {FwdStatsJson(noKey), R"({"index":null,"name":null,"values":[100,23],"total":123})"},
       {FwdStatsJson(FwdStatsRecord{true, 0, {max, max}}),
        R"({"index":0,"name":"rx bytes","values":[18446744073709551615,18446744073709551615],)"
        R"("total":3.6893488147419103e+19})"},
   };
   for (const auto &c : cases) {
      std::ostringstream out;
      EXPECT_EQ(0, WriteJsonDocument(out, c.doc));
      EXPECT_EQ(std::string(c.text) + "\n", out.str());
   }
}

} // namespace
