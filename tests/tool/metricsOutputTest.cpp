#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tool/metricsOutput.h"
#include "tool/promFormat.h"

namespace {

using Samples = std::multimap<std::string, promformat::Sample>;

// Sample of `name` whose labels equal `labels`, or nullptr.
const promformat::Sample *Find(const Samples &samples, const std::string &name,
                               const std::map<std::string, std::string> &labels)
{
   auto range = samples.equal_range(name);
   for (auto it = range.first; it != range.second; ++it) {
      if (it->second.labels == labels) {
         return &it->second;
      }
   }
   return nullptr;
}

TEST(MetricsOutput, StatsGiveOneSeriesPerCpuAndATotal)
{
   std::vector<FwdStatsRecord> records = {
       {true, 0, {1200, 34}},
       {true, 1, {0, 0}},
       {true, 3, {5, 6}},
   };
   const std::string text = FwdStatsMetrics(records);
   Samples samples;
   ASSERT_EQ(promformat::Check(text, &samples), "") << text;
   EXPECT_EQ(samples.count("bpf_fwd_stats_bytes_total"), 6u);
   EXPECT_EQ(samples.count("bpf_fwd_stats_all_cpus_bytes_total"), 3u);

   const struct
   {
      const char *counter;
      const char *cpu;
      double value;
   } perCpu[] = {{"rx", "0", 1200}, {"rx", "1", 34}, {"rx_end", "0", 0}, {"tx_end", "1", 6}};
   for (const auto &c : perCpu) {
      const promformat::Sample *s =
          Find(samples, "bpf_fwd_stats_bytes_total", {{"counter", c.counter}, {"cpu", c.cpu}});
      ASSERT_NE(s, nullptr) << c.counter << " cpu " << c.cpu;
      EXPECT_EQ(s->value, c.value);
   }
   const promformat::Sample *total =
       Find(samples, "bpf_fwd_stats_all_cpus_bytes_total", {{"counter", "rx"}});
   ASSERT_NE(total, nullptr);
   EXPECT_EQ(total->value, 1234);
   EXPECT_NE(text.find("# HELP bpf_fwd_stats_bytes_total "), std::string::npos);
   EXPECT_NE(text.find("# TYPE bpf_fwd_stats_bytes_total counter\n"), std::string::npos);
}

TEST(MetricsOutput, StatsLeaveOutWhatTheTextFormDoesNotName)
{
   std::vector<FwdStatsRecord> records = {
       {true, 4, {1, 2}},  // "wrong key" in the text form
       {false, 0, {3, 4}}, // no key to name the counter
       {true, 2, {}},      // no counters
   };
   const std::string text = FwdStatsMetrics(records);
   Samples samples;
   ASSERT_EQ(promformat::Check(text, &samples), "") << text;
   EXPECT_TRUE(samples.empty()) << text;
   // The families are still announced, so a scraper knows them.
   EXPECT_NE(text.find("# TYPE bpf_fwd_stats_all_cpus_bytes_total counter\n"), std::string::npos);
}

TEST(MetricsOutput, TotalsAreExactBeyond64Bits)
{
   const uint64_t max = std::numeric_limits<uint64_t>::max();
   const std::string text = FwdStatsMetrics({{true, 2, {max, max, 2}}});
   ASSERT_EQ(promformat::Check(text, nullptr), "") << text;
   EXPECT_NE(text.find("bpf_fwd_stats_bytes_total{counter=\"tx\",cpu=\"0\"} "
                       "18446744073709551615\n"),
             std::string::npos)
       << text;
   EXPECT_NE(text.find("bpf_fwd_stats_all_cpus_bytes_total{counter=\"tx\"} 36893488147419103232\n"),
             std::string::npos)
       << text;
}

TEST(MetricsOutput, ErrorsAreLabelledByCodeAndName)
{
   std::vector<FwdErrRecord> records = {{0, 1}, {4, 12}, {5, 99}, {0xFFFFFFFFu, 7}, {2, 0}};
   const std::string text = FwdErrMetrics(records);
   Samples samples;
   ASSERT_EQ(promformat::Check(text, &samples), "") << text;
   EXPECT_EQ(samples.size(), 3u) << text;
   const promformat::Sample *s =
       Find(samples, "bpf_fwd_err_total", {{"code", "4"}, {"error", "do check sum"}});
   ASSERT_NE(s, nullptr) << text;
   EXPECT_EQ(s->value, 12);
   EXPECT_NE(Find(samples, "bpf_fwd_err_total", {{"code", "2"}, {"error", "lookup label"}}),
             nullptr);
   EXPECT_EQ(text.find("code=\"5\""), std::string::npos);
}

TEST(MetricsOutput, TheCheckerCatchesBrokenExpositions)
{
   // The rules above are only as good as the checker: make sure it bites.
   const char *const broken[] = {
       "a_total 1\n",                                         // no TYPE
       "# HELP a_total x\n# TYPE a_total counter\na_total 1", // no final newline
       "# HELP a_total x\n# TYPE a_total counter\na_total{b=\"1\"} 1\na_total{b=\"1\"} 2\n",
       "# HELP a_total x\n# TYPE a_total counter\na_total{b=1} 1\n",     // unquoted label
       "# HELP a_total x\n# TYPE a_total counter\na_total{b=\"1\"} x\n", // bad value
       "# HELP a x\n# TYPE a counter\na 1\n",                            // counter without _total
       "# TYPE a_total counter\na_total 1\n",                            // no HELP
   };
   for (const char *text : broken) {
      EXPECT_NE(promformat::Check(text, nullptr), "") << text;
   }
}

} // namespace
