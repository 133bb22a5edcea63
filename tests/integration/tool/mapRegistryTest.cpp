// The registry and the walk in process, against real maps in a private
// bpffs: element operations, opening, the low-descriptor rule and per-CPU
// values; batch reads against the walk they fall back to (forced through the
// batch seam): the same bytes in every form, each untouched key exactly once
// while other keys churn, a bucket larger than the batch, and the error log
// deleted only as listed. Pins and their removal are seen through
// BpfProxyInit, a missing pin through the tool's process tests.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bpfproxy/bpfMapRegistry.h"
#include "bpfproxy/bpfSyscall.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"
#include "tool/jsonOutput.h"
#include "tool/mapDump.h"
#include "tool/metricsOutput.h"
#include "tool/textOutput.h"

namespace {

using MapRegistryTest = fwdtest::ProxyMapsTest;

TEST_F(MapRegistryTest, PortOperationsReachTheKernel)
{
   BpfMapRegistry reg;
   // Never opened: -1 and no system call.
   EXPECT_EQ(-1, reg.AddWorkerPort(htons(8080)));
   ASSERT_EQ(0, reg.OpenAllMaps());
   std::ostringstream out; // printers are the tool's; none is set here
   EXPECT_EQ(-1, reg.DumpMap(out, "bpf_fwd_err"));
   EXPECT_EQ(-1, reg.SetPrinter("BPF_FWD_ERR", nullptr));

   EXPECT_EQ(0, reg.AddWorkerPort(htons(8080)));
   EXPECT_EQ(0, reg.SetLabelPort(42, htons(443)));
   EXPECT_EQ(0, reg.SetLabelPort(42, htons(444))); // update in place
   uint16_t port = 0;
   uint32_t label = 42;
   ASSERT_EQ(0, fwdtest::LookupElem(mMaps.fd("label_port_map"), &label, &port));
   EXPECT_EQ(444, ntohs(port));

   EXPECT_EQ(0, reg.RemoveWorkerPort(htons(8080)));
   EXPECT_EQ(-ENOENT, reg.RemoveWorkerPort(htons(8080)));
   EXPECT_EQ(0, reg.RemoveLabelPort(42));
   EXPECT_EQ(-ENOENT, reg.RemoveLabelPort(7));
}

TEST_F(MapRegistryTest, LowDescriptorIsMovedUp)
{
   int saved = dup(0);
   ASSERT_GE(saved, 0);
   ASSERT_EQ(0, close(0));
   int fd = BpfObjGet((mBpfFs + "/tc/globals/bpf_fwd_err").c_str());
   int fd0State = fcntl(0, F_GETFD);
   int fd0Errno = errno;
   int cloexec = fcntl(fd, F_GETFD);
   dup2(saved, 0);
   close(saved);
   EXPECT_GE(fd, 3);
   EXPECT_EQ(-1, fd0State);
   EXPECT_EQ(EBADF, fd0Errno);
   EXPECT_EQ(FD_CLOEXEC, cloexec & FD_CLOEXEC);
   EXPECT_EQ(-ENOENT, BpfObjGet((mBpfFs + "/tc/globals/none").c_str()));
}

// A per-CPU hash gets a value slot per CPU from the walk, as the per-CPU
// array does (a one-value buffer would be overrun); printers read the first.
TEST_F(MapRegistryTest, PerCpuHashValuesFitTheWalksBuffer)
{
   fwdtest::RemoveProxyPins(mBpfFs);
   fwdtest::ProxyMaps maps;
   ASSERT_EQ("",
             maps.Create(mBpfFs, fwdtest::ProxyMapLayoutsWith(
                                     {{"label_port_map", BPF_MAP_TYPE_PERCPU_HASH, 4, 2, 16}})));
   std::string expected;
   for (uint32_t label = 1; label <= 16; label++) {
      std::vector<uint64_t> slots(get_possible_cpus(), htons(1000 + label));
      ASSERT_EQ(0, fwdtest::UpdateElem(maps.fd("label_port_map"), &label, slots.data()));
      char line[64];
      snprintf(line, sizeof line, "label :0x%x\tport : %u\n", label, 1000 + label);
      expected += line;
   }
   BpfMapRegistry reg;
   ASSERT_EQ(0, reg.OpenAllMaps());
   for (uint32_t batch : {kMapBatchRecords, 0u}) {
      MapBatchSetRecords(batch);
      std::ostringstream out, err;
      EXPECT_EQ(kStatusOk, WriteTextMap(reg, "label_port_map", out, err, fwdtest::FlushStream))
          << err.str();
      EXPECT_EQ(fwdtest::SortedLines(expected), fwdtest::SortedLines(out.str())) << batch;
   }
   MapBatchSetRecords(kMapBatchRecords);
}

const uint32_t kSmallBatch = 7;
const uint32_t kForcedWalk = 0;

class BatchReadTest : public fwdtest::PrivateBpfFsTest
{
 protected:
   void TearDown() override
   {
      MapBatchSetRecords(kMapBatchRecords);
      MapWalkSetLookupHook(nullptr);
   }

