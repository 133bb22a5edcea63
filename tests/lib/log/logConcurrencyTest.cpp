// Many threads logging at once, a message's lines kept together; these
// suites also run under ThreadSanitizer.
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/logTestOutput.h"

using fwdtest::RunThreads;

namespace {

const int kThreads = 4;

// Lines carry a padding that depends on their number, so a torn or mixed
// line shows.
std::string Pad(int seq)
{
   return std::string((size_t)(seq % 50), 'x');
}

// Parses "T<thread> <seq> <padding>\n".
bool ParseLine(const std::string &line, int *thread, int *seq)
{
   int used = 0;
   if (sscanf(line.c_str(), "T%d %d%n", thread, seq, &used) != 2 || line[(size_t)used] != ' ') {
      return false;
   }
   return line.substr((size_t)used + 1) == Pad(*seq) + "\n";
}

// Checks that every thread's lines arrive whole, in order and without gaps,
// and that lines 2k and 2k+1 (one message) are neighbours.
void ExpectOrderedPairs(const std::vector<std::string> &lines, size_t expected)
{
   ASSERT_EQ(expected, lines.size());
   std::map<int, int> next;
   for (size_t k = 0; k < lines.size(); k++) {
      int t, seq;
      ASSERT_TRUE(ParseLine(lines[k], &t, &seq)) << lines[k];
      ASSERT_EQ(next[t], seq) << lines[k];
      ASSERT_EQ(k % 2, (size_t)seq % 2) << "the lines of one message were split";
      next[t] = seq + 1;
   }
}

TEST(LogConcurrency, ThreadsFillingTheBufferKeepWholeEntriesAndCounts)
{
   DrainPreOutputBuffer();
   const int perThread = 800;
   RunThreads(kThreads, [&](int t) {
      for (int i = 0; i < perThread; i++) {
         Log("T%d %d %s", t, i, Pad(i).c_str());
      }
   });
   LogOutput *out = AddTestOutput();
   std::vector<std::string> got = LogTestOutput_Texts(out);
   ASSERT_FALSE(got.empty());
   size_t bytes = 0;
   std::map<int, int> last;
   for (const std::string &line : got) {
      int t = -1, seq = -1;
      ASSERT_TRUE(ParseLine(line, &t, &seq)) << line;
      ASSERT_TRUE(last.count(t) == 0 || seq == last[t] + 1) << "gap or disorder in " << line;
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

TEST(LogConcurrency, LinesOfOneMessageStayTogetherInOutputsAndOnStandardError)
{
   DrainPreOutputBuffer();
   char path[] = "/tmp/logConcurrencyXXXXXX";
   int fd = mkstemp(path);
   ASSERT_GE(fd, 0);
   unlink(path);
   int savedErr = dup(STDERR_FILENO);
   dup2(fd, STDERR_FILENO);
   LogOutput *lines = AddTestOutput("lines", LOG_INFO, FALSE, LOG_INFO);
   const int perThread = 300;
   RunThreads(kThreads, [&](int t) {
      for (int i = 0; i < 2 * perThread; i += 2) {
         Log("T%d %d %s\nT%d %d %s\n", t, i, Pad(i).c_str(), t, i + 1, Pad(i + 1).c_str());
      }
   });
   dup2(savedErr, STDERR_FILENO);
   close(savedErr);

   std::vector<std::string> texts;
   std::vector<LogTestEntry> got = LogTestOutput_Entries(lines);
   for (size_t k = 0; k < got.size(); k++) {
      texts.push_back(got[k].text);
      ASSERT_EQ(k % 2, got[k].record.continuation);
   }
   ExpectOrderedPairs(texts, 2 * kThreads * perThread);

   std::string err(1 << 20, '\0');
   ssize_t n = pread(fd, &err[0], err.size(), 0);
   close(fd);
   ASSERT_GT(n, 0);
   err.resize((size_t)n);
   std::vector<std::string> errLines;
   for (size_t start = 0, end; (end = err.find('\n', start)) != std::string::npos;
        start = end + 1) {
      errLines.push_back(err.substr(start, end + 1 - start));
   }
   ExpectOrderedPairs(errLines, 2 * kThreads * perThread);
   Log_Exit();
}

TEST(LogConcurrency, OutputsComeAndGoWhileThreadsLog)
{
   DrainPreOutputBuffer();
   std::atomic<bool> done{false};
   std::atomic<int> logged{0};
   int malformed = 0;
   RunThreads(kThreads + 1, [&](int t) {
      if (t < kThreads) {
         while (!done.load()) {
            Log("T%d %d %s", t, 0, Pad(0).c_str());
            Log_IsEnabled(LOG_INFO);
            logged.fetch_add(1);
         }
         return;
      }
      while (logged.load() < kThreads) {
         std::this_thread::yield();
      }
      for (int i = 0; i < 50; i++) {
         LogOutput *out = LogTestOutput_Create(nullptr);
         if (Log_AddOutput(out)) {
            Log_SetOutputLevel(out, LOG_DEBUG);
            for (const std::string &text : LogTestOutput_Texts(out)) {
               int th, seq;
               malformed += ParseLine(text, &th, &seq) ? 0 : 1;
            }
            Log_ReplaceOutput(out, nullptr, FALSE);
         } else {
            Log_FreeOutput(out);
         }
      }
      done.store(true);
   });
   EXPECT_FALSE(Log_HaveOutputs());
   EXPECT_EQ(LOG_INFO, Log_GetModuleFileLevel(0));
   EXPECT_EQ(0, malformed);
}

} // namespace
