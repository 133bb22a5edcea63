// The reference agent as a user runs it: fwd_agent attaching the test proxy
// to lo, supervising fwd_worker and registering its port, through worker
// kills, SIGTERM and a panic. Private namespaces; /etc and /var are
// overlays there, and the log goes to a temporary directory.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/kernelFixture.h"
#include "support/textFiles.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kRegistered[] = "fwd_agent: worker port 8080 registered in worker_port_map: ok\n";

// "" when every piece is found in `text`, each after the one before;
// otherwise the first missing piece and the text.
std::string InOrder(const std::string &text, const std::vector<std::string> &pieces)
{
   size_t at = 0;
   for (const std::string &piece : pieces) {
      at = text.find(piece, at);
      if (at == std::string::npos) {
         return "missing in order: " + piece + "\nin:\n" + text;
      }
      at += piece.size();
   }
   return "";
}

// What TCP port 8080 on 127.0.0.1 sends back for "ping\n" (bash's /dev/tcp).
std::string Echo()
{
   return fwdtest::RunProcess({"/bin/bash", "-c",
                               "exec 3<>/dev/tcp/127.0.0.1/8080 && echo ping >&3 && "
                               "timeout 30 head -n 1 <&3"})
       .out;
}

bool Alive(pid_t pid)
{
   std::string stat = fwdtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
   size_t paren = stat.rfind(')');
   return paren != std::string::npos && stat.size() > paren + 2 && stat[paren + 2] != 'Z';
}

// The number after "<key>:" in /proc/<pid>/status.
long StatusField(pid_t pid, const std::string &key)
{
   std::string status = fwdtest::ReadFile("/proc/" + std::to_string(pid) + "/status");
   size_t at = status.find("\n" + key + ":");
   return at == std::string::npos ? -1 : atol(status.c_str() + at + key.size() + 2);
}

// "<descriptor> <target>" for each open descriptor of `pid`.
std::vector<std::string> FdTargets(pid_t pid)
{
   std::vector<std::string> targets;
   std::error_code ec;
   for (const auto &e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      targets.push_back(e.path().filename().string() + " " +
                        fs::read_symlink(e.path(), ec).string());
   }
   return targets;
}

class FwdAgentTest : public fwdtest::TestProxyTest
{
 protected:
   void SetUp() override
   {
      TestProxyTest::SetUp();
      if (IsSkipped() || HasFatalFailure()) {
         return;
      }
      std::string why = fwdtest::OverlaySystemDirs();
      if (!why.empty()) {
         FWD_SKIP_OR_FAIL(why);
      }
      fwdtest::WriteFile("/etc/keltria/config", "fwd_agent.log.filename = \"" + mLogPath + "\"\n");
   }

   void TearDown() override { fwdtest::StopProcess(mAgent, SIGKILL); }

   // Starts the agent with `extra` after its arguments.
   void StartAgent(const std::vector<std::string> &extra = {})
   {
      std::vector<std::string> argv = {FWD_AGENT_PATH, FWD_TEST_PROXY_OBJ, "127.0.0.1", "8080"};
      argv.insert(argv.end(), extra.begin(), extra.end());
      mAgent = fwdtest::StartProcess(argv, mOutPath);
      ASSERT_GT(mAgent, 0);
   }

   std::string Log() const { return fwdtest::ReadFile(mLogPath); }
   // Waits for registration number `n`; false (with the log shown) if it
   // never comes or the agent ends.
   bool AwaitRegistration(size_t n)
   {
      const std::vector<std::string> all(n, kRegistered);
      fwdtest::WaitFor([&] { return InOrder(Log(), all).empty() || !Alive(mAgent); });
      const std::string missing = InOrder(Log(), all);
      EXPECT_EQ(missing, "") << "registration " << n << "\n" << Output();
      return missing.empty();
   }

