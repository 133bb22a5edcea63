// fwdmaps --watch as a process on real maps in a private bpffs: rates
// against the totals and intervals they print, a counter going backwards
// shown as a reset, the error log followed while a writer fills it, and the
// maps going away.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/kernelFixture.h"
#include "support/textFiles.h"

using fwdtest::Fwdmaps;
using fwdtest::RunResult;
using nlohmann::json;

namespace {

using FwdmapsWatch = fwdtest::ProxyMapsTest;

std::vector<std::string> Lines(const std::string &text)
{
   std::vector<std::string> lines;
   std::istringstream in(text);
   for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
   }
   return lines;
}

// Waits for `path` to hold at least `count` lines; a watch that never
// writes them fails the test after a minute rather than hanging it.
bool WaitForLines(const std::string &path, size_t count)
{
   return fwdtest::WaitFor([&] { return Lines(fwdtest::ReadFile(path)).size() >= count; });
}

// The rx counter advances by a known step after each sample the test reads
// (so two steps fall into one interval when the test is slower than the
// watch), then drops, then advances again until two samples after the
// watch showed the drop: every rate is the change of the printed total over
// the printed interval (within 1e-9 of it), and the drop shows as one reset.
// SIGTERM then ends the watch with status 0 (SIGINT does below).
TEST_F(FwdmapsWatch, RatesFollowTheTotalsAndADropIsAReset)
{
   fwdtest::TempDir dir;
   const std::string log = dir.path() + "/watch";
   pid_t pid = fwdtest::StartProcess({FWD_FWDMAPS_PATH, "-j", "--watch=0.1", "bpf_fwd_stats"}, log);
   const size_t dropAt = 4;
   std::vector<json> docs;
   uint64_t rx = 0, shown = 0;
   size_t resetAt = 0;
   bool dropped = false;
   while (resetAt == 0 || docs.size() < resetAt + 3) {
      ASSERT_LT(docs.size(), 1000u) << "no reset shown";
      ASSERT_TRUE(WaitForLines(log, docs.size() + 1)) << fwdtest::ReadFile(log);
      docs.push_back(json::parse(Lines(fwdtest::ReadFile(log))[docs.size()], nullptr, false));
      ASSERT_FALSE(docs.back().is_discarded()) << fwdtest::ReadFile(log);
      const uint64_t total = docs.back()["counters"][0]["total"];
      if (resetAt == 0 && total < shown) {
         resetAt = docs.size();
      }
      shown = total;
      // It drops once the watch has shown a step, and stays down until the
      // watch has shown the drop.
      dropped = dropped || (docs.size() >= dropAt && shown >= 1000);
      rx = !dropped ? rx + 1000 : resetAt == 0 ? 1 : rx + 1000;
      ASSERT_EQ(0, mMaps.SetStats(0, {rx / 2, rx - rx / 2}));
   }
   EXPECT_EQ(fwdtest::StopProcess(pid, SIGTERM), 0);

   uint64_t before = 0;
   for (size_t i = 0; i < docs.size(); i++) {
      SCOPED_TRACE(docs[i].dump());
      ASSERT_EQ(docs[i]["map"], "bpf_fwd_stats");
      ASSERT_EQ(docs[i]["counters"].size(), 4u);
      const json &c = docs[i]["counters"][0];
      EXPECT_EQ(c["name"], "rx bytes");
      const uint64_t total = c["total"];
      if (i == 0) {
         EXPECT_TRUE(docs[i]["interval"].is_null() && c["rate"].is_null() && !c["reset"]);
      } else if (i + 1 == resetAt) {
         EXPECT_TRUE(c["rate"].is_null() && c["reset"]);
      } else {
         const double interval = docs[i]["interval"], rate = c["rate"];
         EXPECT_NEAR(rate, (total - before) / interval, 1e-9 * rate);
         EXPECT_FALSE(c["reset"]);
      }
      before = total;
   }
}

