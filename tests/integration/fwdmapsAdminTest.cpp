// The tool's admin-facing forms run as a process on real maps: help and
// version, JSON, Prometheus metrics, the man page and the bash completion.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bpfproxy/bpfMapRegistry.h"
#include "bpfproxy/bpfSyscall.h"
#include "support/kernelFixture.h"
#include "tool/jsonOutput.h"
#include "tool/metricsOutput.h"

using fwdtest::Fwdmaps;
using fwdtest::RunProcess;
using fwdtest::RunResult;
using nlohmann::json;

namespace {

const std::vector<std::string> kMaps = {"label_port_map", "worker_port_map", "bpf_fwd_stats",
                                        "bpf_fwd_err", "bpf_fwd_err_log"};

// The one document on one line; a value that compares unequal to any
// document when it does not parse.
json ParseDocument(const RunResult &r)
{
   EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one document on one line:\n" << r.out;
   return json::parse(r.out, nullptr, false);
}

// No kernel needed: these never open a map.
TEST(FwdmapsCommandLine, HelpVersionAndUsageErrors)
{
   const std::string maps = "label_port_map, worker_port_map, bpf_fwd_stats, bpf_fwd_err, "
                            "bpf_fwd_err_log";
   const std::string unknown =
       "fwdmaps: unknown map \"BPF_FWD_ERR\": known maps are " + maps + "\n";
   const std::string list = "list all maps: label_port_map\tworker_port_map\tbpf_fwd_stats\t"
                            "bpf_fwd_err\tbpf_fwd_err_log\t\n";
   const struct
   {
      std::vector<std::string> args;
      int status;
      const char *outHas; // nullptr: standard output stays empty
      const char *errHas; // nullptr: standard error stays empty
   } cases[] = {
       {{"-h"}, 0, "Usage: fwdmaps [OPTION]... [MAP]\n", nullptr},
       {{"--help"}, 0, "  bpf_fwd_err_log  ", nullptr},
       {{"--json", "--help"}, 0, "Exit status:", nullptr},
       {{"--help", "--bogus"}, 0, "Usage: ", nullptr},
       {{"--version"}, 0, "fwdmaps 1.", nullptr},
       {{"--bogus"}, 2, nullptr, "fwdmaps: unknown option '--bogus'"},
       {{"--bogus", "--help"}, 2, nullptr, "fwdmaps: unknown option '--bogus'"},
       {{"--json=1"}, 2, nullptr, "fwdmaps: unknown option '--json=1'"},
       {{"--", "-j"}, 2, nullptr, "fwdmaps: unknown map \"-j\""},
       {{"-x", "bpf_fwd_err"}, 2, nullptr, "fwdmaps: unknown option '-x'"},
       {{"-j", "--prometheus"}, 2, nullptr, "cannot be used together"},
       {{"--prometheus", "bpf_fwd_err_log"}, 2, nullptr, "bpf_fwd_err_log"},
       {{"--prometheus", "label_port_map"}, 2, nullptr, "label_port_map"},
       {{"--json", "BPF_FWD_ERR"}, 2, nullptr, unknown.c_str()},
       {{"bpf_fwd"}, 2, nullptr, "unknown map \"bpf_fwd\":"},
       {{""}, 2, nullptr, "unknown map \"\":"},
       {{"bpf_fwd_err_log2"}, 2, nullptr, "unknown map \"bpf_fwd_err_log2\":"},
       // The list line needs no maps.
       {{}, 0, list.c_str(), nullptr},
       // A usage error wins over a file that could not be written.
       {{"-o", "/nonexistent/f", "BPF_FWD_ERR"}, 2, nullptr, "BPF_FWD_ERR"},
       {{"-o"}, 2, nullptr, "option '-o' needs a file name"},
   };
   for (const auto &c : cases) {
      RunResult r = Fwdmaps(c.args);
      SCOPED_TRACE(::testing::PrintToString(c.args));
      EXPECT_EQ(r.status, c.status) << r.err;
      if (c.outHas == nullptr) {
         EXPECT_EQ(r.out, "");
      } else {
         EXPECT_NE(r.out.find(c.outHas), std::string::npos) << r.out;
      }
      if (c.errHas == nullptr) {
         EXPECT_EQ(r.err, "");
      } else {
         EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
         EXPECT_EQ(r.err.rfind("fwdmaps: ", 0), 0u) << r.err;
      }
   }
}

class FwdmapsAdmin : public fwdtest::ProxyMapsTest
{
 protected:
   void Fill()
   {
      ASSERT_EQ(mMaps.AddLabelPort(42, 443), 0);
      ASSERT_EQ(mMaps.AddLabelPort(0, 0), 0);
      ASSERT_EQ(mMaps.AddWorkerPort(8080), 0);
      std::vector<uint64_t> rx(mCpus), tx(mCpus);
      for (int i = 0; i < mCpus; i++) {
         rx[i] = 1000 + i;
         tx[i] = i;
      }
      rx[0] = UINT64_MAX;
      ASSERT_EQ(mMaps.SetStats(0, rx), 0);
      ASSERT_EQ(mMaps.SetStats(2, tx), 0);
      ASSERT_EQ(mMaps.SetErrCount(4, 12), 0);
      ASSERT_EQ(mMaps.SetErrCount(1, UINT64_MAX), 0);
   }

