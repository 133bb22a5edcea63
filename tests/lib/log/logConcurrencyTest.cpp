// Many threads logging at once; these suites also run under ThreadSanitizer.
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/childRun.h"
#include "lib/log/logTestOutput.h"
#include "lib/log/logTestSupport.h"

namespace {

const int kThreads = 4;

// Lines carry a padding that depends on their number, so a torn or mixed
// line shows.
std::string Pad(int seq)
{
   return std::string((size_t)(seq % 50), 'x');
}

template <typename Body> void RunThreads(Body body)
{
   std::atomic<int> waiting{kThreads};
   std::vector<std::thread> pool;
   for (int t = 0; t < kThreads; t++) {
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

// Parses "T<thread> <seq> ..." and checks the padding that follows.
bool ParseLine(const std::string &line, int *thread, int *seq)
{
   int used = 0;
   if (sscanf(line.c_str(), "T%d %d%n", thread, seq, &used) != 2 || line[(size_t)used] != ' ') {
      return false;
   }
   return line.substr((size_t)used + 1) == Pad(*seq) + "\n";
}

TEST(LogConcurrency, ThreadsFillingTheBufferKeepWholeEntriesAndCounts)
{
   DrainPreOutputBuffer();
   const int perThread = 800;
   RunThreads([&](int t) {
      for (int i = 0; i < perThread; i++) {
         Log("T%d %d %s", t, i, Pad(i).c_str());
      }
   });
   LogOutput *out = LogTestOutput_Create(nullptr);
   ASSERT_TRUE(Log_AddOutput(out));
   std::vector<std::string> got = LogTestOutput_Texts(out);
   ASSERT_FALSE(got.empty());

   size_t bytes = 0;
   std::map<int, int> last;
   for (const std::string &line : got) {
      int t = -1, seq = -1;
      ASSERT_TRUE(ParseLine(line, &t, &seq)) << line;
      auto it = last.find(t);
      ASSERT_TRUE(it == last.end() || seq == it->second + 1) << "gap or disorder in " << line;
      last[t] = seq;
      bytes += line.size() + 2 + LOG_RING_RECORD_SIZE;
   }
   // What was kept fits the buffer, and one more entry would not have.
   EXPECT_LT(bytes, 65536u);
   EXPECT_GT(bytes + 2 * (2 + LOG_RING_RECORD_SIZE + 70), 65536u);
   // The newest message of the thread that finished last is there.
   bool someLast = false;
   for (const auto &kv : last) {
      someLast = someLast || kv.second == perThread - 1;
   }
   EXPECT_TRUE(someLast);
   Log_Exit();
}

TEST(LogConcurrency, LinesOfOneMessageStayTogether)
{
   DrainPreOutputBuffer();
   LogTestOutputOptions lineOpts;
   lineOpts.name = "lines";
   LogOutput *lines = LogTestOutput_Create(&lineOpts);
   ASSERT_TRUE(Log_AddOutput(lines));
   const int perThread = 300;
   RunThreads([&](int t) {
      for (int i = 0; i < perThread; i++) {
         Log("T%d %d %s\nT%d %d %s\n", t, 2 * i, Pad(2 * i).c_str(), t, 2 * i + 1,
             Pad(2 * i + 1).c_str());
      }
   });
   std::vector<LogTestEntry> got = LogTestOutput_Entries(lines);
   ASSERT_EQ((size_t)(2 * kThreads * perThread), got.size());
   std::map<int, int> next;
   for (size_t k = 0; k < got.size(); k += 2) {
      int t1, s1, t2, s2;
      ASSERT_TRUE(ParseLine(got[k].text, &t1, &s1)) << got[k].text;
      ASSERT_TRUE(ParseLine(got[k + 1].text, &t2, &s2)) << got[k + 1].text;
      ASSERT_EQ(t1, t2);
      ASSERT_EQ(s1 + 1, s2);
      ASSERT_EQ(0, got[k].record.continuation);
      ASSERT_EQ(1, got[k + 1].record.continuation);
      ASSERT_EQ(next[t1], s1);
      next[t1] = s2 + 1;
   }
   Log_Exit();
}

TEST(LogConcurrency, StandardErrorLinesDoNotInterleave)
{
   const int perThread = 200;
   ChildResult child = RunInChild([&] {
      LogTestOutputOptions opts;
      opts.stderrLevel = LOG_INFO;
      if (!Log_AddOutput(LogTestOutput_Create(&opts))) {
         _exit(2);
      }
      RunThreads([&](int t) {
         for (int i = 0; i < perThread; i++) {
            // Long enough to need more than one write if unguarded.
            Log("T%d %d %s", t, i, Pad(i).c_str());
         }
      });
      Log_Exit();
   });
   ASSERT_TRUE(child.exited);
   ASSERT_EQ(0, child.status);
   std::map<int, int> next;
   size_t start = 0;
   int count = 0;
   while (start < child.err.size()) {
      size_t end = child.err.find('\n', start);
      ASSERT_NE(std::string::npos, end);
      std::string line = child.err.substr(start, end + 1 - start);
      int t, seq;
      ASSERT_TRUE(ParseLine(line, &t, &seq)) << line;
      ASSERT_EQ(next[t], seq);
      next[t] = seq + 1;
      count++;
      start = end + 1;
   }
   EXPECT_EQ(kThreads * perThread, count);
}

TEST(LogConcurrency, OutputsComeAndGoWhileThreadsLog)
{
   DrainPreOutputBuffer();
   std::atomic<bool> done{false};
   std::atomic<int> logged{0};
   int malformed = 0;
   std::thread registrar([&] {
      while (logged.load() < kThreads) {
         std::this_thread::yield();
      }
      for (int i = 0; i < 50; i++) {
         LogOutput *out = LogTestOutput_Create(nullptr);
         if (Log_AddOutput(out)) {
            Log_SetOutputLevel(out, LOG_DEBUG);
            for (const std::string &text : LogTestOutput_Texts(out)) {
               int t, seq;
               malformed += ParseLine(text, &t, &seq) ? 0 : 1;
            }
            Log_ReplaceOutput(out, nullptr, FALSE);
         } else {
            Log_FreeOutput(out);
         }
      }
      done.store(true);
   });
   RunThreads([&](int t) {
      while (!done.load()) {
         Log("T%d %d %s", t, 0, Pad(0).c_str());
         Log_IsEnabled(LOG_INFO);
         logged.fetch_add(1);
      }
   });
   registrar.join();
   EXPECT_FALSE(Log_HaveOutputs());
   EXPECT_EQ(LOG_INFO, Log_GetModuleFileLevel(0));
   EXPECT_GT(logged.load(), 0);
   EXPECT_EQ(0, malformed);
}

} // namespace
