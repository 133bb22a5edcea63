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
#include "support/textFiles.h"

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

TEST(LogConcurrency, LinesOfOneMessageStayTogetherInOutputsAndOnStandardError)
{
   DrainPreOutputBuffer();
   FILE *errFile = tmpfile();
   ASSERT_NE(nullptr, errFile);
   int savedErr = dup(STDERR_FILENO);
   dup2(fileno(errFile), STDERR_FILENO);
   LogOutput *lines = AddTestOutput("lines", LOG_INFO, FALSE, LOG_INFO);
   Log_Level(LOG_AUDIT, "never on standard error"); // which holds pairs only
   LogTestOutput_Clear(lines);
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

   const std::string err = fwdtest::ReadFile("/proc/self/fd/" + std::to_string(fileno(errFile)));
   fclose(errFile);
   std::vector<std::string> errLines;
   for (size_t start = 0, end; (end = err.find('\n', start)) != std::string::npos;
        start = end + 1) {
      errLines.push_back(err.substr(start, end + 1 - start));
   }
   ExpectOrderedPairs(errLines, 2 * kThreads * perThread);
   Log_Exit();
}

// The outputs come and go while the threads log; in between, the buffer
// fills and drops its oldest entries (which ones is checked against a model
// by the log-text fuzzer). Each output gets every thread's lines whole and
// in order, without gaps.
TEST(LogConcurrency, OutputsComeAndGoWhileThreadsLog)
{
   DrainPreOutputBuffer();
   std::atomic<bool> done{false};
   std::atomic<int> logged{0};
   int broken = 0;
   RunThreads(kThreads + 1, [&](int t) {
      if (t < kThreads) {
         for (int seq = 0; !done.load(); seq++) {
            Log("T%d %d %s", t, seq, Pad(seq).c_str());
            Log_IsEnabled(LOG_INFO);
            logged.fetch_add(1);
         }
         return;
      }
      while (logged.load() < 1000) { // more than the buffer holds
         std::this_thread::yield();
      }
      for (int i = 0; i < 50; i++) {
         LogOutput *out = LogTestOutput_Create(nullptr);
         if (!Log_AddOutput(out)) {
            Log_FreeOutput(out);
            continue;
         }
         Log_SetOutputLevel(out, LOG_DEBUG);
         std::map<int, int> last;
         for (const std::string &text : LogTestOutput_Texts(out)) {
            int th = -1, seq = -1;
            bool whole = ParseLine(text, &th, &seq);
            broken += whole && (last.count(th) == 0 || seq == last[th] + 1) ? 0 : 1;
            last[th] = seq;
         }
         Log_ReplaceOutput(out, nullptr, FALSE);
      }
      done.store(true);
   });
   EXPECT_FALSE(Log_HaveOutputs());
   EXPECT_EQ(LOG_INFO, Log_GetModuleFileLevel(0));
   EXPECT_EQ(0, broken);
}

} // namespace
