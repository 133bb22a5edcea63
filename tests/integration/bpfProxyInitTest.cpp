// BpfProxyInit and BpfContext on a real veth pair: tc attachment, the pins
// tc creates, traffic through the test proxy as the tool shows it, removal,
// failures, and the SIGTERM jump. Each test runs in private namespaces with
// a private bpffs on /sys/fs/bpf; the veth peer lives in a further network
// namespace held by a child process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
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

const char *const kMapNames[] = {"label_port_map", "worker_port_map", "bpf_fwd_stats",
                                 "bpf_fwd_err", "bpf_fwd_err_log"};

const char kNic[] = "fwd0";
const char kPeerNic[] = "fwd0p";
const char kIpv4[] = "10.77.0.1";
const char kIpv6[] = "fd77::1";

// Runs a program found on PATH, without a shell.
fwdtest::RunResult RunCmd(std::vector<std::string> argv)
{
   argv.insert(argv.begin(), "/usr/bin/env");
   return fwdtest::RunProcess(argv);
}

fwdtest::RunResult Sh(const std::string &cmd)
{
   return fwdtest::RunProcess({"/bin/sh", "-c", cmd});
}

// Our filters on `nic`, counted per direction as "<egress> <ingress>"; asked
// without a shell so any name works.
std::string Filters(const std::string &nic)
{
   std::string counts;
   for (const std::string dir : {"egress", "ingress"}) {
      std::string shown = RunCmd({"tc", "filter", "show", "dev", nic, dir}).out;
      int n = 0;
      for (size_t at = 0; (at = shown.find("[" + dir + "] direct-action", at)) != std::string::npos;
           at++) {
         n++;
      }
      counts += std::to_string(n) + (dir == "egress" ? " " : "");
   }
   return counts;
}

bool Exists(const std::string &path)
{
   struct stat st;
   return stat(path.c_str(), &st) == 0;
}

int CountPins()
{
   int n = 0;
   for (const char *name : kMapNames) {
      n += Exists(std::string("/sys/fs/bpf/tc/globals/") + name) ? 1 : 0;
   }
   return n;
}

class BpfProxyInitTest : public fwdtest::PrivateBpfFsTest
{
 protected:
   void SetUp() override
   {
      PrivateBpfFsTest::SetUp();
      if (IsSkipped() || HasFatalFailure()) {
         return;
      }
      if (!Exists(FWD_TEST_PROXY_OBJ)) {
         FWD_SKIP_OR_FAIL(std::string("test proxy not built (is clang installed?): ") +
                          FWD_TEST_PROXY_OBJ);
      }
      if (Sh("tc -V").status != 0) {
         FWD_SKIP_OR_FAIL("tc (iproute2) is not installed");
      }
      const int term = SIGTERM;
      ASSERT_TRUE(Sig_Init(&term, 1));
      ASSERT_NO_FATAL_FAILURE(StartPeer());
      ASSERT_NO_FATAL_FAILURE(AddVeth(kNic, kPeerNic, "77"));
   }

   void TearDown() override
   {
      for (const std::string &nic : mNics) {
         RunCmd({"ip", "link", "del", nic});
      }
      if (mPeer > 0) {
         fwdtest::StopProcess(mPeer, SIGKILL);
      }
      Sig_Exit();
   }

   // A child that owns the peer's network namespace until it is killed;
   // ready once that namespace is no longer ours.
   void StartPeer()
   {
      mPeer = fwdtest::StartProcess({"/usr/bin/unshare", "--net", "/bin/sleep", "infinity"});
      ASSERT_GT(mPeer, 0);
      auto netNs = [](const std::string &pid) {
         std::error_code ec;
         return std::filesystem::read_symlink("/proc/" + pid + "/ns/net", ec).string();
      };
      for (int i = 0; i < 500 && netNs(std::to_string(mPeer)) == netNs("self"); i++) {
         usleep(10000);
      }
   }

