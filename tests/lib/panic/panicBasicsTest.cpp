// The panic path as seen from outside: what reaches standard error, the log
// and the user, and how the process ends. Each panic runs in a child.
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>

#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "lib/config/preference.h"
#include "lib/log/logConfig.h"
#include "lib/misc/productState.h"
#include "lib/misc/threadState.h"
#include "lib/panic/panic.h"
#include "lib/user/msg.h"
#include "support/childProcess.h"
#include "support/logTestOutput.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

using fwdtest::ChildResult;
using fwdtest::RunInChild;

#define PANIC_SOURCE "vela/lib/config/configUL"

namespace {

// The post as the console shows it, after the panic message itself.
std::string Post(const std::string &text)
{
   return "\nKeltria Pellory Error:\nKeltria Pellory unrecoverable error: (host-PID)\n" + text +
          "You can request support.  \n\nTo collect data to submit to Keltria support, choose "
          "\"Collect Support Data\" from the \"About\" menu.\nYou can also run the "
          "\"support.bat\" or \"pellory-log-collector\" script in the \"trove\" folder of the "
          "application bundle directly.\nWe will respond on the basis of your support "
          "entitlement.\n\n";
}

// A panicking child without a core dump; the thread name is made stable.
ChildResult Panicking(const std::function<void()> &body)
{
   return RunInChild([&] {
      Panic_SetCoreDumpOnPanic(FALSE);
      ThreadState_SetName("host-PID");
      body();
   });
}

void PostThatPanics(MsgType, const char *, const char *)
{
   Panic("second\n");
}

void PostHookPrintingIds(MsgType, const MsgList *messages)
{
   for (const MsgList *m = messages; m != nullptr; m = m->next) {
      std::string line = std::string("id:") + m->id + "\n";
      (void)!write(STDERR_FILENO, line.data(), line.size());
   }
}

TEST(PanicBasics, StatusStandardErrorLongMessagesAndTheLogFile)
{
   struct
   {
      const char *what;
      int line; // of the failed check
      std::function<void()> body;
      int status;
      std::string err; // after the check's text
   } cases[] = {
       {"VERIFY", __LINE__, [] { VERIFY(strlen("x") == 2); }, 255, ""},
       {"NOT_REACHED", __LINE__, [] { NOT_REACHED(); }, 255, ""},
       {"100% sure %d %s\n", 0, [] { Panic("%s", "100% sure %d %s\n"); }, 255, ""},
       {"first\n", 0,
        [] {
           MsgCallback cb;
           Msg_GetCallback(&cb);
           cb.post = PostThatPanics;
           Msg_SetCallback(&cb);
           Panic("first\n");
        },
        1, "second\nPanic loop\n"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.what);
      std::string text = c.what;
      if (c.line != 0) {
         text += " vela/lib/config/configUL:" + std::to_string(c.line) + "\n";
      }
      ChildResult child = Panicking(c.body);
      EXPECT_EQ(c.status, child.status);
      EXPECT_EQ(text + (c.status == 255 ? Post(text) : c.err), child.err);
   }

   // Standard error, the level-1 log line and the post each carry the message
   // cut on a character.
   for (int shift = 0; shift < 3; shift++) {
      SCOPED_TRACE(shift);
      std::string big(shift, '-');
      while (big.size() < 2000) {
         big += "\xE2\x82\xAC"; // three bytes
      }
      ChildResult child = Panicking([&] {
         AddTestOutput("copy", LOG_PANIC, TRUE, LOG_PANIC);
         Panic("%s", big.c_str());
      });
      EXPECT_EQ(255, child.status);
      size_t cut = 1023 - (1023 - shift) % 3;
      std::string kept = big.substr(0, cut);
      EXPECT_EQ(0u, child.err.find(kept + "PANIC: " + kept + "\n"));
      EXPECT_NE(std::string::npos, child.err.find("(host-PID)\n" + kept + "\n"));
   }

   // Without the desktop product the hint has the core host's id, which
   // localisation and answers look up as it is.
   ChildResult corehost = Panicking([] {
      ProductState_SetProductMask(0);
      MsgCallback cb;
      Msg_GetCallback(&cb);
      cb.postHook = PostHookPrintingIds;
      Msg_SetCallback(&cb);
      Panic("core host\n");
   });
   EXPECT_NE(std::string::npos,
             corehost.err.find("id:msg.panic.requestSupport.supportData .corehost\n"))
       << corehost.err;

   // With a file output the log keeps the whole story, core file included, and
   // the post tells the user where the log is.
   fwdtest::TempDir dir;
   std::string logPath = dir.path() + "/panic.log";
   ChildResult child = RunInChild([&] {
      struct rlimit core = {RLIM_INFINITY, RLIM_INFINITY};
      setrlimit(RLIMIT_CORE, &core);
      ThreadState_SetName("host-PID");
      if (chdir(dir.path().c_str()) != 0 ||
          Log_InitWithFile(nullptr, nullptr, logPath.c_str()) == nullptr) {
         _exit(3);
      }
      Panic("boom %d%%\n", 7);
   });
   EXPECT_EQ(255, child.status);
   std::string log = fwdtest::ReadFile(logPath);
   const char *coreLine = "A core file is available in \"";
   size_t last = 0;
   for (const char *want :
        {"PANIC: boom 7%\n", "Backtrace[0] ", "Core dumped.\n", coreLine, "Exiting\n"}) {
      size_t pos = log.find(want, last);
      EXPECT_NE(std::string::npos, pos) << want << " in\n" << log;
      last = pos == std::string::npos ? last : pos;
   }
   size_t at = log.find(coreLine); // the host's pattern may point outside dir
   if (at != std::string::npos) {
      at += strlen(coreLine);
      unlink(log.substr(at, log.find('"', at) - at).c_str());
   }
   EXPECT_EQ(0u, child.err.find("boom 7%\n\nKeltria Pellory Error:\n")) << child.err;
   EXPECT_NE(std::string::npos,
             child.err.find("A log file is available in \"" + logPath + "\".  \n"));
}

TEST(PanicBasics, LoopOnPanicWaitsUntilKilled)
{
   fwdtest::Pipe err;
   pid_t pid = fork();
   if (pid == 0) {
      dup2(err.fd[1], STDERR_FILENO);
      Panic_SetCoreDumpOnPanic(FALSE);
      Panic_SetLoopOnPanic(TRUE);
      Panic("stuck\n");
   }
   close(err.release(1));
   std::string want = "stuck\nLooping pid=" + std::to_string(pid) + "\n";
   EXPECT_EQ(want, fwdtest::ReadSome(err.fd[0], want.size()));
   kill(pid, SIGKILL);
   int status = 0;
   ASSERT_EQ(pid, waitpid(pid, &status, 0));
   EXPECT_TRUE(WIFSIGNALED(status)) << "the child went on";
}

// Whether [start, start + kb KiB) lies in inaccessible private mappings of
// this process (the kernel may merge the reservation with a neighbour).
bool Inaccessible(unsigned long start, unsigned long kb)
{
   std::ifstream maps("/proc/" + std::to_string(getpid()) + "/maps");
   unsigned long from, to, covered = start;
   char perms[5];
   for (std::string line; std::getline(maps, line);) {
      if (sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) == 3 &&
          strcmp(perms, "---p") == 0 && from <= covered && covered < to) {
         covered = to;
      }
   }
   return covered >= start + kb * 1024;
}

