// BpfProxyInit and BpfContext on a real veth pair whose name holds shell
// syntax: tc attachment, the pins tc creates, traffic through the test proxy
// as the tool shows it, removal, failures, and SIGTERM without a jump point.
// Each test runs in private namespaces with a private bpffs on /sys/fs/bpf;
// the veth peer lives in a further network namespace held by a child process.
#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bpfproxy/bpfContext.h"
#include "common/commonUtils.h"
#include "lib/config/preference.h"
#include "lib/sig/sig.h"
#include "support/kernelFixture.h"
#include "support/logTestOutput.h"

namespace {

// Shell syntax in the interface name: tc must get it as one word.
const char kNic[] = "v;echo>pwn";
const char kIpv4[] = "10.77.0.1";
const char kIpv6[] = "fd77::1";

// Runs a program found on PATH, without a shell.
fwdtest::RunResult RunCmd(std::vector<std::string> argv)
{
   argv.insert(argv.begin(), "/usr/bin/env");
   return fwdtest::RunProcess(argv);
}

// Our pins, and our filters per direction: "<pins> pins, <egress>
// <ingress>". tc is asked without a shell so any name works.
std::string Attached()
{
   std::error_code ec;
   std::filesystem::directory_iterator pins("/sys/fs/bpf/tc/globals", ec);
   std::string shown = std::to_string(std::distance(pins, {})) + " pins,";
   for (const std::string dir : {"egress", "ingress"}) {
      const std::string out = RunCmd({"tc", "filter", "show", "dev", kNic, dir}).out;
      const std::regex ours("\\[" + dir + "\\] direct-action");
      shown +=
          " " + std::to_string(std::distance(std::sregex_iterator(out.begin(), out.end(), ours),
                                             std::sregex_iterator()));
   }
   return shown;
}

class BpfProxyInitTest : public fwdtest::TestProxyTest
{
 protected:
   void SetUp() override
   {
      TestProxyTest::SetUp();
      if (IsSkipped() || HasFatalFailure()) {
         return;
      }
      const int term = SIGTERM;
      ASSERT_TRUE(Sig_Init(&term, 1));
      // A child that owns the peer's network namespace until it is killed;
      // ready once that namespace is no longer ours.
      mPeer = fwdtest::StartProcess({"/usr/bin/unshare", "--net", "/bin/sleep", "infinity"});
      ASSERT_GT(mPeer, 0);
      auto netNs = [](const std::string &pid) {
         std::error_code ec;
         return std::filesystem::read_symlink("/proc/" + pid + "/ns/net", ec).string();
      };
      ASSERT_TRUE(fwdtest::WaitFor([&] { return netNs(std::to_string(mPeer)) != netNs("self"); }));

      // A veth pair on 10.77.0.0/24 and fd77::/64: .1 and ::1 here, .2 and
      // ::2 on the peer.
      const std::string peer = std::to_string(mPeer);
      auto r = RunCmd(
          {"ip", "link", "add", kNic, "type", "veth", "peer", "name", "peer", "netns", peer});
      if (r.status != 0) {
         FWD_SKIP_OR_FAIL("veth unavailable: " + r.err);
      }
      // Interface $1 gets host number $2.
      const char *up = "ip addr add 10.77.0.$2/24 dev \"$1\" && "
                       "ip -6 addr add fd77::$2/64 dev \"$1\" nodad && ip link set \"$1\" up";
      for (const auto &argv : {std::vector<std::string>{"sh", "-c", up, "up", kNic, "1"},
                               {"nsenter", "-t", peer, "-n", "sh", "-c", up, "up", "peer", "2"}}) {
         r = RunCmd(argv);
         ASSERT_EQ(r.status, 0) << argv[0] << ": " << r.err;
      }
   }

   // Killing the peer ends its namespace and with it every veth pair.
   void TearDown() override
   {
      fwdtest::StopProcess(mPeer, SIGKILL);
      Sig_Exit();
   }

   // Sends `payload` from the peer namespace over "udp" or "tcp" (bash's
   // /dev/udp and /dev/tcp). Returns 0 when sent, 1 when the connection was
   // refused, 2 otherwise.
   int PeerSend(const std::string &proto, const std::string &addr, uint16_t port,
                const std::string &payload)
   {
      auto r = RunCmd({"nsenter", "-t", std::to_string(mPeer), "-n", "bash", "-c",
                       "printf %s \"$1\" > \"/dev/$2/$3/$4\"", "send", payload, proto, addr,
                       std::to_string(port)});
      return r.status == 0 ? 0 : r.err.find("Connection refused") != std::string::npos ? 1 : 2;
   }