   // The pid the newest worker reported, or with `started` the newest
   // worker that the agent started first.
   pid_t WorkerPid(bool started = false) const
   {
      const std::string log = Log(), key = started ? "fwd_worker started, pid " : "\"pid\": ";
      const size_t at = log.rfind(key);
      return at == std::string::npos ? -1 : atoi(log.c_str() + at + key.size());
   }

   // Kills the worker with SIGKILL; returns the microseconds until
   // registration number `n`, or -1 when it never came.
   long KillWorker(size_t n)
   {
      pid_t worker = WorkerPid();
      auto start = Clock::now();
      EXPECT_EQ(kill(worker, SIGKILL), 0);
      bool again = AwaitRegistration(n);
      EXPECT_NE(WorkerPid(), worker);
      using std::chrono::microseconds;
      return again ? std::chrono::duration_cast<microseconds>(Clock::now() - start).count() : -1;
   }

   // Stops the agent with SIGTERM; its exit status.
   int Terminate() { return fwdtest::StopProcess(std::exchange(mAgent, -1), SIGTERM); }

   // What the agent printed, sanitizer reports included.
   std::string Output() const { return fwdtest::ReadFile(mOutPath); }

   fwdtest::TempDir mDir;
   const std::string mLogPath = mDir.path() + "/fwd_agent.log";
   const std::string mOutPath = mDir.path() + "/fwd_agent.out";
   pid_t mAgent = -1;
};

// Start, message, registration and echo; a killed worker is restarted,
// registered and echoes again; SIGTERM stops everything and detaches the
// proxy, leaving no pin (what else detaching removes is the proxy test's).
TEST_F(FwdAgentTest, WholeLife)
{
   ASSERT_NO_FATAL_FAILURE(StartAgent());
   ASSERT_TRUE(AwaitRegistration(1));
   const std::string log = Log();
   ASSERT_EQ(InOrder(log, {"Log for Forwarding proxy example agent pid=" + std::to_string(mAgent) +
                               " version=1.0.0 build=1 option=example\n",
                           "fwd_agent: desktop identity for :0 written to "
                           "/var/keltria/plx_desktop/plx_desktopid.0\n",
                           "fwd_agent: proxy attached to lo (egress and ingress)\n",
                           "fwd_agent: worker fwd_worker started, pid ",
                           "fwd_agent: worker message: {\"port\": 8080, \"pid\": ", kRegistered}),
             "");
   const std::string serving =
       "[Child Process]: fwd_worker: serving 127.0.0.1 port 8080 (tcp and udp)";
   EXPECT_TRUE(fwdtest::WaitFor([&] { return InOrder(Log(), {serving}).empty(); })) << Log();
   EXPECT_NE(log.find("\"password\":***}\n"), std::string::npos) << log;
   EXPECT_EQ(log.find("\"password\": \""), std::string::npos) << log;
   EXPECT_EQ(Echo(), "ping\n");
   // The echo's packets reach the counter line, every counter and the reply's error by name.
   const std::regex counted(
       "since the last line: [1-9]\\d* bytes in, [1-9]\\d* bytes out "
       "\\(worker port [1-9]\\d* in, [1-9]\\d* out\\); errors: lookup label [1-9]");
   EXPECT_TRUE(fwdtest::WaitFor([&] { return std::regex_search(Log(), counted); })) << Log();
   EXPECT_NE(fwdtest::Fwdmaps({"worker_port_map"}).out.find("8080"), std::string::npos);

   // Beyond its streams and the message pipe, the worker holds its two
   // sockets and what this test passed down: nothing of the agent's (log
   // file, maps, other pipes) leaks into it.
   pid_t first = WorkerPid();
   const std::vector<std::string> outside = FdTargets(getpid());
   std::vector<std::string> own;
   for (const std::string &fd : FdTargets(first)) {
      if (atoi(fd.c_str()) > 3 && std::count(outside.begin(), outside.end(), fd) == 0) {
         own.push_back(fd.find(" socket:") != std::string::npos ? "socket" : fd);
      }
   }
   EXPECT_EQ(own, (std::vector<std::string>{"socket", "socket"}));

   long took = KillWorker(2);
   EXPECT_TRUE(took >= 0 && took < 2000000) << took;
   EXPECT_EQ(InOrder(Log(), {"killed by signal 9\n", "fwd_agent: worker exited (exit code 137)\n",
                             "fwd_agent: worker port 8080 removed from worker_port_map: ok\n",
                             kRegistered}),
             "");
   EXPECT_EQ(Echo(), "ping\n");
   pid_t second = WorkerPid();

   EXPECT_EQ(Terminate(), 0) << Output();
   EXPECT_EQ(InOrder(Log(), {"fwd_agent: SIGTERM: stopping\n", "fwd_agent: executor stopped\n",
                             "fwd_agent: worker stopped (exit code 143)\n",
                             "fwd_agent: proxy detached from lo\n", "fwd_agent: exiting\n"}),
             "");
   EXPECT_EQ(Log().find("need not stop"), std::string::npos); // stopped once, not twice
   EXPECT_FALSE(Alive(first) || Alive(second));
   EXPECT_EQ(fwdtest::DirEntries("/sys/fs/bpf/tc/globals"), std::vector<std::string>());
   EXPECT_EQ(Output().find("Sanitizer"), std::string::npos) << Output();
}