   void Create(uint32_t labelEntries)
   {
      ASSERT_EQ("", mMaps.Create(mBpfFs, fwdtest::ProxyMapLayouts(labelEntries)));
      ASSERT_EQ(0, mRegistry.OpenAllMaps());
   }

   void FillLog(int records)
   {
      for (int i = 0; i < records; i++) {
         ASSERT_EQ(0, mMaps.AddErrLog(1000 + i * 7, i, i % 3 ? "10.0.0.1" : "2001:db8::1",
                                      i % 3 ? "10.0.0.2" : "2001:db8::2", i % 5, 6, i, 443));
      }
   }

   long LogRecords() { return fwdtest::CountKeys(mMaps.fd("bpf_fwd_err_log"), 16); }

   // Status, standard output and standard error of one form on one map.
   std::string Run(const std::string &form, const std::string &name, uint32_t batch)
   {
      MapBatchSetRecords(batch);
      std::ostringstream out, err;
      int status = form == "text" ? WriteTextMap(mRegistry, name, out, err, fwdtest::FlushStream)
                   : form == "json"
                       ? WriteJsonMap(mRegistry, name, out, err, fwdtest::FlushStream)
                       : WriteMetrics(mRegistry, {name}, out, err, fwdtest::FlushStream);
      return std::to_string(status) + "\n" + out.str() + "--\n" + err.str();
   }