TEST(PanicBasics, ReservesAddressSpaceForTheCoreDump)
{
   struct
   {
      const char *setting;
      unsigned long kb;
   } cases[] = {{"100000", 20480}, {"-1", 20480}, {"64", 64}, {"0", 0}};
   for (const auto &c : cases) {
      SCOPED_TRACE(c.setting);
      ChildResult child = RunInChild([&] {
         Preference_InitSystemOnly();
         Preference_SetFromString((std::string("panic.addrSpaceReservedKB=") + c.setting).c_str(),
                                  TRUE);
         LogOutput *out = AddTestOutput();
         Panic_ReserveCoreDumpSpace();
         Panic_ReserveCoreDumpSpace(); // once per process
         // The log line says where; the process's maps must agree.
         std::string logged = LogTestOutput_Joined(out);
         unsigned long addr = 0, kb = 0;
         const char *at = strstr(logged.c_str(), "CoreDump(addr:");
         bool ok = at == nullptr ? c.kb == 0
                                 : sscanf(at, "CoreDump(addr:%lx, size:%luKB)", &addr, &kb) == 2 &&
                                       kb == c.kb && Inaccessible(addr, kb) &&
                                       strstr(at + 1, "CoreDump(addr:") == nullptr;
         _exit(ok ? 0 : 1);
      });
      EXPECT_EQ(0, child.status);
   }
}

} // namespace
