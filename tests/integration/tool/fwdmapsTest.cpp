// fwdmaps run as a process against real maps in a private bpffs: every
// printer, help and version, JSON, one-record look-ups, failures, the man
// page and the bash completion.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <linux/bpf.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bpfproxy/bpfSyscall.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"

using fwdtest::Fwdmaps;
using fwdtest::RunProcess;
using fwdtest::RunResult;
using fwdtest::SortedLines;
using nlohmann::json;

namespace {

// The stats printer's text: the four counters (index 0 to 3) with their
// values on `cpus` CPUs, 0 where `perCpu` has none.
std::string StatsText(int cpus, const std::vector<std::vector<uint64_t>> &perCpu)
{
   const char *labels[] = {"rx bytes: ", "rx end bytes: ", "tx bytes: ", "tx end bytes: "};
   std::string text;
   for (size_t index = 0; index < 4; index++) {
      text += std::string(labels[index]) + "\n";
      for (size_t i = 0; i < static_cast<size_t>(cpus); i++) {
         uint64_t v = index < perCpu.size() && i < perCpu[index].size() ? perCpu[index][i] : 0;
         text += "\t value on cpu[" + std::to_string(i) + "]: " + std::to_string(v) + "\n";
      }
   }
   return text;
}

// Status, standard output and standard error of a run, compared at once.
std::string Outcome(int status, const std::string &out, const std::string &err = "")
{
   return std::to_string(status) + "\n" + out + "--\n" + err;
}

std::string Outcome(const RunResult &r)
{
   return Outcome(r.status, r.out, r.err);
}

const uint64_t kMax = UINT64_MAX;

class FwdmapsTest : public fwdtest::ProxyMapsTest
{
 protected:
   // Records of every map. The error log is listed in byte-wise order of
   // "<time>:<extra>": 100 > 1000 ('0' < ':'), 999 last, extra id 10 before
   // 9; ip_ver 4 alone means IPv4.
   void Fill()
   {
      ASSERT_EQ(0, mMaps.AddLabelPort(42, 443));
      ASSERT_EQ(0, mMaps.AddLabelPort(0, 0));
      ASSERT_EQ(0, mMaps.AddLabelPort(0xdeadbeef, 65535));
      ASSERT_EQ(0, mMaps.AddWorkerPort(8080));
      ASSERT_EQ(0, mMaps.AddWorkerPort(22));
      ASSERT_EQ(0, mMaps.SetErrCount(4, 12));
      ASSERT_EQ(0, mMaps.SetErrCount(1, kMax));
      ASSERT_EQ(0, mMaps.SetStats(0, mRx));
      ASSERT_EQ(0, mMaps.SetStats(3, {kMax}));
      ASSERT_EQ(0, mMaps.AddErrLog(999, 1, "10.0.0.9", "10.0.0.10", 2, 6, 1, 2));
      ASSERT_EQ(0, mMaps.AddErrLog(1000, 9, "10.0.0.1", "10.0.0.2", 1, 6, 40000, 443));
      ASSERT_EQ(0, mMaps.AddErrLog(1000, 10, "192.168.1.1", "192.168.1.2", 0, 17, 53, 5353));
      ASSERT_EQ(0, mMaps.AddErrLog(100, 0, "0.0.0.0", "255.255.255.255", 4294967295u, 1, 0, 0));
      ASSERT_EQ(0, mMaps.AddErrLog(5, 0, "2001:db8::1", "2001:db8::2", 3, 17, 5353, 53));
      ASSERT_EQ(0, mMaps.AddErrLog(6, 0, "::ffff:10.0.0.1", "::", 3, 58, 1, 2, 0)); // ip_ver 0
   }