// 50 kills of the worker: each is followed by a new registration, and the
// agent's descriptors, threads and memory after the last equal those after
// the first, within a few threads still ending and 4 MiB of RSS.
TEST_F(FwdAgentTest, FiftyWorkerKillsLeakNothing)
{
   ASSERT_NO_FATAL_FAILURE(StartAgent());
   ASSERT_TRUE(AwaitRegistration(1));
   std::vector<long> micros = {KillWorker(2)};
   ASSERT_GE(micros[0], 0);
   const size_t fds = FdTargets(mAgent).size();
   const long threads = StatusField(mAgent, "Threads"), rss = StatusField(mAgent, "VmRSS");
   for (size_t n = 3; n <= 51; n++) {
      micros.push_back(KillWorker(n));
      ASSERT_GE(micros.back(), 0) << "registration " << n;
   }
   EXPECT_EQ(FdTargets(mAgent).size(), fds);
   EXPECT_LE(StatusField(mAgent, "Threads"), threads + 2);
   EXPECT_LE(StatusField(mAgent, "VmRSS"), rss + 4096);
   std::sort(micros.begin(), micros.end());
   std::cout << "restart latency over 50 kills: median " << micros[25] / 1000.0 << " ms, max "
             << micros.back() / 1000.0 << " ms\n";
   EXPECT_EQ(Terminate(), 0) << Output();
}

// A VERIFY failing on the executor's thread ends the agent through the
// panic path: status 255, the log with PANIC and the backtrace. The worker
// ends with it. Core files are the core dump tests' concern: none here.
TEST_F(FwdAgentTest, FailedVerifyPanicsAndTheWorkerEnds)
{
   const struct rlimit noCore = {0, 0};
   ASSERT_EQ(setrlimit(RLIMIT_CORE, &noCore), 0);
   ASSERT_NO_FATAL_FAILURE(StartAgent({"--fail-verify"}));
   // Signal 0: the agent ends by itself.
   EXPECT_EQ(fwdtest::StopProcess(std::exchange(mAgent, -1), 0), 255) << Output();
   EXPECT_EQ(InOrder(Log(), {"PANIC: VERIFY fwd/examples/fwdAgent:", "Backtrace[0] "}), "");
   pid_t worker = WorkerPid(true);
   ASSERT_GT(worker, 0) << Log();
   EXPECT_TRUE(fwdtest::WaitFor([&] { return !Alive(worker); }))
       << "worker " << worker << " outlived it";
}

} // namespace
