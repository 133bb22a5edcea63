// Shared steps of the lock, log and panic tests.
#ifndef TESTS_LIB_LOG_LOGTESTSUPPORT_H
#define TESTS_LIB_LOG_LOGTESTSUPPORT_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/childProcess.h"
#include "support/logTestOutput.h"

using fwdtest::ChildResult;
using fwdtest::RunInChild;

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