   const int mCpus = get_possible_cpus();
   const std::vector<uint64_t> mRx{1500, 7};
};

// Output that cannot be written: every form says why with status 1, and no
// error-log record is deleted.
TEST_F(FwdmapsTest, FullOutputLosesNoRecord)
{
   Fill();
   const std::string full = "fwdmaps: standard output: No space left on device\n";
   const std::string kept = full + "fwdmaps: bpf_fwd_err_log: no record deleted\n";
   const std::pair<std::vector<std::string>, std::string> cases[] = {
       {{"bpf_fwd_err_log"}, kept},
       {{"--json", "bpf_fwd_err_log"}, kept},
       {{"label_port_map"}, full},
       {{"--json", "bpf_fwd_stats"}, full},
       {{"--prometheus", "bpf_fwd_stats"}, full},
   };
   for (const auto &[args, err] : cases) {
      SCOPED_TRACE(::testing::PrintToString(args));
      EXPECT_EQ(Outcome(1, "", err), Outcome(Fwdmaps(args, "/dev/full")));
      EXPECT_EQ(6, LogRecords()); // every record Fill added
   }
}

TEST_F(FwdmapsTest, PossibleCpuFileDecidesTheCounters)
{
   int cpus = get_possible_cpus();
   std::vector<uint64_t> rx{11, 22};
   ASSERT_EQ(0, mMaps.SetStats(0, rx));
   // Fewer CPUs than the kernel fills: only those are shown, and the
   // kernel's copy of every CPU still fits the buffer (ASan would tell).
   // More CPUs than the kernel has: the extra positions read as 0.
   const std::vector<uint64_t> filled(rx.begin(), rx.begin() + std::min<size_t>(cpus, rx.size()));
   const std::pair<const char *, int> cases[] = {{"0\n", 1}, {"0,2-3\n", 3}, {"0-7\n", 8}};
   for (const auto &[file, shown] : cases) {
      SCOPED_TRACE(file);
      std::string why = fwdtest::BindPossibleCpus(file);
      if (!why.empty()) {
         FWD_SKIP_OR_FAIL(why);
      }
      EXPECT_EQ(Outcome(0, StatsText(shown, {filled})), Outcome(Fwdmaps({"bpf_fwd_stats"})));
   }
   // A count that cannot be read ends the run through exit() part way: the
   // file of -o keeps its old content, and no temporary file is left.
   ASSERT_EQ("", fwdtest::BindPossibleCpus("0-0\n"));
   fwdtest::TempDir dir;
   const std::string file = fwdtest::WriteFile(dir.path() + "/fwdmaps.prom", "# the old file\n");
   EXPECT_EQ(Outcome(255, "",
                     "fwdmaps: /sys/devices/system/cpu/possible: possible CPU count is -1, need "
                     "at least 1\n"),
             Outcome(Fwdmaps({"--prometheus", "-o", file})));
   EXPECT_EQ(fwdtest::ReadFile(file), "# the old file\n");
   EXPECT_EQ(fwdtest::DirEntries(dir.path()), std::vector<std::string>{"fwdmaps.prom"});
}

// A missing pin stops the open: the text form says so on standard output,
// JSON prints nothing and metrics only the failed collection; standard
// error names the path.
TEST_F(FwdmapsTest, MissingPinNamesThePath)
{
   ASSERT_EQ(0, unlink((mBpfFs + "/tc/globals/bpf_fwd_stats").c_str()));
   struct Case
   {
      std::vector<std::string> args;
      const char *out;
   } cases[] = {
       {{"bpf_fwd_err"}, "bpf open map failed\n"},
       {{"label_port_map"}, "bpf open map failed\n"}, // opened before the missing one
       {{"--json", "bpf_fwd_err"}, ""},
       {{"--prometheus"}, "fwdmaps_last_collection_success 0\n"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.args[0]);
      RunResult r = Fwdmaps(c.args);
      if (c.args[0] == "--prometheus") {
         // The collection gauges alone, the time stamp first.
         EXPECT_EQ(r.out.find("bpf_fwd_"), std::string::npos) << r.out;
         r.out = r.out.substr(r.out.size() - std::string(c.out).size());
      }
      EXPECT_EQ(Outcome(255, c.out,
                        "fwdmaps: /sys/fs/bpf//tc/globals/bpf_fwd_stats: No such file or "
                        "directory\n"),
                Outcome(r));
   }
}

// Maps of other layouts pinned under proxy map names. Records too short for
// their printer are skipped with one warning per map, in every form, and
// never deleted; a program array can be walked, but the lookup of an empty
// slot fails in the kernel, which is named with status 1.
TEST_F(FwdmapsTest, OddLayoutsAreNamedOnStderr)
{
   using fwdtest::MapLayout;
   auto skipping = [](const std::string &map, const std::string &need, const std::string &has) {
      return "fwdmaps: " + map + ": skipping records shorter than " + need + " (map has " + has +
             ")\n";
   };
   const std::string stats =
       skipping("bpf_fwd_stats", "4-byte key and " + std::to_string(8 * mCpus) + "-byte value",
                "4-byte key and 4-byte value");
   const std::string err =
       skipping("bpf_fwd_err", "4-byte key and 8-byte value", "4-byte key and 4-byte value");
   const std::string logErr =
       skipping("bpf_fwd_err_log", "12-byte key and 44-byte value", "8-byte key and 44-byte value");
   const MapLayout shortStats{"bpf_fwd_stats", BPF_MAP_TYPE_PERCPU_ARRAY, 4, 4, 4};
   const MapLayout shortErr{"bpf_fwd_err", BPF_MAP_TYPE_ARRAY, 4, 4, 5};
   const MapLayout shortLog{"bpf_fwd_err_log", BPF_MAP_TYPE_HASH, 8, 44, 16};
   const MapLayout progArray{"bpf_fwd_err_log", BPF_MAP_TYPE_PROG_ARRAY, 4, 4, 2};
   const std::string noStats = "{\"map\":\"bpf_fwd_stats\",\"records\":[]}\n";
   const std::string walk =
       "fwdmaps: bpf_fwd_err_log: map walk failed: No such file or directory\n";
   struct Case
   {
      std::vector<MapLayout> layouts;
      std::vector<std::string> args;
      int status;
      std::string out, err;
   } cases[] = {
       {{shortLog}, {"bpf_fwd_err_log"}, 0, "", logErr},
       {{shortStats}, {"--json", "bpf_fwd_stats"}, 0, noStats, stats},
       {{shortStats, shortErr}, {"--prometheus"}, 0, "", stats + err},
       {{progArray}, {"bpf_fwd_err_log"}, 1, "", walk},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.err);
      fwdtest::RemoveProxyPins(mBpfFs);
      fwdtest::ProxyMaps maps;
      ASSERT_EQ("", maps.Create(mBpfFs, fwdtest::ProxyMapLayoutsWith(c.layouts)));
      const MapLayout &odd = c.layouts[0];
      const bool hash = odd.type == BPF_MAP_TYPE_HASH;
      for (uint32_t i = 1; hash && i <= 2; i++) {
         ASSERT_EQ(0, maps.AddErrLog(i, i, "10.0.0.1", "10.0.0.2", 1, 6, 1, 2));
      }
      RunResult r = Fwdmaps(c.args);
      if (c.args[0] == "--prometheus") {
         EXPECT_EQ(std::string::npos, r.out.find("} ")) << "no samples:\n" << r.out;
         r.out = "";
      }
      EXPECT_EQ(Outcome(c.status, c.out, c.err), Outcome(r));
      if (hash) {
         EXPECT_EQ(2, fwdtest::CountKeys(maps.fd(odd.name), odd.keySize));
      }
   }
}

