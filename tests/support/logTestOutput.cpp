// In-memory output for tests. Writes arrive under the log lock; readers take
// the output's own lock, which a write never holds while logging.
#include "support/logTestOutput.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

namespace {

struct State
{
   std::mutex lock;
   std::vector<LogTestEntry> entries;
   uint32 opens = 0;
   uint32 throttleOffs = 0;
   LogTestOutputOptions options;
   std::string logFromWrite;
};

// Plain layout, so the output header can be converted back to it.
struct Whole
{
   LogOutput base;
   State *st;
};

State *StateOf(LogOutput *output)
{
   return reinterpret_cast<Whole *>(output)->st;
}

// Runs `step` on the state under its lock and returns what it returns.
template <typename Step> auto Locked(LogOutput *output, Step step)
{
   State *st = StateOf(output);
   std::lock_guard<std::mutex> hold(st->lock);
   return step(*st);
}

void Write(LogOutput *output, const LogRecord *record, size_t length, const char *text)
{
   Locked(output, [&](State &st) { st.entries.push_back({*record, std::string(text, length)}); });
   if (StateOf(output)->options.logFromWrite != nullptr) {
      Log("%s", StateOf(output)->logFromWrite.c_str());
   }
}

Bool Open(LogOutput *output)
{
   return Locked(output, [](State &st) {
      st.opens++;
      return !st.options.failOpen;
   });
}

void Destroy(LogOutput *output)
{
   State *st = StateOf(output);
   if (st->options.destroyCount != nullptr) {
      __atomic_add_fetch(st->options.destroyCount, 1, __ATOMIC_SEQ_CST);
   }
   free(output->name);
   delete st;
   delete reinterpret_cast<Whole *>(output);
}

void DisableThrottling(LogOutput *output)
{
   Locked(output, [](State &st) { st.throttleOffs++; });
}

} // namespace

LogOutput *LogTestOutput_Create(const LogTestOutputOptions *options)
{
   Whole *whole = new Whole();
   static_assert(offsetof(Whole, base) == 0, "the output header comes first");
   whole->st = new State();
   State *st = whole->st;
   st->options = options != nullptr ? *options : LogTestOutputOptions();
   if (st->options.logFromWrite != nullptr) {
      st->logFromWrite = st->options.logFromWrite;
   }
   LogOutput *base = &whole->base;
   base->kind = st->options.kind;
   base->wholeMessage = st->options.wholeMessage;
   base->name = strdup(st->options.name != nullptr ? st->options.name : "test");
   base->fileLevel = st->options.fileLevel;
   base->stderrLevel = st->options.stderrLevel;
   base->write = Write;
   base->open = Open;
   base->destroy = Destroy;
   base->disableThrottling = DisableThrottling;
   return base;
}

std::vector<LogTestEntry> LogTestOutput_Entries(LogOutput *output)
{
   return Locked(output, [](State &st) { return st.entries; });
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
   Locked(output, [](State &st) { st.entries.clear(); });
}

uint32 LogTestOutput_OpenCount(LogOutput *output)
{
   return Locked(output, [](State &st) { return st.opens; });
}

uint32 LogTestOutput_ThrottleOffCount(LogOutput *output)
{
   return Locked(output, [](State &st) { return st.throttleOffs; });
}
