// fwdmaps run as a process against real maps in a private bpffs.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <linux/bpf.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/kernelFixture.h"

using fwdtest::Fwdmaps;
using fwdtest::ProxyMaps;
using fwdtest::RunResult;
using fwdtest::SortedLines;

namespace {

std::string StatsLines(const char *label, const std::vector<uint64_t> &perCpu, int cpus)
{
   std::string text = std::string(label) + "\n";
   for (int i = 0; i < cpus; i++) {
      uint64_t v = i < static_cast<int>(perCpu.size()) ? perCpu[i] : 0;
      text += "\t value on cpu[" + std::to_string(i) + "]: " + std::to_string(v) + "\n";
   }
   return text;
}

using FwdmapsTest = fwdtest::ProxyMapsTest;

// Every printer on real maps, empty ones included; words after the map name
// are ignored. The error log is listed in byte-wise order of
// "<time>:<extra>": 100 > 1000 ('0' < ':'), 999 last, extra id 10 before 9;
// ip_ver 4 alone means IPv4. Listing consumes the log.
TEST_F(FwdmapsTest, EveryMapPrintsEveryRecord)
{
   const int cpus = fwdtest::PossibleCpus();
   ASSERT_GE(cpus, 1);
   const std::vector<uint64_t> rx{1500, 7}, txEnd{18446744073709551615ull};
   const std::string stats =
       StatsLines("rx bytes: ", rx, cpus) + StatsLines("rx end bytes: ", {}, cpus) +
       StatsLines("tx bytes: ", {}, cpus) + StatsLines("tx end bytes: ", txEnd, cpus);
   for (const char *map : {"label_port_map", "worker_port_map", "bpf_fwd_err_log"}) {
      RunResult r = Fwdmaps({map});
      EXPECT_EQ("0", std::to_string(r.status) + r.out + r.err) << map;
   }
   struct Case
   {
      std::vector<std::string> args;
      std::string out;
      bool hash; // listed in the kernel's order: compared sorted
   } filled[] = {
       {{"label_port_map"},
        "label :0x0\tport : 0\nlabel :0x2a\tport : 443\n"
        "label :0xdeadbeef\tport : 65535\n",
        true},
       {{"worker_port_map"}, "worker bind port: 22\nworker bind port: 8080\n", true},
       {{"bpf_fwd_err", "ignored", "words"},
        "error key: get label val: 0\nerror key: invalid hmac val: 18446744073709551615\n"
        "error key: lookup label val: 0\nerror key: do dnat val: 0\n"
        "error key: do check sum val: 12\n",
        false},
       {{"bpf_fwd_stats"}, stats, false},
       {{"bpf_fwd_err_log"},
        "1000(ns):sip: 192.168.1.1 dip: 192.168.1.2 err: 0 l4proto: 17 sport: 53 dport: 5353\n"
        "1000(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 40000 dport: 443\n"
        "100(ns):sip: 0.0.0.0 dip: 255.255.255.255 err: 4294967295 l4proto: 1 sport: 0 dport: 0\n"
        "5(ns):sip: 2001:db8::1 dip: 2001:db8::2 err: 3 l4proto: 17 sport: 5353 dport: 53\n"
        "6(ns):sip: ::ffff:10.0.0.1 dip: :: err: 3 l4proto: 58 sport: 1 dport: 2\n"
        "999(ns):sip: 10.0.0.9 dip: 10.0.0.10 err: 2 l4proto: 6 sport: 1 dport: 2\n",
        false},
       {{"bpf_fwd_err_log"}, "", false},
   };
   ASSERT_EQ(0, mMaps.AddLabelPort(42, 443));
   ASSERT_EQ(0, mMaps.AddLabelPort(0, 0));
   ASSERT_EQ(0, mMaps.AddLabelPort(0xdeadbeef, 65535));
   ASSERT_EQ(0, mMaps.AddWorkerPort(8080));
   ASSERT_EQ(0, mMaps.AddWorkerPort(22));
   ASSERT_EQ(0, mMaps.SetErrCount(4, 12));
   ASSERT_EQ(0, mMaps.SetErrCount(1, 18446744073709551615ull));
   ASSERT_EQ(0, mMaps.SetStats(0, rx));
   ASSERT_EQ(0, mMaps.SetStats(3, txEnd));
   ASSERT_EQ(0, mMaps.AddErrLog(999, 1, "10.0.0.9", "10.0.0.10", 2, 6, 1, 2));
   ASSERT_EQ(0, mMaps.AddErrLog(1000, 9, "10.0.0.1", "10.0.0.2", 1, 6, 40000, 443));
   ASSERT_EQ(0, mMaps.AddErrLog(1000, 10, "192.168.1.1", "192.168.1.2", 0, 17, 53, 5353));
   ASSERT_EQ(0, mMaps.AddErrLog(100, 0, "0.0.0.0", "255.255.255.255", 4294967295u, 1, 0, 0));
   ASSERT_EQ(0, mMaps.AddErrLog(5, 0, "2001:db8::1", "2001:db8::2", 3, 17, 5353, 53));
   ASSERT_EQ(0, mMaps.AddErrLog(6, 0, "::ffff:10.0.0.1", "::", 3, 58, 1, 2, 0)); // ip_ver 0
   for (const Case &c : filled) {
      SCOPED_TRACE(c.args[0]);
      RunResult r = Fwdmaps(c.args);
      EXPECT_EQ(0, r.status);
      EXPECT_EQ("", r.err);
      if (c.hash) {
         EXPECT_EQ(SortedLines(c.out), SortedLines(r.out));
      } else {
         EXPECT_EQ(c.out, r.out);
      }
   }
}

// Output that cannot be written: every form says why with status 1, and no
// error-log record is deleted.
TEST_F(FwdmapsTest, FullOutputLosesNoRecord)
{
   for (int i = 0; i < 3; i++) {
      ASSERT_EQ(0, mMaps.AddErrLog(1000 + i, i, "10.0.0.1", "10.0.0.2", 1, 6, 1, 2));
   }
   ASSERT_EQ(0, mMaps.AddLabelPort(1, 2));
   ASSERT_EQ(0, mMaps.SetErrCount(1, 2));
   const std::string full = "fwdmaps: standard output: No space left on device\n";
   const std::string kept = full + "fwdmaps: bpf_fwd_err_log: no record deleted\n";
   struct Case
   {
      std::vector<std::string> args;
      std::string err;
   } cases[] = {
       {{"bpf_fwd_err_log"}, kept}, {{"--json", "bpf_fwd_err_log"}, kept},
       {{"label_port_map"}, full},  {{"--json", "bpf_fwd_stats"}, full},
       {{"--prometheus"}, full},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
      RunResult r = Fwdmaps(c.args, "/dev/full");
      EXPECT_EQ(1, r.status);
      EXPECT_EQ(c.err, r.err);
      EXPECT_EQ(3, LogRecords());
   }
}

TEST_F(FwdmapsTest, PossibleCpuFileDecidesTheCounters)
{
   int cpus = fwdtest::PossibleCpus();
   std::vector<uint64_t> rx{11, 22};
   ASSERT_EQ(0, mMaps.SetStats(0, rx));
   std::string why = fwdtest::BindPossibleCpus("0-0\n");
   if (!why.empty()) {
      FWD_SKIP_OR_FAIL(why);
   }
   RunResult bad = Fwdmaps({"bpf_fwd_stats"});
   EXPECT_EQ(255, bad.status);
   EXPECT_EQ("", bad.out);
   EXPECT_EQ("fwdmaps: /sys/devices/system/cpu/possible: possible CPU count is -1, need at "
             "least 1\n",
             bad.err);

   // Fewer CPUs than the kernel fills: only those are shown, and the
   // kernel's copy of every CPU still fits the buffer (ASan would tell).
   // More CPUs than the kernel has: the extra positions read as 0.
   struct Case
   {
      const char *file;
      int shown;
   } cases[] = {{"0\n", 1}, {"0,2-3\n", 3}, {"0-7\n", 8}};
   for (const Case &c : cases) {
      SCOPED_TRACE(c.file);
      ASSERT_EQ("", fwdtest::BindPossibleCpus(c.file));
      RunResult r = Fwdmaps({"bpf_fwd_stats"});
      EXPECT_EQ(0, r.status);
      EXPECT_EQ("", r.err);
      std::vector<uint64_t> shown(rx.begin(), rx.begin() + std::min<size_t>(cpus, rx.size()));
      std::string expected =
          StatsLines("rx bytes: ", shown, c.shown) + StatsLines("rx end bytes: ", {}, c.shown) +
          StatsLines("tx bytes: ", {}, c.shown) + StatsLines("tx end bytes: ", {}, c.shown);
      EXPECT_EQ(expected, r.out);
   }
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
      EXPECT_EQ(255, r.status);
      if (c.args[0] == "--prometheus") {
         EXPECT_EQ(r.out.find("bpf_fwd_"), std::string::npos) << r.out;
         EXPECT_EQ(r.out.substr(r.out.size() - std::string(c.out).size()), c.out) << r.out;
      } else {
         EXPECT_EQ(c.out, r.out);
      }
      EXPECT_EQ("fwdmaps: /sys/fs/bpf//tc/globals/bpf_fwd_stats: No such file or directory\n",
                r.err);
   }
}

