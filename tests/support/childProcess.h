/// Child processes run whole: a function in a forked child, or a program,
/// with standard input from a string and standard output and standard error
/// collected; and the pipes and waits of tests that talk to a child while it
/// runs.
///
///    ChildResult r = RunInChild([] { Panic("boom\n"); });
///    EXPECT_EQ(255, r.status);
///    ChildResult p = RunProcess({"/bin/sh", "-c", "echo hi"});
#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace fwdtest {

/// What a child process did.
struct ChildResult
{
   bool exited = false; ///< ended by exit rather than by a signal
   int status = -1;     ///< exit status, or 128 + signal
   std::string out;     ///< standard output (empty when redirected)
   std::string err;     ///< standard error
};
/// The name the process tests use.
using RunResult = ChildResult;

/// Where a child's standard streams come from and go to.
struct ChildIo
{
   std::string input;      ///< what standard input holds
   std::string stdoutPath; ///< file for standard output (e.g. /dev/full)
};

/// Runs `body` in a forked child, which exits 0 when `body` returns (stdio
/// flushed first); `body` may exit with a status of its own.
ChildResult RunInChild(const std::function<void()> &body, const ChildIo &io = {});

/// Runs `argv` (argv[0] is the program path) to its end. With
/// `stdoutPath`, standard output goes to that file instead of a pipe.
ChildResult RunProcess(const std::vector<std::string> &argv, const std::string &stdoutPath = "");

/// Starts `argv` (argv[0] is the program path) in the background with
/// standard input from /dev/null and standard output and error appended to
/// `logPath` (/dev/null when empty). Returns the child's pid, or -1.
pid_t StartProcess(const std::vector<std::string> &argv, const std::string &logPath = "");

/// Sends `sig` to `pid` (a child of StartProcess) and reaps it. Returns its
/// status as ChildResult::status has it, or -1.
int StopProcess(pid_t pid, int sig);

/// A pipe; both ends closed on destruction unless released. Close-on-exec,
/// so a child gets only the end that is made its standard stream.
struct Pipe
{
   Pipe() { EXPECT_EQ(0, pipe2(fd, O_CLOEXEC)); }
   ~Pipe()
   {
      for (int f : fd) {
         if (f >= 0) {
            close(f);
         }
      }
   }
   Pipe(const Pipe &) = delete;
   Pipe &operator=(const Pipe &) = delete;
   int release(int end) { return std::exchange(fd[end], -1); }
   int fd[2] = {-1, -1};
};

/// Reads from `fd` until `want` bytes arrived, end of file, or 10 s
/// without data.
inline std::string ReadSome(int fd, size_t want)
{
   std::string out;
   char buf[256];
   struct pollfd p = {fd, POLLIN, 0};
   while (out.size() < want && poll(&p, 1, 10000) > 0) {
      ssize_t n = read(fd, buf, std::min(sizeof buf, want - out.size()));
      if (n <= 0) {
         break;
      }
      out.append(buf, static_cast<size_t>(n));
   }
   return out;
}

/// Polls `done` every 5 ms for up to a minute (generous: only the outcome
/// is checked, and sanitizer builds are slow); returns its last answer.
inline bool WaitFor(const std::function<bool()> &done)
{
   auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
   while (!done() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
   }
   return done();
}

#ifdef FWD_FWDMAPS_PATH
/// Runs the built fwdmaps with `args`, as RunProcess does.
inline ChildResult Fwdmaps(std::vector<std::string> args, const std::string &stdoutPath = "")
{
   args.insert(args.begin(), FWD_FWDMAPS_PATH);
   return RunProcess(args, stdoutPath);
}
#endif

} // namespace fwdtest

#endif
