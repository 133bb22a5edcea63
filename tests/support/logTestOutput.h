/// An output that keeps what it receives in memory, for tests: it shows
/// exactly which messages (or lines) reached an output, in which order and
/// with which record. Not for production use.
///
///    LogTestOutputOptions opts;          // "test", line by line, level 5
///    LogOutput *out = LogTestOutput_Create(&opts);
///    Log_AddOutput(out);
///    ... code that logs ...
///    std::vector<std::string> lines = LogTestOutput_Texts(out);
///    Log_Exit();                          // unregisters and destroys it
///
/// Most tests want the LogCapture below, which does all of that.
#ifndef TESTS_SUPPORT_LOGTESTOUTPUT_H
#define TESTS_SUPPORT_LOGTESTOUTPUT_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/log.h"
#include "lib/log/logOutput.h"

struct LogTestOutputOptions
{
   const char *name = "test";
   /// Any code is accepted here, so the registry's kind rules can be tried;
   /// the default coexists with a file output and with other test outputs.
   uint32 kind = LOG_OUTPUT_KIND_3;
   Bool wholeMessage = FALSE; ///< FALSE: one write per line
   int32 fileLevel = LOG_INFO;
   int32 stderrLevel = -1;
   Bool failOpen = FALSE;          ///< open reports failure
   uint32 *destroyCount = nullptr; ///< incremented when destroyed
   std::string logFromWrite;       ///< logged at level 5 from every write unless empty
};

struct LogTestEntry
{
   LogRecord record;
   std::string text; ///< exactly the bytes written, newline included
};

/// Creates an unregistered output; null options take the defaults.
LogOutput *LogTestOutput_Create(const LogTestOutputOptions *options);
/// Everything written so far, oldest first.
std::vector<LogTestEntry> LogTestOutput_Entries(LogOutput *output);
std::vector<std::string> LogTestOutput_Texts(LogOutput *output);
/// All texts concatenated.
std::string LogTestOutput_Joined(LogOutput *output);
void LogTestOutput_Clear(LogOutput *output);

/// Creates a test output and registers it (a failed test when refused).
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

/// Empties the pre-output buffer of whatever earlier code logged: the first
/// output takes it all.
inline void DrainPreOutputBuffer()
{
   AddTestOutput();
   Log_Exit();
}

namespace fwdtest {

/// How often `what` occurs in `text`, overlaps included.
inline size_t Occurrences(const std::string &text, const std::string &what)
{
   size_t n = 0;
   for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      n++;
   }
   return n;
}

/// What the log facility writes while it lives: an output registered for
/// messages at `level` and more severe (line by line unless
/// `wholeMessage`); the log facility is shut down again on destruction.
class LogCapture
{
 public:
   explicit LogCapture(int32 level = LOG_INFO, Bool wholeMessage = TRUE)
       : mOut(AddTestOutput("test", level, wholeMessage))
   {
   }
   ~LogCapture() { Log_Exit(); }
   LogCapture(const LogCapture &) = delete;
   LogCapture &operator=(const LogCapture &) = delete;

   LogOutput *out() const { return mOut; }
   std::vector<std::string> Texts() const { return LogTestOutput_Texts(mOut); }
   std::string Joined() const { return LogTestOutput_Joined(mOut); }
   void Clear() const { LogTestOutput_Clear(mOut); }
   /// The messages since the last call, as "<level name>: <message>".
   std::vector<std::string> Take() const
   {
      std::vector<std::string> got;
      for (const LogTestEntry &e : LogTestOutput_Entries(mOut)) {
         got.push_back(std::string(e.record.desc->name) + ": " + e.text);
      }
      Clear();
      return got;
   }
   /// How often `text` occurs in what was logged.
   size_t Count(const std::string &text) const { return Occurrences(Joined(), text); }
   bool Logged(const std::string &text) const { return Count(text) > 0; }

 private:
   LogOutput *mOut;
};

/// Starts n threads at once, so that they really race, and joins them.
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

} // namespace fwdtest

#endif
