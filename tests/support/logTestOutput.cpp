// In-memory output for tests. Writes arrive under the log lock; readers take
// the output's own lock, which a write never holds while logging.
#include "support/logTestOutput.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>

namespace {

// The output header first, so that the log's pointer converts back.
struct TestOutput : LogOutput
{
   std::mutex lock;
   std::vector<LogTestEntry> entries;
   LogTestOutputOptions options;
};

// Runs `step` on the output under its lock and returns what it returns.
template <typename Step> auto Locked(LogOutput *output, Step step)
{
   TestOutput *out = static_cast<TestOutput *>(output);
   std::lock_guard<std::mutex> hold(out->lock);
   return step(*out);
}

void Write(LogOutput *output, const LogRecord *record, size_t length, const char *text)
{
   Locked(output, [&](TestOutput &o) {
      o.entries.push_back({*record, std::string(text, length)});
   });
   const TestOutput *out = static_cast<TestOutput *>(output);
   if (!out->options.logFromWrite.empty()) {
      Log("%s", out->options.logFromWrite.c_str());
   }
}

void Destroy(LogOutput *output)
{
   TestOutput *out = static_cast<TestOutput *>(output);
   if (out->options.destroyCount != nullptr) {
      __atomic_add_fetch(out->options.destroyCount, 1, __ATOMIC_SEQ_CST);
   }
   free(out->name);
   delete out;
}

} // namespace

LogOutput *LogTestOutput_Create(const LogTestOutputOptions *options)
{
   TestOutput *out = new TestOutput();
   out->options = options != nullptr ? *options : LogTestOutputOptions();
   out->kind = out->options.kind;
   out->wholeMessage = out->options.wholeMessage;
   out->name = strdup(out->options.name != nullptr ? out->options.name : "test");
   out->fileLevel = out->options.fileLevel;
   out->stderrLevel = out->options.stderrLevel;
   out->write = Write;
   out->open = [](LogOutput *o) -> Bool { return !static_cast<TestOutput *>(o)->options.failOpen; };
   out->destroy = Destroy;
   return out;
}

std::vector<LogTestEntry> LogTestOutput_Entries(LogOutput *output)
{
   return Locked(output, [](TestOutput &o) { return o.entries; });
}

std::vector<std::string> LogTestOutput_Texts(LogOutput *output)
{
   std::vector<std::string> texts;
   for (const LogTestEntry &e : LogTestOutput_Entries(output)) {
      texts.push_back(e.text);
   }
   return texts;
}

std::string LogTestOutput_Joined(LogOutput *output)
{
   std::string all;
   for (const std::string &text : LogTestOutput_Texts(output)) {
      all += text;
   }
   return all;
}

void LogTestOutput_Clear(LogOutput *output)
{
   Locked(output, [](TestOutput &o) { o.entries.clear(); });
}