// Standard output on a terminal is written line by line, on a pipe in
// blocks; the bytes must not differ.
TEST_F(FwdmapsTest, TerminalAndPipeGetTheSameBytes)
{
   int master = posix_openpt(O_RDWR | O_NOCTTY);
   if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      FWD_SKIP_OR_FAIL(std::string("no pseudo-terminal: ") + strerror(errno));
   }
   std::string slavePath = ptsname(master);
   int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
   ASSERT_GE(slave, 0);
   struct termios raw;
   ASSERT_EQ(0, tcgetattr(slave, &raw));
   cfmakeraw(&raw); // no newline translation
   ASSERT_EQ(0, tcsetattr(slave, TCSANOW, &raw));
   fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

   std::string bytes[2];
   for (std::string &got : bytes) {
      // Each run consumes the log.
      ASSERT_EQ(0, mMaps.AddErrLog(7, 1, "2001:db8::1", "2001:db8::2", 3, 17, 5353, 53));
      ASSERT_EQ(0, mMaps.AddErrLog(8, 1, "10.0.0.1", "10.0.0.2", 3, 17, 5353, 53));
      RunResult r = Fwdmaps({"bpf_fwd_err_log"}, &got == &bytes[0] ? slavePath : "");
      EXPECT_EQ(0, r.status);
      got = r.out;
      char buf[4096];
      for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) {
         got.append(buf, static_cast<size_t>(n));
      }
   }
   EXPECT_NE("", bytes[1]);
   EXPECT_EQ(bytes[1], bytes[0]);
   close(slave);
   close(master);
}