   // A veth pair on 10.<net>.0.0/24 and fd<net>::/64: .1 and ::1 here, .2 and
   // ::2 on the peer.
   void AddVeth(const std::string &nic, const std::string &peerNic, const std::string &net)
   {
      const std::string v4 = "10." + net + ".0.", v6 = "fd" + net + "::";
      auto r = RunCmd({"ip", "link", "add", nic, "type", "veth", "peer", "name", peerNic});
      if (r.status != 0) {
         FWD_SKIP_OR_FAIL("veth unavailable: " + r.err);
      }
      mNics.push_back(nic);
      const std::string peer = std::to_string(mPeer);
      const std::vector<std::vector<std::string>> steps = {
          {"ip", "link", "set", peerNic, "netns", peer},
          {"ip", "addr", "add", v4 + "1/24", "dev", nic},
          {"ip", "-6", "addr", "add", v6 + "1/64", "dev", nic, "nodad"},
          {"ip", "link", "set", nic, "up"},
          {"nsenter", "-t", peer, "-n", "ip", "addr", "add", v4 + "2/24", "dev", peerNic},
          {"nsenter", "-t", peer, "-n", "ip", "-6", "addr", "add", v6 + "2/64", "dev", peerNic,
           "nodad"},
          {"nsenter", "-t", peer, "-n", "ip", "link", "set", peerNic, "up"},
      };
      for (const auto &argv : steps) {
         r = RunCmd(argv);
         ASSERT_EQ(r.status, 0) << argv[0] << " " << argv[3] << ": " << r.err;
      }
   }

   // Sends `payload` from the peer namespace: a UDP datagram, or a TCP
   // connection that writes it (bash's /dev/udp and /dev/tcp). Returns 0 when
   // sent (TCP: connected), 1 when the connection was refused, 2 otherwise.
   int PeerSend(int type, const std::string &addr, uint16_t port, const std::string &payload)
   {
      auto r = RunCmd({"nsenter", "-t", std::to_string(mPeer), "-n", "bash", "-c",
                       "printf %s \"$1\" > \"/dev/$2/$3/$4\"", "send", payload,
                       type == SOCK_STREAM ? "tcp" : "udp", addr, std::to_string(port)});
      return r.status == 0 ? 0 : r.err.find("Connection refused") != std::string::npos ? 1 : 2;
   }

   // A TCP listener on our side of the veth, so the peer's connections to
   // it complete (the kernel accepts them without our help).
   int Listen(const std::string &addr, uint16_t port)
   {
      struct sockaddr_in sin = {};
      sin.sin_family = AF_INET;
      sin.sin_port = htons(port);
      inet_pton(AF_INET, addr.c_str(), &sin.sin_addr);
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      EXPECT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&sin), sizeof sin), 0);
      EXPECT_EQ(listen(fd, 8), 0);
      return fd;
   }

   pid_t mPeer = -1;
   std::vector<std::string> mNics;
};

