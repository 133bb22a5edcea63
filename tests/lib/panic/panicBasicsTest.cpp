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
#include "lib/log/logTestSupport.h"
#include "lib/misc/threadState.h"
#include "lib/misc/unicode.h"
#include "lib/panic/panic.h"
#include "lib/user/msg.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"

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

TEST(PanicBasics, StatusAndStandardError)
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
       {"NOT_IMPLEMENTED", __LINE__, [] { NOT_IMPLEMENTED(); }, 255, ""},
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
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(c.status, child.status);
      EXPECT_EQ(text + (c.status == 255 ? Post(text) : c.err), child.err);
   }
}

// Standard error, the level-1 log line and the post each carry the message
// cut on a character.
TEST(PanicBasics, LongMessagesAreCutOnACharacterInEveryCopy)
{
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
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(255, child.status);
      size_t cut = 1023 - (1023 - shift) % 3;
      std::string kept = big.substr(0, cut);
      EXPECT_EQ(0u, child.err.find(kept + "PANIC: " + kept + "\n"));
      EXPECT_NE(std::string::npos, child.err.find("(host-PID)\n" + kept + "\n"));
      EXPECT_TRUE(
          Unicode_IsBufferValid(child.err.data(), (ssize_t)child.err.size(), STRING_ENCODING_UTF8));
   }
}

TEST(PanicBasics, LoopOnPanicWaitsUntilKilled)
{
   int fds[2];
   ASSERT_EQ(0, pipe(fds));
   pid_t pid = fork();
   if (pid == 0) {
      dup2(fds[1], STDERR_FILENO);
      Panic_SetCoreDumpOnPanic(FALSE);
      Panic_SetLoopOnPanic(TRUE);
      Panic("stuck\n");
   }
   close(fds[1]);
   std::string want = "stuck\nLooping pid=" + std::to_string(pid) + "\n";
   std::string err;
   char buf[256];
   ssize_t n;
   while (err.size() < want.size() && (n = read(fds[0], buf, sizeof buf)) > 0) {
      err.append(buf, (size_t)n);
   }
   close(fds[0]);
   EXPECT_EQ(want, err);
   sleep(1);
   int status = 0;
   EXPECT_EQ(0, waitpid(pid, &status, WNOHANG)) << "the child went on";
   kill(pid, SIGKILL);
   ASSERT_EQ(pid, waitpid(pid, &status, 0));
   EXPECT_TRUE(WIFSIGNALED(status));
}

// The reservation is an inaccessible private mapping of the capped size.
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
         AddTestOutput("reserve", LOG_INFO, TRUE, LOG_INFO);
         Panic_ReserveCoreDumpSpace();
         Panic_ReserveCoreDumpSpace(); // once per process
         std::ifstream maps("/proc/" + std::to_string(getpid()) + "/maps");
         std::string line;
         while (std::getline(maps, line)) {
            unsigned long start, end;
            char perms[5];
            if (sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) == 3 &&
                strcmp(perms, "---p") == 0) {
               fprintf(stderr, "map %lx %lu\n", start, (end - start) / 1024);
            }
         }
      });
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(0, child.status);
      if (c.kb == 0) {
         EXPECT_EQ(std::string::npos, child.err.find("Reserved")) << child.err;
         continue;
      }
      unsigned long addr = 0, kb = 0;
      size_t at = child.err.find("Reserved virtual address space for CoreDump(addr:0x");
      ASSERT_NE(std::string::npos, at) << child.err;
      ASSERT_EQ(2, sscanf(child.err.c_str() + at,
                          "Reserved virtual address space for "
                          "CoreDump(addr:%lx, size:%luKB)",
                          &addr, &kb));
      EXPECT_EQ(c.kb, kb);
      size_t count = 0;
      for (size_t p = 0; (p = child.err.find("map ", p)) != std::string::npos; p++) {
         unsigned long start, size;
         if (sscanf(child.err.c_str() + p, "map %lx %lu", &start, &size) == 2 && start <= addr &&
             addr < start + size * 1024) {
            EXPECT_GE(start + size * 1024, addr + c.kb * 1024);
            count++;
         }
      }
      EXPECT_EQ(1u, count) << child.err;
   }
}

// With a file output the log keeps the whole story, core file included, and
// the post tells the user where the log is.
TEST(PanicBasics, TheLogFileTellsTheStory)
{
   fwdtest::TempDir dir;
   std::string logPath = dir.path() + "/panic.log";
   ChildResult child = RunInChild([&] {
      struct rlimit core;
      getrlimit(RLIMIT_CORE, &core);
      core.rlim_cur = core.rlim_max;
      setrlimit(RLIMIT_CORE, &core);
      ThreadState_SetName("host-PID");
      if (chdir(dir.path().c_str()) != 0 ||
          Log_InitWithFile(nullptr, nullptr, logPath.c_str()) == nullptr) {
         _exit(3);
      }
      Panic("boom %d%%\n", 7);
   });
   ASSERT_TRUE(child.exited);
   EXPECT_EQ(255, child.status);
   std::string log = fwdtest::ReadFile(logPath);
   std::string corePath;
   size_t at = log.find("A core file is available in \"");
   if (at != std::string::npos) {
      at += strlen("A core file is available in \"");
      corePath = log.substr(at, log.find('"', at) - at);
      unlink(corePath.c_str());
   }
   struct rlimit core;
   getrlimit(RLIMIT_CORE, &core);
   if (core.rlim_max != 0) {
      EXPECT_FALSE(corePath.empty()) << log;
   }
   size_t last = 0;
   for (const char *want :
        {"PANIC: boom 7%\n", "Backtrace[0] ", "Attempting a core dump using ", "Exiting\n"}) {
      size_t pos = log.find(want);
      EXPECT_NE(std::string::npos, pos) << want << " in\n" << log;
      EXPECT_LE(last, pos) << want << " out of order";
      last = pos == std::string::npos ? last : pos;
   }
   EXPECT_EQ(0u, child.err.find("boom 7%\n\nKeltria Pellory Error:\n")) << child.err;
   EXPECT_NE(std::string::npos,
             child.err.find("A log file is available in \"" + logPath + "\".  \n"))
       << child.err;
}

} // namespace