// Two records that differ only in the key's padding have the same key text:
// one line is listed, and the record not shown stays for the next run.
TEST_F(FwdmapsTest, RecordHiddenByTheSameKeyTextIsKept)
{
   ASSERT_EQ(0, mMaps.AddErrLog(42, 1, "10.0.0.1", "10.0.0.2", 1, 6, 1, 2));
   int fd = mMaps.fd("bpf_fwd_err_log");
   fwdtest::ErrLogBytes twin = fwdtest::MakeErrLog(42, 1, "10.0.0.1", "10.0.0.2", 1, 6, 1, 2);
   twin.key[12] = 7; // the padding after the extra id
   ASSERT_EQ(0, fwdtest::UpdateElem(fd, twin.key, twin.value));

   const std::string line =
       "42(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 1 dport: 2\n";
   EXPECT_EQ(Outcome(0, line), Outcome(Fwdmaps({"bpf_fwd_err_log"})));
   EXPECT_EQ(1, fwdtest::CountKeys(fd, 16));
   EXPECT_EQ(Outcome(0, line), Outcome(Fwdmaps({"bpf_fwd_err_log"})));
   EXPECT_EQ(0, fwdtest::CountKeys(fd, 16));
}

// --key reads one record: the line of the listing, or the map's document
// holding it alone; an absent key is named on standard error with status 1.
TEST_F(FwdmapsTest, KeyLooksUpOneRecord)
{
   Fill();
   const std::pair<std::vector<std::string>, std::string> cases[] = {
       {{"--key", "0x2a", "label_port_map"}, Outcome(0, "label :0x2a\tport : 443\n")},
       {{"--key=DEADBEEF", "label_port_map"}, Outcome(0, "label :0xdeadbeef\tport : 65535\n")},
       {{"-j", "--key", "2A", "label_port_map"},
        Outcome(0, R"({"map":"label_port_map","records":[{"label":42,"port":443}]})"
                   "\n")},
       {{"--key", "0x002b", "label_port_map"},
        Outcome(1, "", "fwdmaps: label 0x2b: not in label_port_map\n")},
       {{"--key", "8080", "worker_port_map"}, Outcome(0, "worker bind port: 8080\n")},
       {{"-j", "--key", "8080", "worker_port_map"},
        Outcome(0, R"({"map":"worker_port_map","records":[{"port":8080}]})"
                   "\n")},
       {{"-j", "--key", "08081", "worker_port_map"},
        Outcome(1, "", "fwdmaps: port 8081: not in worker_port_map\n")},
   };
   for (const auto &[args, outcome] : cases) {
      SCOPED_TRACE(::testing::PrintToString(args));
      EXPECT_EQ(outcome, Outcome(Fwdmaps(args)));
   }
}

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
   const std::string unknown = "fwdmaps: unknown map \"BPF_FWD_ERR\": known maps are "
                               "label_port_map, worker_port_map, bpf_fwd_stats, bpf_fwd_err, "
                               "bpf_fwd_err_log\n";
   const std::string list = "list all maps: label_port_map\tworker_port_map\tbpf_fwd_stats\t"
                            "bpf_fwd_err\tbpf_fwd_err_log\t\n";
   const struct
   {
      std::vector<std::string> args;
      int status;
      const char *has; // on standard output with status 0, else on standard error; the
                       // other stream stays empty
   } cases[] = {
       {{"-h"}, 0, "Usage: fwdmaps [OPTION]... [MAP]\n"},
       {{"--help"}, 0, "  bpf_fwd_err_log  "},
       {{"--json", "--help"}, 0, "Exit status:"},
       {{"--help", "--bogus"}, 0, "Usage: "},
       {{"--version"}, 0, "fwdmaps 1."},
       {{"--bogus", "--help"}, 2, "fwdmaps: unknown option '--bogus'"},
       {{"--json=1"}, 2, "fwdmaps: unknown option '--json=1'"},
       {{"--", "-j"}, 2, "fwdmaps: unknown map \"-j\""},
       {{"-j", "--prometheus"}, 2, "cannot be used together"},
       {{"--prometheus", "bpf_fwd_err_log"}, 2, "bpf_fwd_err_log"},
       {{"--json", "BPF_FWD_ERR"}, 2, unknown.c_str()},
       {{"bpf_fwd"}, 2, "unknown map \"bpf_fwd\":"},
       {{""}, 2, "unknown map \"\":"},
       {{"bpf_fwd_err_log2"}, 2, "unknown map \"bpf_fwd_err_log2\":"},
       // The list line needs no maps.
       {{}, 0, list.c_str()},
       // A usage error wins over a file that could not be written.
       {{"-o", "/nonexistent/f", "BPF_FWD_ERR"}, 2, "BPF_FWD_ERR"},
       {{"-o"}, 2, "option '-o' needs a file name"},
       // --watch and --key: the map and KEY decide, and nothing is opened.
       {{"--watch=0.05", "bpf_fwd_stats"},
        2,
        "'--watch' needs SECONDS from 0.1 to 86400, not '0.05'"},
       {{"--watch=1s", "bpf_fwd_stats"}, 2, "not '1s'"},
       {{"--watch"}, 2, "--watch needs a map"},
       {{"--watch", "label_port_map"}, 2, "--watch shows bpf_fwd_stats, bpf_fwd_err or"},
       {{"--watch", "-o", "f", "bpf_fwd_err_log"}, 2, "cannot be used with -o"},
       {{"--watch", "--prometheus", "bpf_fwd_err"}, 2, "cannot be used together"},
       {{"--count=3", "bpf_fwd_err"}, 2, "--count needs --watch"},
       {{"--count=0", "--watch", "bpf_fwd_err"}, 2, "'--count' needs a number of samples"},
       {{"--key", "zz", "label_port_map"}, 2, "--key 'zz': label_port_map takes a hexadecimal"},
       {{"--key", "65536", "worker_port_map"}, 2, "worker_port_map takes a decimal port"},
       {{"--key", "2a", "bpf_fwd_err_log"}, 2, "--key looks up label_port_map or worker_port_map"},
       {{"--key", "2a", "--watch", "label_port_map"}, 2, "cannot be used together"},
       {{"--key"}, 2, "option '--key' needs a KEY"},
       {{"--key", "2a"}, 2, "--key needs a map"},
   };
   for (const auto &c : cases) {
      RunResult r = Fwdmaps(c.args);
      SCOPED_TRACE(::testing::PrintToString(c.args));
      EXPECT_EQ(r.status, c.status) << r.err;
      EXPECT_EQ(c.status == 0 ? r.err : r.out, "");
      const std::string &shown = c.status == 0 ? r.out : r.err;
      EXPECT_NE(shown.find(c.has), std::string::npos) << shown;
      EXPECT_EQ(r.err.rfind("fwdmaps: ", 0), r.err.empty() ? std::string::npos : 0u) << r.err;
   }
}

