// ProcessObject and RdeProcess with real children (sh -c scripts) whose
// output comes back through a real pipe.
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "supervision/processObject.h"
#include "supervision/rdeProcess.h"
#include "supervision/supervised.h"
#include "supervisionFixture.h"
#include "support/kernelFixture.h"
#include "support/tempDir.h"

namespace {

using fwdtest::Pipe;
using fwdtest::ReadSome;
using fwdtest::WaitFor;
using Strings = std::vector<std::string>;

class ProcessObjectTest : public fwdtest::SupervisionTest
{
 protected:
   /// Runs `script` in `proc` through sh -c with input mode `flag`.
   static bool Run(ProcessObject &proc, const std::string &script, Strings env = {}, int flag = 0)
   {
      Strings args = {"-c", script};
      return proc.start("sh", args, env, flag);
   }
   Pipe mOut; // the children's standard output and error
};

TEST_F(ProcessObjectTest, ExitCodesEnvironmentTokenAndRestart)
{
   // A program (a script without "#!") found only through the PATH the
   // changes give.
   fwdtest::TempDir bin;
   std::ofstream(bin.path() + "/fwdOnlyHere") << "exit 7\n";
   ASSERT_EQ(0, chmod((bin.path() + "/fwdOnlyHere").c_str(), 0755));
   // {program, script, environment changes, exit code}: a missing program
   // makes the child exit 255.
   const struct
   {
      const char *path, *script;
      Strings env;
      int code;
   } rows[] = {{"sh", "exit 3", {}, 3},
               {"/nonexistent", "", {}, 255},
               {"fwdOnlyHere", "", {"PATH=/nonexistent:" + bin.path()}, 7},
               {"fwdOnlyHere", "", {}, 255}};
   for (const auto &row : rows) {
      Supervised<ProcessObject> proc("sh", 1, 0, -1);
      Strings args = {"-c", row.script}, env = row.env;
      ASSERT_TRUE(proc.start(row.path, args, env, 0));
      ASSERT_TRUE(WaitFor([&] { return proc.getPid() == -1 && proc.getExitCode() != -1; }));
      EXPECT_EQ(row.code, proc.getExitCode()) << row.script;
   }
   EXPECT_TRUE(mLog.Logged("exited, status=3\n"));

   setenv("FWD_GONE", "still here", 1);
   setenv("FWD_KEPT", "kept", 1);
   Supervised<ProcessObject> proc("sh", 5, 0, mOut.fd[1]);
   // The changes apply after the hook: they win over it, and what it sets
   // alone reaches the program.
   proc.setChildHook([] {
      setenv("FWD_KEPT", "hook", 1);
      setenv("FWD_HOOKED", "hooked", 1);
   });
   ASSERT_TRUE(Run(proc, "echo \"${FWD_GONE-unset}|$FWD_KEPT|$FWD_NEW|$FWD_HOOKED\"",
                   {"FWD_GONE", "FWD_NEW=a=b", "FWD_KEPT=replaced"}));
   EXPECT_EQ("unset|replaced|a=b|hooked\n", ReadSome(mOut.fd[0], 26));
   EXPECT_FALSE(proc.sendMessage("x")) << "no input pipe was asked for";
   EXPECT_TRUE(mLog.Logged("rid(5), flg(0): Can't get the stdin.\n"));

   Supervised<RdeProcess> rde("sh", 6, mOut.fd[1]);
   rde.setToken("t0k3n");
   ASSERT_TRUE(Run(rde, "echo \"got $(head -c 5)\"", {}, ProcessObject::kStdinPipe));
   EXPECT_EQ("got t0k3n\n", ReadSome(mOut.fd[0], 10));

   // Restarted children write to the object's own copy of the output
   // descriptor, which the caller closed at once.
   Pipe out;
   Supervised<RdeProcess> again("sh", 8, out.fd[1]);
   close(out.release(1));
   again.setAutoRestart(true);
   ASSERT_TRUE(Run(again, "echo run"));
   EXPECT_EQ("run\nrun\nrun\n", ReadSome(out.fd[0], 12));
}

/// With `hold`, keeps its monitor thread in onStarted until released, so
/// the child, even once killed, is not reaped and pid stays set.
class HeldMonitor : public ProcessObject
{
 public:
   HeldMonitor(int outFd, bool hold) : ProcessObject("sh", 3, 0, outFd), mHold(hold) {}
   void release() { mRelease.set_value(); }
   void onStarted() override
   {
      if (mHold) {
         mReleased.wait_for(std::chrono::seconds(20));
      }
   }