// Piped text: a header line, then one time-stamped line per sample with a
// rate and a total per counter; the first sample has no rates.
TEST_F(FwdmapsWatch, PipedTextHasAHeaderAndOneLinePerSample)
{
   ASSERT_EQ(0, mMaps.SetErrCount(2, 7));
   RunResult r = Fwdmaps({"--watch=0.1", "--count=2", "bpf_fwd_err"});
   EXPECT_EQ(r.status, 0) << r.err;
   EXPECT_EQ(r.err, "");
   std::vector<std::string> lines = Lines(r.out);
   ASSERT_EQ(lines.size(), 3u) << r.out;
   EXPECT_EQ(lines[0], "time                         get_label/s get_label invalid_hmac/s "
                       "invalid_hmac lookup_label/s lookup_label do_dnat/s do_dnat "
                       "do_check_sum/s do_check_sum");
   for (size_t i = 1; i < lines.size(); i++) {
      std::istringstream words(lines[i]);
      std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
      ASSERT_EQ(w.size(), 11u) << lines[i];
      EXPECT_EQ(w[0].size(), std::string("2026-12-07T04:00:01.123+0000").size()) << w[0];
      EXPECT_EQ(w[5] + " " + w[6], (i == 1 ? "- 7" : "0.0 7")) << lines[i];
   }
}

// A pin that goes away ends a watch with status 1 and the reason, without
// spinning.
TEST_F(FwdmapsWatch, AVanishedMapEndsItWithTheReason)
{
   fwdtest::TempDir dir;
   const std::string log = dir.path() + "/watch";
   pid_t pid = fwdtest::StartProcess({FWD_FWDMAPS_PATH, "-j", "--watch=0.1", "bpf_fwd_stats"}, log);
   ASSERT_TRUE(WaitForLines(log, 2)) << fwdtest::ReadFile(log);
   ASSERT_EQ(0, unlink((mBpfFs + "/tc/globals/bpf_fwd_stats").c_str()));
   EXPECT_EQ(fwdtest::StopProcess(pid, 0), 1);
   EXPECT_EQ(Lines(fwdtest::ReadFile(log)).back(),
             "fwdmaps: /sys/fs/bpf//tc/globals/bpf_fwd_stats: the map is gone: No such file or "
             "directory");
}

// A writer inserts 5,000 records into the 1,024-entry log while it is
// followed, waiting whenever the map is full, then SIGINT, which ends it
// with status 0: every record is printed once or is still in the map, never
// both.
TEST_F(FwdmapsWatch, FollowingTheLogPrintsEveryRecordOnce)
{
   fwdtest::TempDir dir;
   const std::string log = dir.path() + "/follow";
   pid_t pid = fwdtest::StartProcess({FWD_FWDMAPS_PATH, "--watch=0.1", "bpf_fwd_err_log"}, log);
   const int records = 5000;
   auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
   for (int i = 0; i < records; i++) {
      int rc;
      while ((rc = mMaps.AddErrLog(100000 + i, i, "10.0.0.1", "10.0.0.2", 1, 6, 1, 2)) == -E2BIG &&
             std::chrono::steady_clock::now() < deadline) {
         std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      ASSERT_EQ(rc, 0) << "record " << i;
   }
   EXPECT_EQ(fwdtest::StopProcess(pid, SIGINT), 0);
   RunResult rest = Fwdmaps({"bpf_fwd_err_log"});
   ASSERT_EQ(rest.status, 0) << rest.err;

   std::map<std::string, int> printed;
   for (const std::string &line : Lines(fwdtest::ReadFile(log))) {
      printed[line]++;
   }
   size_t followed = printed.size();
   for (const std::string &line : Lines(rest.out)) {
      printed[line] += 1000; // still in the map after the watch
   }
   ASSERT_EQ(printed.size(), static_cast<size_t>(records));
   for (const auto &entry : printed) {
      ASSERT_TRUE(entry.second == 1 || entry.second == 1000) << entry.first << " " << entry.second;
      ASSERT_NE(entry.first.find("(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1"), std::string::npos);
   }
   EXPECT_GT(followed, static_cast<size_t>(records - 1024)) << "the map holds 1,024 at most";
}

} // namespace