// Every map in both forms, filled again before each run (listing consumes the
// error log): the printers' lines, and the documents compared as text so the
// fields keep their documented order. Words after the map name are ignored.
TEST_F(FwdmapsTest, TextAndJsonOfEveryMapMatchWhatWasStored)
{
   ASSERT_GE(mCpus, 1);
   using ojson = nlohmann::ordered_json;
   struct Case
   {
      std::string map, text;
      ojson doc;
   } cases[] = {
       {"label_port_map",
        "label :0x0\tport : 0\nlabel :0x2a\tport : 443\nlabel :0xdeadbeef\tport : 65535\n",
        ojson::parse(R"({"map":"label_port_map","records":[{"label":0,"port":0},
         {"label":42,"port":443},{"label":3735928559,"port":65535}]})")},
       {"worker_port_map", "worker bind port: 22\nworker bind port: 8080\n",
        ojson::parse(R"({"map":"worker_port_map","records":[{"port":22},{"port":8080}]})")},
       {"bpf_fwd_stats", StatsText(mCpus, {mRx, {}, {}, {kMax}}),
        ojson{{"map", "bpf_fwd_stats"}, {"records", ojson::array()}}},
       {"bpf_fwd_err",
        "error key: get label val: 0\nerror key: invalid hmac val: 18446744073709551615\n"
        "error key: lookup label val: 0\nerror key: do dnat val: 0\n"
        "error key: do check sum val: 12\n",
        ojson::parse(R"({"map":"bpf_fwd_err","records":[
         {"code":0,"name":"get label","count":0},
         {"code":1,"name":"invalid hmac","count":18446744073709551615},
         {"code":2,"name":"lookup label","count":0},
         {"code":3,"name":"do dnat","count":0},
         {"code":4,"name":"do check sum","count":12}]})")},
       {"bpf_fwd_err_log",
        "1000(ns):sip: 192.168.1.1 dip: 192.168.1.2 err: 0 l4proto: 17 sport: 53 dport: 5353\n"
        "1000(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 40000 dport: 443\n"
        "100(ns):sip: 0.0.0.0 dip: 255.255.255.255 err: 4294967295 l4proto: 1 sport: 0 dport: 0\n"
        "5(ns):sip: 2001:db8::1 dip: 2001:db8::2 err: 3 l4proto: 17 sport: 5353 dport: 53\n"
        "6(ns):sip: ::ffff:10.0.0.1 dip: :: err: 3 l4proto: 58 sport: 1 dport: 2\n"
        "999(ns):sip: 10.0.0.9 dip: 10.0.0.10 err: 2 l4proto: 6 sport: 1 dport: 2\n",
        ojson::parse(R"({"map":"bpf_fwd_err_log","records":[
         {"time_ns":1000,"extra_id":10,"ip_ver":4,"sip":"192.168.1.1","dip":"192.168.1.2",
          "err":0,"l4proto":17,"sport":53,"dport":5353},
         {"time_ns":1000,"extra_id":9,"ip_ver":4,"sip":"10.0.0.1","dip":"10.0.0.2",
          "err":1,"l4proto":6,"sport":40000,"dport":443},
         {"time_ns":100,"extra_id":0,"ip_ver":4,"sip":"0.0.0.0","dip":"255.255.255.255",
          "err":4294967295,"l4proto":1,"sport":0,"dport":0},
         {"time_ns":5,"extra_id":0,"ip_ver":6,"sip":"2001:db8::1","dip":"2001:db8::2",
          "err":3,"l4proto":17,"sport":5353,"dport":53},
         {"time_ns":6,"extra_id":0,"ip_ver":6,"sip":"::ffff:10.0.0.1","dip":"::",
          "err":3,"l4proto":58,"sport":1,"dport":2},
         {"time_ns":999,"extra_id":1,"ip_ver":4,"sip":"10.0.0.9","dip":"10.0.0.10",
          "err":2,"l4proto":6,"sport":1,"dport":2}]})")},
   };
   const char *names[] = {"rx bytes", "rx end bytes", "tx bytes", "tx end bytes"};
   for (uint32_t index = 0; index < 4; index++) {
      ojson values(mCpus, 0);
      uint64_t total = 0;
      for (size_t cpu = 0; cpu < static_cast<size_t>(mCpus); cpu++) {
         uint64_t v = index == 0 && cpu < mRx.size() ? mRx[cpu] : index == 3 && cpu == 0 ? kMax : 0;
         values[cpu] = v;
         total += v;
      }
      cases[2].doc["records"].push_back(
          {{"index", index}, {"name", names[index]}, {"values", values}, {"total", total}});
   }

   const std::string man = fwdtest::ReadFile(std::string(FWD_SOURCE_DIR) + "/tool/fwdmaps.1");
   // Every field the tool writes is documented in the man page.
   std::function<void(const json &)> documented = [&](const json &v) {
      for (auto it = v.begin(); v.is_structured() && it != v.end(); ++it) {
         if (v.is_object()) {
            EXPECT_NE(man.find("\"" + it.key() + "\""), std::string::npos) << it.key();
         }
         documented(*it);
      }
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.map);
      // Hash maps are listed in the kernel's order: compared as sets.
      const bool hash = c.map.find("port_map") != std::string::npos;
      Fill();
      RunResult text = Fwdmaps({c.map, "--json", "words"});
      if (hash && SortedLines(text.out) == SortedLines(c.text)) {
         text.out = c.text;
      }
      EXPECT_EQ(Outcome(0, c.text), Outcome(text));
      Fill();
      RunResult r = Fwdmaps({"--json", "--", c.map});
      EXPECT_EQ(Outcome(r.status, "", r.err), Outcome(0, ""));
      ojson doc = ojson::parse(r.out, nullptr, false);
      if (hash) {
         std::sort(doc["records"].begin(), doc["records"].end());
      }
      EXPECT_EQ(doc.dump(), c.doc.dump()) << r.out;
      documented(ParseDocument(r));
   }
   EXPECT_EQ(LogRecords(), 0) << "the JSON listing consumes the log as the text one does";
   EXPECT_EQ(Outcome(0, ""), Outcome(Fwdmaps({"bpf_fwd_err_log"})));

   std::vector<std::string> maps;
   for (const Case &c : cases) {
      maps.push_back(c.map);
   }
   EXPECT_EQ(ParseDocument(Fwdmaps({"-j"})), (json{{"maps", maps}}));
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
       {{"-"}, "-j --json --prometheus -o --output --watch --key -h --help --version"},
       {{"--prometheus", ""}, "bpf_fwd_stats bpf_fwd_err"},
       {{"--json", "-"}, "-o --output --watch --key"},
       {{"-o", "m.prom", "-"}, "-j --json --prometheus --key"},
       {{"--watch=2", "-"}, "-j --json --count"},
       {{"--watch", "bpf_fwd_"}, "bpf_fwd_stats bpf_fwd_err bpf_fwd_err_log"},
       {{"--key", ""}, ""},
       {{"--key", "2a", ""}, "label_port_map worker_port_map"},
       {{"--output", "m.prom", "--prometheus", "bpf_fwd_e"}, "bpf_fwd_err"},
       {{"-o", std::string(FWD_SOURCE_DIR) + "/tool/completion/fwd"},
        std::string(FWD_SOURCE_DIR) + "/tool/completion/fwdmaps"},
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
      EXPECT_EQ(Outcome(0, c.expected + "\n"), Outcome(r));
   }
}

} // namespace
