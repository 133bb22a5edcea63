// The metrics text on hand-made records: series per CPU and totals, exact
// beyond 64 bits, error names as labels, and records the text form does not
// name left out. Every text must pass the exposition checker.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tool/metricsOutput.h"
#include "tool/promFormat.h"

namespace {

TEST(MetricsOutput, SeriesPerCpuTotalsAndErrorLabels)
{
   const uint64_t max = std::numeric_limits<uint64_t>::max();
   const struct
   {
      std::string text;
      size_t samples;
      std::vector<std::string> has;
   } cases[] = {
       {FwdStatsMetrics({{true, 0, {1200, 34}}, {true, 1, {0, 0}}, {true, 3, {5, 6}}}),
        9,
        {"# HELP bpf_fwd_stats_bytes_total ", "# TYPE bpf_fwd_stats_bytes_total counter\n",
         "bpf_fwd_stats_bytes_total{counter=\"rx\",cpu=\"1\"} 34\n",
         "bpf_fwd_stats_bytes_total{counter=\"tx_end\",cpu=\"1\"} 6\n",
         "bpf_fwd_stats_all_cpus_bytes_total{counter=\"rx\"} 1234\n"}},
       // Wrong index, no key, no counters: nothing to name, families still
       // announced.
       {FwdStatsMetrics({{true, 4, {1, 2}}, {false, 0, {3, 4}}, {true, 2, {}}}),
        0,
        {"# TYPE bpf_fwd_stats_all_cpus_bytes_total counter\n"}},
       {FwdStatsMetrics({{true, 2, {max, max, 2}}}),
        4,
        {"bpf_fwd_stats_bytes_total{counter=\"tx\",cpu=\"0\"} 18446744073709551615\n",
         "bpf_fwd_stats_all_cpus_bytes_total{counter=\"tx\"} 36893488147419103232\n"}},
       // Unknown codes are left out.
       {FwdErrMetrics({{0, 1}, {4, 12}, {5, 99}, {0xFFFFFFFFu, 7}, {2, 0}}),
        3,
        {"bpf_fwd_err_total{code=\"4\",error=\"do check sum\"} 12\n",
         "bpf_fwd_err_total{code=\"2\",error=\"lookup label\"} 0\n"}},
   };
   for (const auto &c : cases) {
      std::multimap<std::string, promformat::Sample> samples;
      ASSERT_EQ("", promformat::Check(c.text, &samples)) << c.text;
      EXPECT_EQ(c.samples, samples.size()) << c.text;
      for (const std::string &line : c.has) {
         EXPECT_NE(std::string::npos, c.text.find(line)) << line << " in\n" << c.text;
      }
      EXPECT_EQ(std::string::npos, c.text.find("code=\"5\""));
   }
}

// The freshness pair: gauges, the time to the millisecond, no sample time
// stamps (the textfile collector refuses them).
TEST(MetricsOutput, CollectionGaugesSayWhenAndHowWell)
{
   const struct
   {
      bool success;
      struct timespec when;
      const char *stamp;
   } cases[] = {
       {true, {1765022400, 125000000}, "1765022400.125"},
       {false, {1765022400, 999999999}, "1765022400.999"},
       {true, {0, 1000000}, "0.001"},
   };
   for (const auto &c : cases) {
      std::string text = CollectionMetrics(c.success, c.when);
      std::multimap<std::string, promformat::Sample> samples;
      ASSERT_EQ("", promformat::Check(text, &samples)) << text;
      EXPECT_EQ(2u, samples.size()) << text;
      EXPECT_NE(std::string::npos,
                text.find("# TYPE fwdmaps_last_collection_timestamp_seconds gauge\n"
                          "fwdmaps_last_collection_timestamp_seconds " +
                          std::string(c.stamp) + "\n"))
          << text;
      EXPECT_NE(std::string::npos, text.find("# TYPE fwdmaps_last_collection_success gauge\n"
                                             "fwdmaps_last_collection_success " +
                                             std::string(c.success ? "1" : "0") + "\n"))
          << text;
   }
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