 private:
   const bool mHold;
   std::promise<void> mRelease;
   std::shared_future<void> mReleased = mRelease.get_future().share();
};

TEST_F(ProcessObjectTest, StopEscalatesAndSleepsWhileWaiting)
{
   const struct
   {
      bool holdMonitor;
      int timeoutMs;
   } rows[] = {{false, 2000}, {true, 500}};
   for (const auto &row : rows) {
      Supervised<HeldMonitor> proc(mOut.fd[1], row.holdMonitor);
      ASSERT_TRUE(Run(proc, "trap '' TERM; echo ready; exec sleep 30"));
      ASSERT_EQ("ready\n", ReadSome(mOut.fd[0], 6));
      auto wall0 = std::chrono::steady_clock::now();
      std::clock_t cpu0 = std::clock(); // the process's processor time
      proc.stop(true, row.timeoutMs);
      double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
      double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();

      const std::string ms = std::to_string(row.timeoutMs);
      EXPECT_GE(wall, row.timeoutMs / 1000.0) << "SIGKILL came before the time-out";
      EXPECT_LT(cpu, 0.1 * wall) << "stop burns the processor while it waits";
      EXPECT_TRUE(mLog.Logged("Stop timeout after " + ms + ", force quit.\n"));
      EXPECT_EQ(row.holdMonitor, mLog.Logged("Move forward after force stop " + ms + "\n"));
      EXPECT_EQ(row.holdMonitor ? -1 : 137, proc.getExitCode());
      proc.release();
   }
}

/// An exit callback that is slow, then runs RdeProcess's own and uses this
/// object's members. "ZIVAdudaz" makes RdeProcess's callback unmount through
/// a shell before it takes RdeProcess's lock and restarts the child. An
/// object destroyed without waiting leaves the count short, and the
/// sanitizers report its members used after destruction.
class SlowExit : public RdeProcess
{
 public:
   explicit SlowExit(std::atomic<int> &finished)
       : RdeProcess("ZIVAdudaz", 9, -1), mFinished(finished)
   {
   }
   void onExitCb() override
   {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      RdeProcess::onExitCb();
      mSeen.push_back(getExitCode());
      mFinished++;
   }

 private:
   std::atomic<int> &mFinished;
   std::vector<int> mSeen;
};

TEST_F(ProcessObjectTest, DestructionWaitsForThePendingExitCallback)
{
   // Private namespaces: the unmount must not reach the host's mounts.
   const std::string why = fwdtest::EnterPrivateNamespaces();
   if (!why.empty()) {
      FWD_SKIP_OR_FAIL("no private namespaces for the unmount: " + why);
   }
   setenv("HOME", "/nonexistent", 1);
   std::atomic<int> finished{0};
   auto slow = std::make_unique<Supervised<SlowExit>>(finished);
   slow->setAutoRestart(true);
   ASSERT_TRUE(Run(*slow, "exit 0"));
   ASSERT_TRUE(WaitFor([&] { return slow->getExitCode() == 0; }));
   // The callback is still sleeping; its restart is refused once
   // destruction began.
   slow.reset();
   EXPECT_GE(finished.load(), 1) << "destroyed under a running callback";
   EXPECT_TRUE(mLog.Logged("Command fusermount -u -z ~/tsclient executed"));
}

} // namespace
