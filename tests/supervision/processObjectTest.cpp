// ProcessObject and RdeProcess with real children (sh -c scripts) whose
// output comes back through a real pipe.
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "supervision/processObject.h"
#include "supervision/rdeProcess.h"
#include "support/kernelFixture.h"
#include "supervisionFixture.h"

namespace {

using fwdtest::Pipe;
using fwdtest::ReadSome;
using fwdtest::WaitFor;
using Strings = std::vector<std::string>;

class ProcessObjectTest : public fwdtest::LogCaptureTest
{
 protected:
   /// Runs `script` in `proc` through sh -c with input mode `flag`.
   static bool Run(ProcessObject &proc, const std::string &script, Strings env = {}, int flag = 0)
   {
      Strings args = {"-c", script};
      return proc.start("sh", args, env, flag);
   }
   static bool Ended(const ProcessObject &proc)
   {
      return WaitFor([&] { return proc.getPid() == -1 && proc.getExitCode() != -1; });
   }
   Pipe mOut; // the children's standard output and error
};

double ProcessCpuSeconds()
{
   struct timespec ts;
   clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
   return ts.tv_sec + ts.tv_nsec / 1e9;
}

TEST_F(ProcessObjectTest, ExitCodes)
{
   struct Row
   {
      const char *script;
      int code;
      const char *line;
   };
   const std::vector<Row> rows = {
       {"exit 3", 3, "exited, status=3\n"},
       {"kill -KILL $$", 137, "killed by signal 9\n"},
   };
   for (const Row &row : rows) {
      ProcessObject proc("sh", 1, 0, -1);
      ASSERT_TRUE(Run(proc, row.script));
      ASSERT_TRUE(Ended(proc)) << row.script;
      EXPECT_EQ(row.code, proc.getExitCode()) << row.script;
      EXPECT_TRUE(Logged(row.line)) << row.script;
   }
   // The program itself missing: the child exits 255.
   ProcessObject missing("missing", 2, 0, -1);
   Strings none;
   ASSERT_TRUE(missing.start("/nonexistent/program", none, none, 0));
   ASSERT_TRUE(Ended(missing));
   EXPECT_EQ(255, missing.getExitCode());
}

/// Holds its monitor thread in onStarted until released, so the child,
/// even once killed, is not reaped and pid stays set.
class HeldMonitor : public ProcessObject
{
 public:
   HeldMonitor() : ProcessObject("held", 3, 0, -1) {}
   ~HeldMonitor() override
   {
      mRelease.set_value();
      finishSupervision();
   }
   void onStarted() override { mReleased.wait_for(std::chrono::seconds(20)); }