// Real traffic through the veth moves the counters and writes error
// records; ports registered through the context change what the program
// does; fwdmaps shows all of it.
TEST_F(BpfProxyInitTest, TrafficMovesCountersThatFwdmapsShows)
{
   std::unique_ptr<BpfContext> ctx(BpfProxyInit(FWD_TEST_PROXY_OBJ, "", kIpv4));
   ASSERT_NE(ctx, nullptr);
   int listener = Listen(kIpv4, 8080);
   ASSERT_EQ(ctx->AddWorkerPort(htons(8080)), 0);
   ASSERT_EQ(ctx->SetLabelPort(9998, htons(443)), 0);

   // To the worker port: counted as rx end bytes, no error.
   ASSERT_EQ(PeerSend(SOCK_STREAM, kIpv4, 8080, std::string(1000, 'w')), 0);
   // To a port with a label: no error. To unknown ports: one error each.
   ASSERT_EQ(PeerSend(SOCK_DGRAM, kIpv4, 9998, "labelled"), 0);
   ASSERT_EQ(PeerSend(SOCK_DGRAM, kIpv4, 9999, "unknown v4"), 0);
   ASSERT_EQ(PeerSend(SOCK_DGRAM, kIpv6, 9999, "unknown v6"), 0);
   ASSERT_EQ(PeerSend(SOCK_STREAM, kIpv4, 7000, "refused"), 1);
   close(listener);

   auto stats = fwdtest::Fwdmaps({"--json", "bpf_fwd_stats"});
   ASSERT_EQ(stats.status, 0) << stats.err;
   std::map<std::string, uint64_t> sums;
   const nlohmann::json doc = nlohmann::json::parse(stats.out);
   for (const auto &record : doc["records"]) {
      sums[record["name"]] = record["total"];
   }
   EXPECT_GE(sums["rx end bytes"], 1000u) << stats.out;
   EXPECT_GT(sums["rx bytes"], sums["rx end bytes"]) << stats.out;
   EXPECT_GT(sums["tx end bytes"], 0u) << stats.out; // the worker's handshake replies
   EXPECT_GT(sums["tx bytes"], sums["tx end bytes"]) << stats.out;

   auto errs = fwdtest::Fwdmaps({"bpf_fwd_err"});
   ASSERT_EQ(errs.status, 0);
   EXPECT_NE(errs.out.find("error key: lookup label val: 3\n"), std::string::npos) << errs.out;
   EXPECT_NE(errs.out.find("error key: get label val: 0\n"), std::string::npos) << errs.out;

   auto log = fwdtest::Fwdmaps({"bpf_fwd_err_log"});
   ASSERT_EQ(log.status, 0) << log.err;
   // One line for each unknown port, UDP and TCP, IPv4 and IPv6.
   EXPECT_EQ(fwdtest::SortedLines(log.out).size(), 3u) << log.out;
   for (const char *line : {"sip: 10.77.0.2 dip: 10.77.0.1 err: 2 l4proto: 17 ",
                            "sip: 10.77.0.2 dip: 10.77.0.1 err: 2 l4proto: 6 ",
                            "sip: fd77::2 dip: fd77::1 err: 2 l4proto: 17 "}) {
      size_t at = log.out.find(line);
      EXPECT_TRUE(at != std::string::npos && log.out.find(line, at + 1) == std::string::npos)
          << line << " not once in:\n"
          << log.out;
   }
}

// Names and paths with shell syntax reach tc as single words: nothing they
// hold is run, and the attachment works on the oddly named interface.
TEST_F(BpfProxyInitTest, ShellSyntaxInNamesIsNeverRun)
{
   const std::string nic = "v;echo>pwn";
   ASSERT_NO_FATAL_FAILURE(AddVeth(nic, "vq", "78"));
   fwdtest::TempDir dir;
   const std::string obj = dir.path() + "/it's a proxy;echo>pwn2.o";
   ASSERT_EQ(
       Sh("cp " + std::string(FWD_TEST_PROXY_OBJ) + " " + CommonUtils::ShellQuote(obj)).status, 0);
   char cwd[4096];
   ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
   ASSERT_EQ(chdir(dir.path().c_str()), 0);

   std::unique_ptr<BpfContext> ctx(BpfProxyInit(obj, "", "10.78.0.1"));
   ASSERT_NE(ctx, nullptr);
   EXPECT_EQ(ctx->GetNic(), nic);
   EXPECT_EQ(Filters(nic), "1 1");
   ctx.reset();
   EXPECT_EQ(Filters(nic), "0 0");
   EXPECT_EQ(CountPins(), 0);

   EXPECT_FALSE(Exists(dir.path() + "/pwn"));
   EXPECT_FALSE(Exists(dir.path() + "/pwn2.o"));
   ASSERT_EQ(chdir(cwd), 0);
}

