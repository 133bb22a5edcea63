// The metrics text on records the kernel maps cannot hold: totals beyond 64
// bits, unknown codes and indexes, a missing key. The exposition itself is
// parsed by the client library and served by a node exporter in the process
// tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "tool/metricsOutput.h"

namespace {

TEST(MetricsOutput, UnnamedMissingAndWideValues)
{
   const uint64_t max = UINT64_MAX;
   const struct
   {
      std::string text;
      long samples; // lines that are not comments
      std::vector<std::string> has;
   } cases[] = {
       // Wrong index, no key, no counters: nothing to name, families still
       // announced.
       {FwdStatsMetrics({{true, 4, {1, 2}}, {false, 0, {3, 4}}, {true, 2, {}}}),
        0,
        {"# TYPE bpf_fwd_stats_bytes_total counter\n",
         "# TYPE bpf_fwd_stats_all_cpus_bytes_total counter\n"}},
       {FwdStatsMetrics({{true, 2, {max, max, 2}}}),
        4,
        {"bpf_fwd_stats_all_cpus_bytes_total{counter=\"tx\"} 36893488147419103232\n"}},
       {FwdErrMetrics({{0, 1}, {4, 12}, {5, 99}, {0xFFFFFFFFu, 7}}),
        2,
        {"bpf_fwd_err_total{code=\"4\",error=\"do check sum\"} 12\n"}},
   };
   for (const auto &c : cases) {
      long samples = 0;
      for (size_t at = 0; at < c.text.size(); at = c.text.find('\n', at) + 1) {
         samples += c.text[at] != '#';
      }
      EXPECT_EQ(c.samples, samples) << c.text;
      for (const std::string &line : c.has) {
         EXPECT_NE(std::string::npos, c.text.find(line)) << line << " in\n" << c.text;
      }
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

} // namespace