   fwdtest::ProxyMaps mMaps;
   BpfMapRegistry mRegistry;
};

// The metrics end with the time of the collection, which differs run to run.
std::string WithoutCollectionTime(std::string text)
{
   const std::string stamp = "\nfwdmaps_last_collection_timestamp_seconds ";
   size_t at = text.find(stamp);
   if (at != std::string::npos) {
      text.erase(at + stamp.size(), text.find('\n', at + 1) - at - stamp.size());
   }
   return text;
}

TEST_F(BatchReadTest, SameBytesAsTheWalkInEveryForm)
{
   ASSERT_NO_FATAL_FAILURE(Create(4096));
   for (uint32_t label = 0; label < 3000; label++) {
      ASSERT_EQ(0, mMaps.AddLabelPort(label * 2654435761u, static_cast<uint16_t>(label)));
   }
   for (uint16_t port = 1; port <= 200; port++) {
      ASSERT_EQ(0, mMaps.AddWorkerPort(port));
   }
   for (uint32_t i = 0; i < 5; i++) {
      ASSERT_EQ(0, mMaps.SetErrCount(i, 10 + i));
      ASSERT_EQ(0, mMaps.SetStats(i % 4, {i, i + 1}));
   }
   // Metrics cover the counters only.
   for (const std::string form : {"text", "json", "prom"}) {
      for (const std::string map : {"bpf_fwd_stats", "bpf_fwd_err", "label_port_map",
                                    "worker_port_map", "bpf_fwd_err_log"}) {
         SCOPED_TRACE(form + " " + map);
         ASSERT_NO_FATAL_FAILURE(FillLog(100));
         std::string batch = Run(form, map, kSmallBatch);
         ASSERT_NO_FATAL_FAILURE(FillLog(100));
         EXPECT_EQ(WithoutCollectionTime(Run(form, map, kForcedWalk)),
                   WithoutCollectionTime(batch));
         EXPECT_GT(batch.size(), 100u) << batch;
         EXPECT_EQ(map == "bpf_fwd_err_log" ? 0 : 100, LogRecords());
         if (form == "prom" && map == "bpf_fwd_err") {
            break;
         }
      }
   }
}

// A second thread deletes and re-inserts the odd labels while the even ones
// stay: every even label is listed exactly once in every pass.
TEST_F(BatchReadTest, UntouchedKeysExactlyOnceUnderChurn)
{
   ASSERT_NO_FATAL_FAILURE(Create(65536));
   const uint32_t labels = 20000;
   for (uint32_t label = 0; label < labels; label++) {
      ASSERT_EQ(0, mMaps.AddLabelPort(label, 1));
   }
   std::atomic<bool> stop{false};
   const int fd = mMaps.fd("label_port_map");
   std::thread churn([&] {
      uint16_t port = htons(2);
      while (!stop) {
         for (uint32_t label = 1; label < labels; label += 2) {
            fwdtest::DeleteElem(fd, &label);
         }
         for (uint32_t label = 1; label < labels; label += 2) {
            fwdtest::UpdateElem(fd, &label, &port);
         }
      }
   });
   for (int pass = 0; pass < 10; pass++) {
      std::ostringstream out, err;
      EXPECT_EQ(kStatusOk,
                WriteTextMap(mRegistry, "label_port_map", out, err, fwdtest::FlushStream))
          << err.str();
      std::map<uint32_t, int> seen;
      std::istringstream in(out.str());
      std::string line;
      while (std::getline(in, line)) {
         unsigned label = 0;
         ASSERT_EQ(1, sscanf(line.c_str(), "label :0x%x", &label)) << line;
         seen[label]++;
      }
      for (uint32_t label = 0; label < labels; label += 2) {
         ASSERT_EQ(1, seen[label]) << "pass " << pass << ", label " << label;
      }
   }
   stop = true;
   churn.join();
}

// With a batch of one record, a bucket of two does not fit (64 keys in 64
// buckets all but surely share one): the walk grows the batch and still
// lists everything, in the walk's order.
TEST_F(BatchReadTest, BucketLargerThanTheBatch)
{
   ASSERT_NO_FATAL_FAILURE(Create(64));
   for (uint32_t label = 0; label < 64; label++) {
      ASSERT_EQ(0, mMaps.AddLabelPort(label, 1));
   }
   std::string grown = Run("text", "label_port_map", 1);
   EXPECT_EQ(Run("text", "label_port_map", kForcedWalk), grown);
   EXPECT_EQ(64u, fwdtest::SortedLines(grown).size() - 2) << grown; // status and "--"
}

// The listed records go in batches, or one at a time without the command:
// exactly those; one added after the listing stays, one gone meanwhile is
// named. A walk that fails part way (the walk's seam: the kernel cannot fail
// a lookup there) lists and deletes only what it read; metrics name the
// failed walk, still announce their families and report a failed
// collection. (Output that fails deleting nothing is seen in the tool's
// process tests.)
TEST_F(BatchReadTest, ErrLogDeletedOnlyAsListed)
{
   ASSERT_NO_FATAL_FAILURE(Create(256));
   auto failed = [](const std::string &map) {
      return "--\nfwdmaps: " + map + ": map walk failed: Input/output error\n";
   };
   for (uint32_t batch : {kSmallBatch, kForcedWalk}) {
      SCOPED_TRACE(batch);
      MapBatchSetRecords(batch);
      ASSERT_NO_FATAL_FAILURE(FillLog(20));
      std::ostringstream out, err;
      MapDump dump(mRegistry, err);
      ErrLogListing listing;
      ASSERT_EQ(0, dump.CollectErrLog(&listing));
      EXPECT_EQ(20u, listing.size());
      fwdtest::ErrLogBytes gone =
          fwdtest::MakeErrLog(1007, 1, "10.0.0.1", "10.0.0.2", 1, 6, 1, 443);
      ASSERT_EQ(0, fwdtest::DeleteElem(mMaps.fd("bpf_fwd_err_log"), gone.key)); // another run
      ASSERT_EQ(0, mMaps.AddErrLog(9, 9, "10.0.0.1", "10.0.0.2", 1, 6, 1, 2));  // not listed
      EXPECT_EQ(kStatusFailed, dump.Finish(out, [](std::ostream &) { return true; }));
      EXPECT_EQ("delete log file failed. ret: -2 map name: bpf_fwd_err_log\n", err.str());
      EXPECT_EQ(1, LogRecords());
      ASSERT_EQ(kStatusOk,
                WriteTextMap(mRegistry, "bpf_fwd_err_log", out, err, fwdtest::FlushStream));
      EXPECT_EQ(0, LogRecords());

      ASSERT_NO_FATAL_FAILURE(FillLog(6));
      MapWalkSetLookupHook([](uint64_t index) { return index == 2 ? -EIO : 0; });
      const std::string part = Run("json", "bpf_fwd_err_log", batch);
      const std::string stats = Run("prom", "bpf_fwd_stats", batch);
      MapWalkSetLookupHook(nullptr);
      EXPECT_EQ(part.rfind("1\n", 0), 0u) << part;
      EXPECT_EQ(part.substr(part.find("--\n")), failed("bpf_fwd_err_log"));
      const std::string doc = part.substr(2, part.find("--\n") - 2);
      EXPECT_EQ(nlohmann::json::parse(doc)["records"].size(), 2u) << doc;
      EXPECT_EQ(4, LogRecords()) << "only the records in the document are deleted";
      EXPECT_EQ(fwdtest::SortedLines(Run("text", "bpf_fwd_err_log", batch)).size(), 4u + 2);
      EXPECT_EQ(0, LogRecords());

      EXPECT_EQ(stats.rfind("1\n", 0), 0u) << stats;
      EXPECT_EQ(stats.substr(stats.find("--\n")), failed("bpf_fwd_stats"));
      EXPECT_NE(stats.find("# TYPE bpf_fwd_stats_all_cpus_bytes_total counter\n"),
                std::string::npos)
          << stats;
      EXPECT_NE(stats.find("\nfwdmaps_last_collection_success 0\n"), std::string::npos) << stats;
   }
}

} // namespace
