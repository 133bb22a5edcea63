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

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bpfproxy/bpfContext.h"
#include "common/commonUtils.h"
#include "lib/config/preference.h"
#include "support/logTestOutput.h"
#include "lib/sig/sig.h"
#include "support/kernelFixture.h"

namespace {

const char *const kMapNames[] = {"label_port_map", "worker_port_map", "bpf_fwd_stats",
                                 "bpf_fwd_err", "bpf_fwd_err_log"};

const char kNic[] = "fwd0";
const char kPeerNic[] = "fwd0p";
const char kIpv4[] = "10.77.0.1";
const char kPeerIpv4[] = "10.77.0.2";
const char kIpv6[] = "fd77::1";
const char kPeerIpv6[] = "fd77::2";

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

// tc's view of one direction, asked without a shell so any name works.
std::string TcFilters(const std::string &nic, const char *direction)
{
   return RunCmd({"tc", "filter", "show", "dev", nic, direction}).out;
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

// Sums the per-CPU counters of each label in fwdmaps' statistics listing.
std::map<std::string, uint64_t> ParseStats(const std::string &text)
{
   std::map<std::string, uint64_t> sums;
   std::istringstream in(text);
   std::string line, label;
   while (std::getline(in, line)) {
      if (!line.empty() && line[0] != '\t') {
         label = line.substr(0, line.find(':'));
         sums[label] = 0;
      } else {
         size_t colon = line.rfind(": ");
         if (colon != std::string::npos) {
            sums[label] += std::stoull(line.substr(colon + 2));
         }
      }
   }
   return sums;
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
      ASSERT_NO_FATAL_FAILURE(AddVeth(kNic, kPeerNic, kIpv4, kPeerIpv4, kIpv6, kPeerIpv6));
   }

   void TearDown() override
   {
      for (const std::string &nic : mNics) {
         RunCmd({"ip", "link", "del", nic});
      }
      if (mPeer > 0) {
         kill(mPeer, SIGKILL);
         waitpid(mPeer, nullptr, 0);
      }
      Sig_Exit();
   }

   // A child that owns the peer's network namespace until it is killed.
   void StartPeer()
   {
      int ready[2];
      ASSERT_EQ(pipe(ready), 0);
      mPeer = fork();
      ASSERT_GE(mPeer, 0);
      if (mPeer == 0) {
         char ok = unshare(CLONE_NEWNET) == 0 ? 1 : 0;
         if (write(ready[1], &ok, 1) != 1 || !ok) {
            _exit(1);
         }
         for (;;) {
            pause();
         }
      }
      close(ready[1]);
      char ok = 0;
      ASSERT_EQ(read(ready[0], &ok, 1), 1);
      close(ready[0]);
      if (!ok) {
         FWD_SKIP_OR_FAIL("cannot create the peer's network namespace");
      }
   }

   void AddVeth(const std::string &nic, const std::string &peerNic, const std::string &v4,
                const std::string &peerV4, const std::string &v6, const std::string &peerV6)
   {
      auto r = RunCmd({"ip", "link", "add", nic, "type", "veth", "peer", "name", peerNic});
      if (r.status != 0) {
         FWD_SKIP_OR_FAIL("veth unavailable: " + r.err);
      }
      mNics.push_back(nic);
      const std::string peer = std::to_string(mPeer);
      const std::vector<std::vector<std::string>> steps = {
          {"ip", "link", "set", peerNic, "netns", peer},
          {"ip", "addr", "add", v4 + "/24", "dev", nic},
          {"ip", "-6", "addr", "add", v6 + "/64", "dev", nic, "nodad"},
          {"ip", "link", "set", nic, "up"},
          {"nsenter", "-t", peer, "-n", "ip", "addr", "add", peerV4 + "/24", "dev", peerNic},
          {"nsenter", "-t", peer, "-n", "ip", "-6", "addr", "add", peerV6 + "/64", "dev", peerNic,
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

// Attaching by either address family, with or without a discipline already
// in place and over what a crashed earlier run left, ends in exactly one
// filter per direction and five pins; destroying the context removes the
// filters and the pins and keeps the discipline.
TEST_F(BpfProxyInitTest, AttachesAndDetachesOnTheInterfaceOfTheAddress)
{
   struct Case
   {
      const char *what;
      std::string ipv6, ipv4;
      std::string before;
   } cases[] = {
       {"ipv4", "", kIpv4, ""},
       {"ipv6", kIpv6, "", ""},
       {"existing clsact", "", kIpv4, "tc qdisc add dev fwd0 clsact"},
       {"leftovers of an earlier run", kIpv6, "",
        std::string("tc qdisc add dev fwd0 clsact && tc filter add dev fwd0 egress bpf da obj ") +
            FWD_TEST_PROXY_OBJ + " sec egress && tc filter add dev fwd0 ingress bpf da obj " +
            FWD_TEST_PROXY_OBJ + " sec ingress"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      Sh("tc qdisc del dev fwd0 clsact");
      if (!c.before.empty()) {
         auto r = Sh(c.before);
         ASSERT_EQ(r.status, 0) << r.err;
      }
      std::unique_ptr<BpfContext> ctx(BpfProxyInit(FWD_TEST_PROXY_OBJ, c.ipv6, c.ipv4));
      ASSERT_NE(ctx, nullptr);
      EXPECT_EQ(ctx->GetNic(), kNic);
      EXPECT_TRUE(ctx->IsEnabled());
      for (const char *dir : {"egress", "ingress"}) {
         std::string shown = TcFilters(kNic, dir);
         std::string section = std::string("fwdTestProxy.bpf.o:[") + dir + "] direct-action";
         size_t at = shown.find(section);
         EXPECT_NE(at, std::string::npos) << shown;
         EXPECT_EQ(shown.find(section, at + 1), std::string::npos) << "attached twice: " << shown;
      }
      EXPECT_EQ(CountPins(), 5);
      for (const char *name : kMapNames) {
         EXPECT_GE(ctx->GetMapFd(name), 3) << name;
      }
      EXPECT_TRUE(ctx->IsMapPinned());

      ctx.reset();
      EXPECT_EQ(TcFilters(kNic, "egress"), "");
      EXPECT_EQ(TcFilters(kNic, "ingress"), "");
      EXPECT_EQ(CountPins(), 0);
      EXPECT_NE(Sh("tc qdisc show dev fwd0").out.find("clsact"), std::string::npos);
   }
}

// Real traffic through the veth moves the counters and writes error
// records; ports registered through the context change what the program
// does; fwdmaps shows all of it and consumes the error log.
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

   auto list = fwdtest::Fwdmaps({});
   EXPECT_EQ(list.status, 0);
   for (const char *name : kMapNames) {
      EXPECT_NE(list.out.find(name), std::string::npos) << list.out;
   }

   auto stats = fwdtest::Fwdmaps({"bpf_fwd_stats"});
   ASSERT_EQ(stats.status, 0) << stats.err;
   auto sums = ParseStats(stats.out);
   EXPECT_GE(sums["rx end bytes"], 1000u) << stats.out;
   EXPECT_GT(sums["rx bytes"], sums["rx end bytes"]) << stats.out;
   EXPECT_GT(sums["tx end bytes"], 0u) << stats.out; // the worker's handshake replies
   EXPECT_GT(sums["tx bytes"], sums["tx end bytes"]) << stats.out;

   auto errs = fwdtest::Fwdmaps({"bpf_fwd_err"});
   ASSERT_EQ(errs.status, 0);
   EXPECT_NE(errs.out.find("error key: lookup label val: 3\n"), std::string::npos) << errs.out;
   EXPECT_NE(errs.out.find("error key: get label val: 0\n"), std::string::npos) << errs.out;

   auto workers = fwdtest::Fwdmaps({"worker_port_map"});
   EXPECT_EQ(workers.out, "worker bind port: 8080\n");
   auto labels = fwdtest::Fwdmaps({"label_port_map"});
   EXPECT_EQ(labels.out, "label :0x270e\tport : 443\n");

   auto log = fwdtest::Fwdmaps({"bpf_fwd_err_log"});
   ASSERT_EQ(log.status, 0) << log.err;
   auto lines = fwdtest::SortedLines(log.out);
   ASSERT_EQ(lines.size(), 3u) << log.out;
   int v4Udp = 0, v4Tcp = 0, v6 = 0;
   for (const std::string &l : lines) {
      v4Udp += l.find("sip: 10.77.0.2 dip: 10.77.0.1 err: 2 l4proto: 17 ") != std::string::npos &&
               l.find(" dport: 9999") != std::string::npos;
      v4Tcp += l.find("sip: 10.77.0.2 dip: 10.77.0.1 err: 2 l4proto: 6 ") != std::string::npos &&
               l.find(" dport: 7000") != std::string::npos;
      v6 += l.find("fd77::2") != std::string::npos;
   }
   EXPECT_EQ(v4Udp, 1) << log.out;
   EXPECT_EQ(v4Tcp, 1) << log.out;
   EXPECT_EQ(v6, 1) << log.out;
   // Printing consumed the records.
   EXPECT_EQ(fwdtest::Fwdmaps({"bpf_fwd_err_log"}).out, "");

   // Registering the port afterwards: the program stops logging it.
   ASSERT_EQ(ctx->AddWorkerPort(htons(9999)), 0);
   ASSERT_EQ(PeerSend(SOCK_DGRAM, kIpv4, 9999, "now a worker"), 0);
   EXPECT_EQ(fwdtest::Fwdmaps({"bpf_fwd_err_log"}).out, "");
   EXPECT_NE(fwdtest::Fwdmaps({"bpf_fwd_err"}).out.find("lookup label val: 3\n"),
             std::string::npos);
   EXPECT_EQ(ctx->RemoveWorkerPort(htons(9999)), 0);
   ASSERT_EQ(PeerSend(SOCK_DGRAM, kIpv4, 9999, "unknown again"), 0);
   EXPECT_EQ(fwdtest::SortedLines(fwdtest::Fwdmaps({"bpf_fwd_err_log"}).out).size(), 1u);
}

// Names and paths with shell syntax reach tc as single words: nothing they
// hold is run, and the attachment works on the oddly named interface.
TEST_F(BpfProxyInitTest, ShellSyntaxInNamesIsNeverRun)
{
   const std::string nic = "v;echo>pwn";
   ASSERT_NO_FATAL_FAILURE(AddVeth(nic, "vq", "10.78.0.1", "10.78.0.2", "fd78::1", "fd78::2"));
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
   EXPECT_NE(TcFilters(nic, "egress").find("[egress] direct-action"), std::string::npos);
   EXPECT_NE(TcFilters(nic, "ingress").find("[ingress] direct-action"), std::string::npos);
   ctx.reset();
   EXPECT_EQ(TcFilters(nic, "egress"), "");
   EXPECT_EQ(TcFilters(nic, "ingress"), "");
   EXPECT_EQ(CountPins(), 0);

   EXPECT_FALSE(Exists(dir.path() + "/pwn"));
   EXPECT_FALSE(Exists(dir.path() + "/pwn2.o"));
   ASSERT_EQ(chdir(cwd), 0);
}

// With egress attachment failing, LoadBpfProg stops there: the discipline
// stays and ingress is never tried.
TEST_F(BpfProxyInitTest, LoadStopsAtTheFirstFailingLine)
{
   BpfContext ctx(kIpv4);
   ASSERT_EQ(ctx.GetNic(), kNic);
   EXPECT_EQ(ctx.LoadBpfProg("/nonexistent/proxy.o"), -1);
   EXPECT_NE(Sh("tc qdisc show dev fwd0").out.find("clsact"), std::string::npos);
   EXPECT_EQ(TcFilters(kNic, "egress"), "");
   EXPECT_EQ(TcFilters(kNic, "ingress"), "");

   // Pins outlive the discipline they came with; a removal whose egress
   // line fails (no discipline at all) must keep them.
   ASSERT_EQ(Sh(std::string("tc filter add dev fwd0 ingress bpf da obj ") + FWD_TEST_PROXY_OBJ +
                " sec ingress && tc qdisc del dev fwd0 clsact")
                 .status,
             0);
   EXPECT_EQ(CountPins(), 5);
   ctx.RemoveBpfProg();
   EXPECT_EQ(CountPins(), 5);
}

// What BpfProxyInit logs, in order and with its levels, along each path;
// a failure leaves neither filters nor pins, and no context. With
// BpfProxy.Enabled false it still clears up first, attaches nothing, and
// succeeds only when pins are left to open.
TEST_F(BpfProxyInitTest, LogsEachPathInOrder)
{
   using Msgs = std::vector<std::string>;
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
      Msgs messages; // each prefixed with its level name
      int filters;   // filters per direction afterwards, before any delete
   } cases[] = {
       {"both addresses", true, "", FWD_TEST_PROXY_OBJ, kIpv6, kIpv4, false,
        Msgs{"error: ipv6 and ipv4 address are of the same emptiness\n"}, 0},
       {"no address", true, "", FWD_TEST_PROXY_OBJ, "", "", false,
        Msgs{"error: ipv6 and ipv4 address are of the same emptiness\n"}, 0},
       {"no interface carries the address", true, "", FWD_TEST_PROXY_OBJ, "", "10.99.99.99", false,
        Msgs{"error: BpfContext getNicFromIp err. ip 10.99.99.99\n",
             "error: remove bpf prog egress failed\n", "error: BpfProxy mNic shall not be empty\n",
             "error: load Bpf prog failed\n", "error: remove bpf prog egress failed\n"},
        0},
       {"attached", true, "", FWD_TEST_PROXY_OBJ, "", kIpv4, true,
        Msgs{"info: BpfContext getNicFromIp nic fwd0\n", "error: remove bpf prog egress failed\n",
             "info: BpfProxyInit load Bpf prog ok\n"},
        1},
       {"attach egress fails", true, "", "/nonexistent/proxy.o", "", kIpv4, false,
        Msgs{"info: BpfContext getNicFromIp nic fwd0\n", "error: remove bpf prog egress failed\n",
             "error: load Bpf prog failed\n"},
        0},
       {"disabled, nothing pinned", false, "", FWD_TEST_PROXY_OBJ, "", kIpv4, false,
        Msgs{"info: BpfContext getNicFromIp nic fwd0\n", "error: remove bpf prog egress failed\n",
             "info: BpfProxy is disabled\n", "info: BpfProxyInit load Bpf prog ok\n",
             "error: remove bpf prog egress failed\n", "error: open Bpf map failed\n"},
        0},
       {"disabled, an earlier run attached", false, attach, FWD_TEST_PROXY_OBJ, "", kIpv4, false,
        Msgs{"info: BpfContext getNicFromIp nic fwd0\n", "info: BpfProxy is disabled\n",
             "info: BpfProxyInit load Bpf prog ok\n", "error: open Bpf map failed\n"},
        0},
       {"disabled, pins left without filters", false, attach + " && tc qdisc del dev fwd0 clsact",
        FWD_TEST_PROXY_OBJ, "", kIpv4, true,
        Msgs{"info: BpfContext getNicFromIp nic fwd0\n", "error: remove bpf prog egress failed\n",
             "info: BpfProxy is disabled\n", "info: BpfProxyInit load Bpf prog ok\n"},
        0},
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
      }
      if (ctx != nullptr) {
         EXPECT_EQ(ctx->IsEnabled(), c.enabled);
      }
      Msgs got;
      for (const LogTestEntry &e : LogTestOutput_Entries(out)) {
         got.push_back(std::string(e.record.desc->name) + ": " + e.text);
      }
      EXPECT_EQ(got, c.messages);
      int egress = TcFilters(kNic, "egress").empty() ? 0 : 1;
      int ingress = TcFilters(kNic, "ingress").empty() ? 0 : 1;
      EXPECT_EQ(egress, c.filters);
      EXPECT_EQ(ingress, c.filters);
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
   struct Case
   {
      bool point;
   } cases[] = {{true}, {false}};
   for (const Case &c : cases) {
      SCOPED_TRACE(c.point);
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
         static BpfContext *ctx = nullptr;
         if (c.point) {
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
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      if (c.point) {
         ASSERT_TRUE(WIFEXITED(status)) << status;
         EXPECT_EQ(WEXITSTATUS(status), 41);
         EXPECT_EQ(TcFilters(kNic, "egress"), "");
         EXPECT_EQ(CountPins(), 0);
      } else {
         ASSERT_TRUE(WIFSIGNALED(status)) << status;
         EXPECT_EQ(WTERMSIG(status), SIGTERM);
         // Killed while attached: the next BpfProxyInit clears it up.
         EXPECT_NE(TcFilters(kNic, "egress"), "");
         std::unique_ptr<BpfContext> ctx(BpfProxyInit(FWD_TEST_PROXY_OBJ, "", kIpv4));
         ASSERT_NE(ctx, nullptr);
      }
   }
}

} // namespace