   void FillLog()
   {
      ASSERT_EQ(mMaps.AddErrLog(1500, 7, "10.0.0.1", "10.0.0.2", 1, 6, 40000, 443), 0);
      ASSERT_EQ(mMaps.AddErrLog(5, 1, "2001:db8::1", "2001:db8::2", 3, 17, 5353, 53), 0);
      ASSERT_EQ(mMaps.AddErrLog(999, 0, "::ffff:10.9.8.7", "fe80::1", 2, 6, 1, 2), 0);
      ASSERT_EQ(mMaps.AddErrLog(1000, 10, "192.168.1.1", "192.168.1.2", 0, 6, 22, 2222), 0);
      ASSERT_EQ(mMaps.AddErrLog(1000, 9, "192.168.1.3", "192.168.1.4", 4, 6, 23, 2223), 0);
   }

   const int mCpus = fwdtest::PossibleCpus();
};

TEST_F(FwdmapsAdmin, JsonOfEveryMapMatchesWhatWasStored)
{
   Fill();
   FillLog();
   json expected[] = {
       json::parse(R"({"map":"label_port_map","records":[{"label":0,"port":0},
                                                        {"label":42,"port":443}]})"),
       json::parse(R"({"map":"worker_port_map","records":[{"port":8080}]})"),
       json{{"map", "bpf_fwd_stats"}, {"records", json::array()}},
       json::parse(R"({"map":"bpf_fwd_err","records":[
         {"code":0,"name":"get label","count":0},
         {"code":1,"name":"invalid hmac","count":18446744073709551615},
         {"code":2,"name":"lookup label","count":0},
         {"code":3,"name":"do dnat","count":0},
         {"code":4,"name":"do check sum","count":12}]})"),
       json::parse(R"({"map":"bpf_fwd_err_log","records":[
         {"time_ns":1000,"extra_id":10,"ip_ver":4,"sip":"192.168.1.1","dip":"192.168.1.2",
          "err":0,"l4proto":6,"sport":22,"dport":2222},
         {"time_ns":1000,"extra_id":9,"ip_ver":4,"sip":"192.168.1.3","dip":"192.168.1.4",
          "err":4,"l4proto":6,"sport":23,"dport":2223},
         {"time_ns":1500,"extra_id":7,"ip_ver":4,"sip":"10.0.0.1","dip":"10.0.0.2",
          "err":1,"l4proto":6,"sport":40000,"dport":443},
         {"time_ns":5,"extra_id":1,"ip_ver":6,"sip":"2001:db8::1","dip":"2001:db8::2",
          "err":3,"l4proto":17,"sport":5353,"dport":53},
         {"time_ns":999,"extra_id":0,"ip_ver":6,"sip":"::ffff:10.9.8.7","dip":"fe80::1",
          "err":2,"l4proto":6,"sport":1,"dport":2}]})"),
   };
   const char *names[] = {"rx bytes", "rx end bytes", "tx bytes", "tx end bytes"};
   for (uint32_t index = 0; index < 4; index++) {
      json values = json::array();
      unsigned __int128 total = 0;
      for (int i = 0; i < mCpus; i++) {
         uint64_t v = index == 0 ? (i == 0 ? UINT64_MAX : 1000 + i) : index == 2 ? i : 0;
         values.push_back(v);
         total += v;
      }
      json rec{{"index", index}, {"name", names[index]}, {"values", values}};
      rec["total"] = total > UINT64_MAX ? json(static_cast<double>(total))
                                        : json(static_cast<uint64_t>(total));
      expected[2]["records"].push_back(rec);
   }

   std::ifstream page(std::string(FWD_SOURCE_DIR) + "/tool/fwdmaps.1");
   const std::string man((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
   // Every field the tool writes is documented in the man page.
   std::function<void(const json &)> documented = [&](const json &v) {
      for (auto it = v.begin(); v.is_structured() && it != v.end(); ++it) {
         if (v.is_object()) {
            EXPECT_NE(man.find("\"" + it.key() + "\""), std::string::npos) << it.key();
         }
         documented(*it);
      }
   };
   for (size_t i = 0; i < kMaps.size(); i++) {
      SCOPED_TRACE(kMaps[i]);
      RunResult r = Fwdmaps({"--json", kMaps[i]});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      json doc = ParseDocument(r);
      if (kMaps[i] == "label_port_map") {
         // Hash order is the kernel's; compare as a set.
         std::sort(doc["records"].begin(), doc["records"].end());
      }
      EXPECT_EQ(doc, expected[i]) << r.out;
      documented(doc);
   }
   EXPECT_EQ(LogRecords(), 0) << "the JSON listing consumes the log as the text one does";

   RunResult list = Fwdmaps({"-j"});
   EXPECT_EQ(list.status, 0);
   EXPECT_EQ(ParseDocument(list), (json{{"maps", kMaps}}));
}

// The client library's parser (always installed for the tests) reads every
// form.
TEST_F(FwdmapsAdmin, PrometheusOutputIsAValidExposition)
{
   Fill();
   FillLog();
   const std::string stats = "bpf_fwd_stats_bytes counter " + std::to_string(4 * mCpus) +
                             "\nbpf_fwd_stats_all_cpus_bytes counter 4\n";
   const std::string errs = "bpf_fwd_err counter 5\n";
   const std::string gauges = "fwdmaps_last_collection_timestamp_seconds gauge 1\n"
                              "fwdmaps_last_collection_success gauge 1\n";
   const struct
   {
      std::vector<std::string> args;
      std::string families;
   } cases[] = {
       {{"--prometheus"}, stats + errs + gauges},
       {{"--prometheus", "bpf_fwd_stats"}, stats + gauges},
       {{"--prometheus", "bpf_fwd_err"}, errs + gauges},
   };
   fwdtest::TempDir dir;
   const std::string file = dir.path() + "/fwdmaps.prom";
   for (const auto &c : cases) {
      SCOPED_TRACE(c.args.size());
      RunResult r = Fwdmaps(c.args, file);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      RunResult parsed = RunProcess(
          {"/usr/bin/python3", "-c",
           "import sys\n"
           "from prometheus_client.parser import text_string_to_metric_families as parse\n"
           "for f in parse(open(sys.argv[1]).read()): print(f.name, f.type, len(f.samples))\n",
           file});
      EXPECT_EQ(parsed.status, 0) << parsed.err;
      EXPECT_EQ(parsed.out, c.families);
   }
   std::ifstream in(file);
   const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
   EXPECT_NE(text.find("bpf_fwd_err_total{code=\"1\",error=\"invalid hmac\"} "
                       "18446744073709551615\n"),
             std::string::npos)
       << text;
   EXPECT_EQ(LogRecords(), 5) << "metrics never touch the error log";
}

// In process, one registry for every run: a walk that fails part way (the walk's seam: the kernel
// cannot fail a lookup there) keeps what it read and deletes only that, never
// what an earlier run listed; metrics name each failed walk and still
// announce their families.
TEST_F(FwdmapsAdmin, ErrLogDeletedOnlyAsFarAsItWasWritten)
{
   FillLog();
   BpfMapRegistry registry;
   ASSERT_EQ(registry.OpenAllMaps(), 0);
   MapWalkSetLookupHook([](uint64_t index) { return index == 2 ? -EIO : 0; });
   std::ostringstream part, partErr;
   int status = WriteJsonMap(registry, "bpf_fwd_err_log", part, partErr);
   MapWalkSetLookupHook(nullptr);
   EXPECT_EQ(status, 1);
   EXPECT_EQ(partErr.str(), "fwdmaps: bpf_fwd_err_log: map walk failed: Input/output error\n");
   EXPECT_EQ(json::parse(part.str())["records"].size(), 2u) << part.str();
   EXPECT_EQ(LogRecords(), 3) << "only the records in the document are deleted";

   std::ostringstream rest;
   EXPECT_EQ(WriteJsonMap(registry, "bpf_fwd_err_log", rest, partErr), 0);
   EXPECT_EQ(json::parse(rest.str())["records"].size(), 3u);
   EXPECT_EQ(LogRecords(), 0);

   MapWalkSetLookupHook([](uint64_t index) { return index == 0 ? -EIO : 0; });
   std::ostringstream metrics, metricsErr;
   status = WriteMetrics(registry, {"bpf_fwd_err", "bpf_fwd_stats"}, metrics, metricsErr);
   MapWalkSetLookupHook(nullptr);
   EXPECT_EQ(status, 1);
   EXPECT_NE(metricsErr.str().find("fwdmaps: bpf_fwd_err: map walk failed: "), std::string::npos)
       << metricsErr.str();
   EXPECT_NE(metricsErr.str().find("fwdmaps: bpf_fwd_stats: map walk failed: "), std::string::npos)
       << metricsErr.str();
   EXPECT_NE(metrics.str().find("# TYPE bpf_fwd_stats_all_cpus_bytes_total counter\n"),
             std::string::npos)
       << metrics.str();
   EXPECT_NE(metrics.str().find("\nfwdmaps_last_collection_success 0\n"), std::string::npos)
       << metrics.str();
}

TEST_F(FwdmapsAdmin, OptionsComeBeforeTheMapName)
{
   Fill();
   RunResult text = Fwdmaps({"bpf_fwd_err", "--json"});
   EXPECT_EQ(text.status, 0) << text.err;
   EXPECT_EQ(text.out.rfind("error key: get label val: 0\n", 0), 0u) << text.out;
   RunResult dashdash = Fwdmaps({"--json", "--", "bpf_fwd_err"});
   EXPECT_EQ(dashdash.status, 0) << dashdash.err;
   EXPECT_EQ(ParseDocument(dashdash)["map"], "bpf_fwd_err");
}

// Completion runs the installed script under a real bash.
TEST(FwdmapsCompletion, CompletesOptionsAndMapNames)
{
   const std::string script = std::string(FWD_SOURCE_DIR) + "/tool/completion/fwdmaps";
   const struct
   {
      std::vector<std::string> words; // the last one is being completed
      std::string expected;
   } cases[] = {
       {{""}, "label_port_map worker_port_map bpf_fwd_stats bpf_fwd_err bpf_fwd_err_log"},
       {{"bpf_fwd_e"}, "bpf_fwd_err bpf_fwd_err_log"},
       {{"wor"}, "worker_port_map"},
       {{"-"}, "-j --json --prometheus -o --output -h --help --version"},
       {{"--p"}, "--prometheus"},
       {{"--prometheus", ""}, "bpf_fwd_stats bpf_fwd_err"},
       {{"--json", "-"}, "-o --output"},
       {{"-o", "m.prom", "-"}, "-j --json --prometheus"},
       {{"--output", "m.prom", "--prometheus", "bpf_fwd_e"}, "bpf_fwd_err"},
       {{"-o", std::string(FWD_SOURCE_DIR) + "/tool/completion/fwd"},
        std::string(FWD_SOURCE_DIR) + "/tool/completion/fwdmaps"},
       {{"-j", "bpf_fwd_s"}, "bpf_fwd_stats"},
       {{"bpf_fwd_err", ""}, ""},
       {{"--help", ""}, ""},
       {{"--", "-"}, ""},
       {{"--", "la"}, "label_port_map"},
   };
   for (const auto &c : cases) {
      std::string words = "fwdmaps";
      for (const std::string &w : c.words) {
         words += " '" + w + "'";
      }
      SCOPED_TRACE(words);
      std::string cmd = "source '" + script + "' && COMP_WORDS=(" + words +
                        ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _fwdmaps && "
                        "complete -p fwdmaps >/dev/null && echo \"${COMPREPLY[*]}\"";
      RunResult r = RunProcess({"/bin/bash", "--norc", "--noprofile", "-c", cmd});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, c.expected + "\n");
   }
}

// The man page renders without warnings and documents the metrics (the JSON
// fields are checked against real documents above).
TEST(FwdmapsManPage, RendersCleanlyAndDocumentsTheSchema)
{
   const std::string page = std::string(FWD_SOURCE_DIR) + "/tool/fwdmaps.1";
   RunResult r = RunProcess({"/usr/bin/groff", "-man", "-ww", "-z", page});
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.err, "") << "groff warnings";

   std::ifstream in(page);
   const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
   for (const char *d :
        {"bpf_fwd_stats_bytes_total", "bpf_fwd_stats_all_cpus_bytes_total", "bpf_fwd_err_total",
         "fwdmaps_last_collection_timestamp_seconds", "fwdmaps_last_collection_success",
         "fwdmaps\\-metrics.timer", "FWDMAPS_TEXTFILE_DIR", "BpfProxy.FsPath", "EXIT STATUS"}) {
      EXPECT_NE(text.find(d), std::string::npos) << d;
   }
}

} // namespace