   pid_t mPeer = -1;
};

// Real traffic through the veth reaches both programs and writes error
// records; ports registered through the context change what the program
// does; fwdmaps shows it.
TEST_F(BpfProxyInitTest, TrafficMovesCountersThatFwdmapsShows)
{
   std::unique_ptr<BpfContext> ctx(BpfProxyInit(FWD_TEST_PROXY_OBJ, "", kIpv4));
   ASSERT_NE(ctx, nullptr);
   ASSERT_EQ(ctx->AddWorkerPort(htons(8080)), 0);
   ASSERT_EQ(ctx->SetLabelPort(9998, htons(443)), 0);

   // To the worker port: counted as rx end bytes, no error.
   ASSERT_EQ(PeerSend("udp", kIpv4, 8080, std::string(1000, 'w')), 0);
   // To a port with a label: no error. To unknown ports: one error each.
   ASSERT_EQ(PeerSend("udp", kIpv4, 9998, "labelled"), 0);
   ASSERT_EQ(PeerSend("udp", kIpv4, 9999, "unknown v4"), 0);
   ASSERT_EQ(PeerSend("udp", kIpv6, 9999, "unknown v6"), 0);
   ASSERT_EQ(PeerSend("tcp", kIpv4, 7000, "refused"), 1);

   auto stats = fwdtest::Fwdmaps({"--json", "bpf_fwd_stats"});
   ASSERT_EQ(stats.status, 0) << stats.err;
   std::map<std::string, uint64_t> sums;
   const nlohmann::json doc = nlohmann::json::parse(stats.out);
   for (const auto &record : doc["records"]) {
      sums[record["name"]] = record["total"];
   }
   EXPECT_GE(sums["rx end bytes"], 1000u) << stats.out;
   EXPECT_GT(sums["tx bytes"], 0u) << stats.out; // replies and refusals pass egress

   // One line for each unknown port, UDP and TCP, IPv4 and IPv6; the time
   // and the peer's port vary.
   const std::string log = std::regex_replace(fwdtest::Fwdmaps({"bpf_fwd_err_log"}).out,
                                              std::regex(R"(\d+\(ns\):|sport: \d+ )"), "");
   EXPECT_EQ(fwdtest::SortedLines(log),
             fwdtest::SortedLines("sip: 10.77.0.2 dip: 10.77.0.1 err: 2 l4proto: 17 dport: 9999\n"
                                  "sip: 10.77.0.2 dip: 10.77.0.1 err: 2 l4proto: 6 dport: 7000\n"
                                  "sip: fd77::2 dip: fd77::1 err: 2 l4proto: 17 dport: 9999\n"));
}

// What BpfProxyInit logs, in order and with its levels, along each path.
// Attaching by either family, over a discipline already in place or over
// what a crashed earlier run left, ends in one filter per direction and five
// pins. A failure leaves neither filters nor pins, and no context. With
// BpfProxy.Enabled false it still clears up first, attaches nothing, and
// succeeds only when pins are left to open: pins outlive the discipline they
// came with, and a removal whose egress line fails keeps them.
TEST_F(BpfProxyInitTest, LogsEachPathInOrder)
{
   const std::string q = CommonUtils::ShellQuote(kNic), obj = FWD_TEST_PROXY_OBJ,
                     nic = "info: BpfContext getNicFromIp nic " + std::string(kNic) + "\n",
                     noEgress = "error: remove bpf prog egress failed\n",
                     loaded = "info: BpfProxyInit load Bpf prog ok\n",
                     failed = "error: load Bpf prog failed\n",
                     disabled = "info: BpfProxy is disabled\n",
                     noMap = "error: open Bpf map failed\n";
   const std::string clsact = "tc qdisc add dev " + q + " clsact",
                     attach = clsact + " && tc filter add dev " + q + " egress bpf da obj " + obj +
                              " sec egress && tc filter add dev " + q + " ingress bpf da obj " +
                              obj + " sec ingress";
   const std::string none = "none, 0 pins, 0 0\n", ok = "enabled, 5 pins, 1 1\n";
   struct Case
   {
      const char *what;
      bool enabled;
      std::string before, obj, ipv6, ipv4;
      std::string outcome; // context, pins and filters afterwards; then the log
   } cases[] = {
       {"both addresses", true, "", obj, kIpv6, kIpv4,
        none + "error: ipv6 and ipv4 address are of the same emptiness\n"},
       {"no interface carries the address", true, "", obj, "", "10.99.99.99",
        none + "error: BpfContext getNicFromIp err. ip 10.99.99.99\n" + noEgress +
            "error: BpfProxy mNic shall not be empty\n" + failed + noEgress},
       {"attached", true, "", obj, "", kIpv4, ok + nic + noEgress + loaded},
       {"existing clsact", true, clsact, obj, "", kIpv4, ok + nic + loaded},
       {"leftovers of an earlier run", true, attach, obj, kIpv6, "", ok + nic + loaded},
       {"attach egress fails", true, "", "/nonexistent/proxy.o", "", kIpv4,
        none + nic + noEgress + failed},
       {"disabled, nothing pinned", false, "", obj, "", kIpv4,
        none + nic + noEgress + disabled + loaded + noEgress + noMap},
       {"disabled, an earlier run attached", false, attach, obj, "", kIpv4,
        none + nic + disabled + loaded + noMap},
       {"disabled, pins left without filters", false,
        attach + " && tc qdisc del dev " + q + " clsact", obj, "", kIpv4,
        "disabled, 5 pins, 0 0\n" + nic + noEgress + disabled + loaded},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      auto r = RunCmd({"sh", "-c",
                       "tc qdisc del dev " + q +
                           " clsact 2>/dev/null; rm -f /sys/fs/bpf/tc/globals/*; " + c.before});
      ASSERT_EQ(r.status, 0) << r.err;
      Preference_InitSystemOnly();
      ASSERT_TRUE(Preference_SetFromString(
          c.enabled ? "BpfProxy.Enabled=TRUE" : "BpfProxy.Enabled=FALSE", TRUE));
      fwdtest::LogCapture log(LOG_INFO, FALSE);
      log.Clear();

      std::unique_ptr<BpfContext> ctx(BpfProxyInit(c.obj, c.ipv6, c.ipv4));
      std::string got = !ctx ? "none" : ctx->IsEnabled() ? "enabled" : "disabled";
      got += ", " + Attached() + "\n";
      for (const std::string &line : log.Take()) {
         got += line;
      }
      EXPECT_EQ(got, c.outcome);
      ctx.reset();
      Preference_Exit();
   }
}

// The object's path with shell syntax reaches tc as one word too: nothing
// it or the interface name holds is run. Without a jump point SIGTERM ends
// the process as usual, the proxy still attached, and the next BpfProxyInit
// clears that up; removal keeps the discipline. The jump itself is the
// reference agent's way out, seen in its test.
TEST_F(BpfProxyInitTest, OddObjectPathAndSigtermWithoutAJumpPoint)
{
   fwdtest::TempDir dir;
   const std::string obj = dir.path() + "/it's a proxy;echo>pwn2.o";
   ASSERT_TRUE(std::filesystem::copy_file(FWD_TEST_PROXY_OBJ, obj));
   char cwd[4096];
   ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
   ASSERT_EQ(chdir(dir.path().c_str()), 0);

   fwdtest::ChildResult r = fwdtest::RunInChild([&] {
      if (BpfProxyInit(obj, "", kIpv4) == nullptr) {
         _exit(3);
      }
      kill(getpid(), SIGTERM);
      _exit(4);
   });
   EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
   EXPECT_EQ(Attached(), "5 pins, 1 1");
   std::unique_ptr<BpfContext> ctx(BpfProxyInit(obj, "", kIpv4));
   ASSERT_NE(ctx, nullptr);
   ctx.reset();
   EXPECT_EQ(Attached(), "0 pins, 0 0");
   EXPECT_NE(RunCmd({"tc", "qdisc", "show", "dev", kNic}).out.find("clsact"), std::string::npos);
   // Only the object itself is in the directory.
   EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
   ASSERT_EQ(chdir(cwd), 0);
}

} // namespace
