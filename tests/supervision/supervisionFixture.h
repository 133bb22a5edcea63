/// What the supervision tests share: a log capture, pipes that close
/// themselves, and reading a child's output with a deadline.
#ifndef TESTS_SUPERVISION_SUPERVISIONFIXTURE_H
#define TESTS_SUPERVISION_SUPERVISIONFIXTURE_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "lib/log/log.h"
#include "support/logTestOutput.h"

namespace fwdtest {

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

/// Polls `done` every 5 ms for up to 10 s; returns its last answer.
inline bool WaitFor(const std::function<bool()> &done)
{
   auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
   while (!done() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
   }
   return done();
}

/// Captures every log line up to level 10 (the supervision classes trace at
/// 8 and 9).
class SupervisionTest : public ::testing::Test
{
 protected:
   LogCapture mLog{10, FALSE};
};

} // namespace fwdtest

#endif