// (A load whose egress line fails stops there: the "attach egress fails"
// row below.)
TEST_F(BpfProxyInitTest, RemovalThatFailsKeepsThePins)
{
   BpfContext ctx(kIpv4);
   ASSERT_EQ(ctx.GetNic(), kNic);
   // Pins outlive the discipline they came with; a removal whose egress
   // line fails (no discipline at all) must keep them.
   ASSERT_EQ(Sh(std::string(
                    "tc qdisc add dev fwd0 clsact && tc filter add dev fwd0 ingress bpf da obj ") +
                FWD_TEST_PROXY_OBJ + " sec ingress && tc qdisc del dev fwd0 clsact")
                 .status,
             0);
   EXPECT_EQ(CountPins(), 5);
   ctx.RemoveBpfProg();
   EXPECT_EQ(CountPins(), 5);
}

// What BpfProxyInit logs, in order and with its levels, along each path.
// Attaching by either family, over a discipline already in place or over
// what a crashed earlier run left, ends in one filter per direction and five
// pins; destroying the context removes both and keeps the discipline. A
// failure leaves neither filters nor pins, and no context. With
// BpfProxy.Enabled false it still clears up first, attaches nothing, and
// succeeds only when pins are left to open.
TEST_F(BpfProxyInitTest, LogsEachPathInOrder)
{
   using Msgs = std::vector<std::string>;
   const std::string obj = FWD_TEST_PROXY_OBJ, nic = "info: BpfContext getNicFromIp nic fwd0\n",
                     noEgress = "error: remove bpf prog egress failed\n",
                     loaded = "info: BpfProxyInit load Bpf prog ok\n",
                     failed = "error: load Bpf prog failed\n",
                     disabled = "info: BpfProxy is disabled\n",
                     same = "error: ipv6 and ipv4 address are of the same emptiness\n";
   const std::string attach = std::string("tc qdisc add dev fwd0 clsact && ") +
                              "tc filter add dev fwd0 egress bpf da obj " + FWD_TEST_PROXY_OBJ +
                              " sec egress && tc filter add dev fwd0 ingress bpf da obj " +
                              FWD_TEST_PROXY_OBJ + " sec ingress";
   struct Case
   {
      const char *what;
      bool enabled;
      std::string before;
      std::string obj, ipv6, ipv4;
      bool ok;
      Msgs messages;       // each prefixed with its level name
      std::string filters; // per direction afterwards, before any delete
   } cases[] = {
       {"both addresses", true, "", obj, kIpv6, kIpv4, false, Msgs{same}, "0 0"},
       {"no address", true, "", obj, "", "", false, Msgs{same}, "0 0"},
       {"no interface carries the address", true, "", obj, "", "10.99.99.99", false,
        Msgs{"error: BpfContext getNicFromIp err. ip 10.99.99.99\n", noEgress,
             "error: BpfProxy mNic shall not be empty\n", failed, noEgress},
        "0 0"},
       {"attached", true, "", obj, "", kIpv4, true, Msgs{nic, noEgress, loaded}, "1 1"},
       {"attached by ipv6", true, "", obj, kIpv6, "", true, Msgs{nic, noEgress, loaded}, "1 1"},
       {"existing clsact", true, "tc qdisc add dev fwd0 clsact", obj, "", kIpv4, true,
        Msgs{nic, loaded}, "1 1"},
       {"leftovers of an earlier run", true, attach, obj, kIpv6, "", true, Msgs{nic, loaded},
        "1 1"},
       {"attach egress fails", true, "", "/nonexistent/proxy.o", "", kIpv4, false,
        Msgs{nic, noEgress, failed}, "0 0"},
       {"disabled, nothing pinned", false, "", obj, "", kIpv4, false,
        Msgs{nic, noEgress, disabled, loaded, noEgress, "error: open Bpf map failed\n"}, "0 0"},
       {"disabled, an earlier run attached", false, attach, obj, "", kIpv4, false,
        Msgs{nic, disabled, loaded, "error: open Bpf map failed\n"}, "0 0"},
       {"disabled, pins left without filters", false, attach + " && tc qdisc del dev fwd0 clsact",
        obj, "", kIpv4, true, Msgs{nic, noEgress, disabled, loaded}, "0 0"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      Sh("tc qdisc del dev fwd0 clsact; rm -f /sys/fs/bpf/tc/globals/*");
      if (!c.before.empty()) {
         auto r = Sh(c.before);
         ASSERT_EQ(r.status, 0) << r.err;
      }
      Preference_InitSystemOnly();
      if (!c.enabled) {
         ASSERT_TRUE(Preference_SetFromString("BpfProxy.Enabled=FALSE", TRUE));
      }
      LogOutput *out = LogTestOutput_Create(nullptr);
      ASSERT_TRUE(Log_AddOutput(out));
      LogTestOutput_Clear(out);

      std::unique_ptr<BpfContext> ctx(BpfProxyInit(c.obj, c.ipv6, c.ipv4));
      EXPECT_EQ(ctx != nullptr, c.ok);
      if (ctx == nullptr) {
         EXPECT_EQ(CountPins(), 0);
      } else {
         EXPECT_EQ(ctx->IsEnabled(), c.enabled);
      }
      Msgs got;
      for (const LogTestEntry &e : LogTestOutput_Entries(out)) {
         got.push_back(std::string(e.record.desc->name) + ": " + e.text);
      }
      EXPECT_EQ(got, c.messages);
      EXPECT_EQ(Filters(kNic), c.filters);
      if (ctx != nullptr && c.enabled) {
         EXPECT_EQ(ctx->GetNic(), kNic);
         EXPECT_EQ(CountPins(), 5);
         for (const char *name : kMapNames) {
            EXPECT_GE(ctx->GetMapFd(name), 3) << name;
         }
         EXPECT_TRUE(ctx->IsMapPinned());
         ctx.reset();
         EXPECT_EQ(Filters(kNic), "0 0");
         EXPECT_EQ(CountPins(), 0);
         EXPECT_NE(Sh("tc qdisc show dev fwd0").out.find("clsact"), std::string::npos);
      }
      ctx.reset();
      Log_Exit();
      Preference_Exit();
   }
}

sigjmp_buf gJumpPoint;

// After a successful BpfProxyInit, SIGTERM lands at the embedding
// component's jump point with value 1; there the component detaches.
// Without a point, SIGTERM ends the process as usual.
TEST_F(BpfProxyInitTest, SigtermJumpsToTheComponentsPoint)
{
   for (bool point : {true, false}) {
      SCOPED_TRACE(point);
      fwdtest::ChildResult r = fwdtest::RunInChild([point] {
         static BpfContext *ctx = nullptr;
         if (point) {
            int value = sigsetjmp(gJumpPoint, 1);
            if (value != 0) {
               delete ctx;
               _exit(40 + value);
            }
            BpfContext::SetTermJumpPoint(&gJumpPoint);
         }
         ctx = BpfProxyInit(FWD_TEST_PROXY_OBJ, "", kIpv4);
         if (ctx == nullptr) {
            _exit(3);
         }
         kill(getpid(), SIGTERM);
         _exit(4);
      });
      if (point) {
         EXPECT_EQ(r.status, 41) << r.err;
         EXPECT_EQ(Filters(kNic), "0 0");
         EXPECT_EQ(CountPins(), 0);
      } else {
         EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
         // Killed while attached: the next BpfProxyInit clears it up.
         EXPECT_EQ(Filters(kNic), "1 1");
         std::unique_ptr<BpfContext> ctx(BpfProxyInit(FWD_TEST_PROXY_OBJ, "", kIpv4));
         ASSERT_NE(ctx, nullptr);
      }
   }
}

} // namespace