// Maps of other layouts pinned under proxy map names. Records too short for
// their printer are skipped with one warning per map, in every form, and
// never deleted; a program array can be walked, but the lookup of an empty
// slot fails in the kernel, which is named with status 1.
TEST_F(FwdmapsTest, OddLayoutsAreNamedOnStderr)
{
   using fwdtest::MapLayout;
   const std::string stats = "fwdmaps: bpf_fwd_stats: skipping records shorter than 4-byte key "
                             "and " +
                             std::to_string(8 * fwdtest::PossibleCpus()) +
                             "-byte value (map has 4-byte key and 4-byte value)\n";
   const std::string err = "fwdmaps: bpf_fwd_err: skipping records shorter than 4-byte key and "
                           "8-byte value (map has 4-byte key and 4-byte value)\n";
   const MapLayout shortStats{"bpf_fwd_stats", BPF_MAP_TYPE_PERCPU_ARRAY, 4, 4, 4};
   const MapLayout shortErr{"bpf_fwd_err", BPF_MAP_TYPE_ARRAY, 4, 4, 5};
   struct Case
   {
      std::vector<MapLayout> layouts;
      std::vector<std::string> args;
      int status;
      std::string out, err;
   } cases[] = {
       {{{"bpf_fwd_err_log", BPF_MAP_TYPE_HASH, 8, 44, 16}},
        {"bpf_fwd_err_log"},
        0,
        "",
        "fwdmaps: bpf_fwd_err_log: skipping records shorter than 12-byte key and 44-byte value "
        "(map has 8-byte key and 44-byte value)\n"},
       {{shortStats},
        {"--json", "bpf_fwd_stats"},
        0,
        "{\"map\":\"bpf_fwd_stats\",\"records\":[]}\n",
        stats},
       {{shortStats, shortErr}, {"--prometheus"}, 0, "", stats + err},
       {{{"bpf_fwd_err_log", BPF_MAP_TYPE_PROG_ARRAY, 4, 4, 2}},
        {"bpf_fwd_err_log"},
        1,
        "",
        "fwdmaps: bpf_fwd_err_log: map walk failed: No such file or directory\n"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.err);
      fwdtest::RemoveProxyPins(mBpfFs);
      ProxyMaps maps;
      ASSERT_EQ("", maps.Create(mBpfFs, fwdtest::ProxyMapLayoutsWith(c.layouts)));
      const MapLayout &odd = c.layouts[0];
      const bool hash = odd.type == BPF_MAP_TYPE_HASH;
      for (uint32_t i = 1; hash && i <= 2; i++) {
         ASSERT_EQ(0, maps.AddErrLog(i, i, "10.0.0.1", "10.0.0.2", 1, 6, 1, 2));
      }
      RunResult r = Fwdmaps(c.args);
      EXPECT_EQ(c.status, r.status);
      if (c.args[0] == "--prometheus") {
         EXPECT_EQ(std::string::npos, r.out.find("} ")) << "no samples:\n" << r.out;
      } else {
         EXPECT_EQ(c.out, r.out);
      }
      EXPECT_EQ(c.err, r.err);
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
   struct
   {
      uint64_t timeNs;
      uint32_t extraId, pad;
   } key = {42, 1, 0}, twin = {42, 1, 7};
   unsigned char value[44];
   ASSERT_EQ(0, fwdtest::LookupElem(fd, &key, value));
   ASSERT_EQ(0, fwdtest::UpdateElem(fd, &twin, value));

   RunResult r = Fwdmaps({"bpf_fwd_err_log"});
   EXPECT_EQ(0, r.status);
   EXPECT_EQ("", r.err);
   EXPECT_EQ("42(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 1 dport: 2\n", r.out);
   EXPECT_EQ(1, fwdtest::CountKeys(fd, 16));

   RunResult next = Fwdmaps({"bpf_fwd_err_log"});
   EXPECT_EQ(r.out, next.out);
   EXPECT_EQ(0, fwdtest::CountKeys(fd, 16));
}

} // namespace