 private:
   std::promise<void> mRelease;
   std::shared_future<void> mReleased = mRelease.get_future().share();
};

TEST_F(ProcessObjectTest, StopEscalatesAndSleepsWhileWaiting)
{
   struct Row
   {
      bool holdMonitor;
      const char *script;
      int timeoutMs;
      bool movesForward;
   };
   const std::vector<Row> rows = {
       {false, "trap '' TERM; echo ready; exec sleep 30", 2000, false},
       {true, "exec sleep 30", 500, true},
   };
   for (const Row &row : rows) {
      std::unique_ptr<ProcessObject> proc =
          row.holdMonitor ? std::make_unique<HeldMonitor>()
                          : std::make_unique<ProcessObject>("sh", 4, 0, mOut.fd[1]);
      if (row.holdMonitor) {
         Strings args = {"-c", row.script};
         Strings env;
         ASSERT_TRUE(proc->start("sh", args, env, 0));
      } else {
         ASSERT_TRUE(Run(*proc, row.script));
         ASSERT_EQ("ready\n", ReadSome(mOut.fd[0], 6));
      }
      auto wall0 = std::chrono::steady_clock::now();
      double cpu0 = ProcessCpuSeconds();
      proc->stop(true, row.timeoutMs);
      double cpu = ProcessCpuSeconds() - cpu0;
      double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();

      EXPECT_GE(wall, row.timeoutMs / 1000.0) << "SIGKILL came before the time-out";
      EXPECT_LT(cpu, 0.1 * wall) << "stop burns the processor while it waits";
      EXPECT_TRUE(Logged("Stop timeout after " + std::to_string(row.timeoutMs) + ", force quit.\n"));
      EXPECT_EQ(row.movesForward,
                Logged("Move forward after force stop " + std::to_string(row.timeoutMs) + "\n"));
      if (!row.movesForward) {
         EXPECT_EQ(-1, proc->getPid());
         EXPECT_EQ(137, proc->getExitCode());
      }
   }
}

TEST_F(ProcessObjectTest, EnvironmentChangesReachTheChild)
{
   setenv("FWD_GONE", "still here", 1);
   setenv("FWD_KEPT", "kept", 1);
   ProcessObject proc("sh", 5, 0, mOut.fd[1]);
   ASSERT_TRUE(Run(proc, "echo \"${FWD_GONE-unset}|$FWD_KEPT|$FWD_NEW\"",
                   {"FWD_GONE", "FWD_NEW=a=b", "FWD_KEPT=replaced"}));
   EXPECT_EQ("unset|replaced|a=b\n", ReadSome(mOut.fd[0], 19));
   unsetenv("FWD_GONE");
   unsetenv("FWD_KEPT");
}

TEST_F(ProcessObjectTest, TokenArrivesOnStandardInput)
{
   RdeProcess proc("sh", 6, mOut.fd[1]);
   proc.setToken("t0k3n");
   ASSERT_TRUE(Run(proc, "echo \"got $(head -c 5)\"", {}, ProcessObject::kStdinPipe));
   EXPECT_EQ("got t0k3n\n", ReadSome(mOut.fd[0], 10));

   ProcessObject noInput("sh", 7, 0, -1);
   EXPECT_FALSE(noInput.sendMessage("x"));
   EXPECT_TRUE(Logged("Proc(sh), pid(-1), rid(7), flg(0): Can't get the stdin.\n"));
}

TEST_F(ProcessObjectTest, AutoRestartStartsTheChildAgain)
{
   RdeProcess proc("sh", 8, mOut.fd[1]);
   proc.setAutoRestart(true);
   ASSERT_TRUE(Run(proc, "echo run"));
   EXPECT_EQ("run\nrun\nrun\n", ReadSome(mOut.fd[0], 12));
   proc.setAutoRestart(false);
   EXPECT_TRUE(Logged("onExitCb Process sh will restart at onExitCb"));
}

/// An exit callback that is slow and uses the derived object's members.
class SlowExit : public RdeProcess
{
 public:
   explicit SlowExit(std::atomic<int> &finished) : RdeProcess("sh", 9, -1), mFinished(finished) {}
   ~SlowExit() override { finishSupervision(); }
   void onExitCb() override
   {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      mSeen.push_back(getExitCode());
      RdeProcess::onExitCb();
      mFinished++;
   }

 private:
   std::atomic<int> &mFinished;
   std::vector<int> mSeen;
};

TEST_F(ProcessObjectTest, DestructionWaitsForThePendingExitCallback)
{
   for (bool autoRestart : {false, true}) {
      std::atomic<int> finished{0};
      auto proc = std::make_unique<SlowExit>(finished);
      proc->setAutoRestart(autoRestart);
      ASSERT_TRUE(Run(*proc, "exit 0"));
      ASSERT_TRUE(WaitFor([&] { return proc->getExitCode() == 0; }));
      proc.reset(); // the callback is still sleeping
      EXPECT_GE(finished.load(), 1) << "destroyed under a running callback";
   }
   // "ZIVAdudaz" makes RdeProcess's own onExitCb slow (it runs the unmount
   // through a shell) before it takes RdeProcess's lock; destroyed without
   // the wait, ASan reports that lock used after free. Private namespaces:
   // the unmount must not reach the host's mounts.
   ASSERT_EQ("", fwdtest::EnterPrivateNamespaces());
   setenv("HOME", "/nonexistent", 1);
   for (int i = 0; i < 5; i++) {
      auto proc = std::make_unique<RdeProcess>("ZIVAdudaz", 10, -1);
      proc->setAutoRestart(true);
      ASSERT_TRUE(Run(*proc, "exit 0"));
      WaitFor([&] { return proc->getExitCode() == 0; });
   }
   EXPECT_TRUE(Logged("Command fusermount -u -z ~/tsclient executed"));
}

} // namespace
