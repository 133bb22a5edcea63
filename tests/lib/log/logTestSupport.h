// Shared steps of the lock, log and panic tests.
#ifndef TESTS_LIB_LOG_LOGTESTSUPPORT_H
#define TESTS_LIB_LOG_LOGTESTSUPPORT_H

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/logTestOutput.h"

struct ChildResult
{
   bool exited = false;
   int status = -1; // exit status when exited
   std::string err; // everything written to standard error
};

// Runs body in a forked child; collects its exit status and standard error.
inline ChildResult RunInChild(const std::function<void()> &body)
{
   ChildResult result;
   int fds[2];
   if (pipe(fds) != 0) {
      return result;
   }
   pid_t pid = fork();
   if (pid == 0) {
      close(fds[0]);
      dup2(fds[1], STDERR_FILENO);
      close(fds[1]);
      body();
      _exit(0);
   }
   close(fds[1]);
   char buf[4096];
   ssize_t n;
   while ((n = read(fds[0], buf, sizeof buf)) > 0) {
      result.err.append(buf, (size_t)n);
   }
   close(fds[0]);
   int wstatus = 0;
   if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
      result.exited = true;
      result.status = WEXITSTATUS(wstatus);
   }
   return result;
}

// Starts n threads at once, so that they really race, and joins them.
inline void RunThreads(int n, const std::function<void(int)> &body)
{
   std::atomic<int> waiting{n};
   std::vector<std::thread> pool;
   for (int t = 0; t < n; t++) {
      pool.emplace_back([&, t] {
         waiting.fetch_sub(1);
         while (waiting.load() > 0) {
            std::this_thread::yield();
         }
         body(t);
      });
   }
   for (auto &th : pool) {
      th.join();
   }
}

// Creates a test output and registers it.
inline LogOutput *AddTestOutput(const char *name = "test", int32 fileLevel = LOG_INFO,
                                Bool wholeMessage = FALSE, int32 stderrLevel = -1)
{
   LogTestOutputOptions opts;
   opts.name = name;
   opts.fileLevel = fileLevel;
   opts.wholeMessage = wholeMessage;
   opts.stderrLevel = stderrLevel;
   LogOutput *out = LogTestOutput_Create(&opts);
   EXPECT_TRUE(Log_AddOutput(out)) << name;
   return out;
}

// Empties the pre-output buffer of whatever earlier code logged: the first
// output takes it all.
inline void DrainPreOutputBuffer()
{
   AddTestOutput();
   Log_Exit();
}

#endif
