// In-memory output for tests. Writes arrive under the log lock; readers take
// the output's own lock, which a write never holds while logging.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "lib/lock/userlock.h"
#include "support/logTestOutput.h"

struct LogTestOutputState
{
   MXUserExclLock *lock;
   std::vector<LogTestEntry> entries;
   uint32 opens;
   uint32 throttleOffs;
   Bool failOpen;
   uint32 *destroyCount;
   std::string logFromWrite;
   Bool hasLogFromWrite;
};

// Plain layout, so the output header can be converted back to it.
struct LogTestOutput
{
   LogOutput base;
   LogTestOutputState *st;
};

static LogTestOutputState *LogTestOutputOf(LogOutput *output)
{
   return reinterpret_cast<LogTestOutput *>(output)->st;
}

static void LogTestOutputWrite(LogOutput *output, const LogRecord *record, size_t length,
                               const char *text)
{
   LogTestOutputState *out = LogTestOutputOf(output);
   LogTestEntry entry;
   entry.record = *record;
   entry.text.assign(text, length);
   MXUser_AcquireExclLock(out->lock);
   out->entries.push_back(std::move(entry));
   MXUser_ReleaseExclLock(out->lock);
   if (out->hasLogFromWrite) {
      Log("%s", out->logFromWrite.c_str());
   }
}

static void LogTestOutputBump(LogOutput *output, uint32 LogTestOutputState::*field)
{
   LogTestOutputState *out = LogTestOutputOf(output);
   MXUser_AcquireExclLock(out->lock);
   out->*field += 1;
   MXUser_ReleaseExclLock(out->lock);
}

static Bool LogTestOutputOpen(LogOutput *output)
{
   LogTestOutputBump(output, &LogTestOutputState::opens);
   return !LogTestOutputOf(output)->failOpen;
}

static void LogTestOutputDestroy(LogOutput *output)
{
   LogTestOutputState *out = LogTestOutputOf(output);
   if (out->destroyCount != nullptr) {
      __atomic_add_fetch(out->destroyCount, 1, __ATOMIC_SEQ_CST);
   }
   MXUser_DestroyExclLock(out->lock);
   free(output->name);
   delete out;
   delete reinterpret_cast<LogTestOutput *>(output);
}

static void LogTestOutputDisableThrottling(LogOutput *output)
{
   LogTestOutputBump(output, &LogTestOutputState::throttleOffs);
}

LogOutput *LogTestOutput_Create(const LogTestOutputOptions *options)
{
   LogTestOutputOptions defaults;
   if (options == nullptr) {
      options = &defaults;
   }
   LogTestOutput *whole = new LogTestOutput();
   static_assert(offsetof(LogTestOutput, base) == 0, "the output header comes first");
   LogTestOutputState *out = new LogTestOutputState();
   whole->st = out;
   LogOutput *base = &whole->base;
   base->header = 0;
   base->kind = options->kind;
   base->wholeMessage = options->wholeMessage;
   base->name = strdup(options->name != nullptr ? options->name : "test");
   base->state = nullptr;
   base->fileLevel = options->fileLevel;
   base->stderrLevel = options->stderrLevel;
   base->write = LogTestOutputWrite;
   base->open = LogTestOutputOpen;
   base->destroy = LogTestOutputDestroy;
   base->disableThrottling = LogTestOutputDisableThrottling;
   out->lock = MXUser_CreateExclLock("logTestOutput", RANK_UNRANKED);
   out->opens = 0;
   out->throttleOffs = 0;
   out->failOpen = options->failOpen;
   out->destroyCount = options->destroyCount;
   out->hasLogFromWrite = options->logFromWrite != nullptr;
   if (out->hasLogFromWrite) {
      out->logFromWrite = options->logFromWrite;
   }
   return base;
}

std::vector<LogTestEntry> LogTestOutput_Entries(LogOutput *output)
{
   LogTestOutputState *out = LogTestOutputOf(output);
   MXUser_AcquireExclLock(out->lock);
   std::vector<LogTestEntry> copy = out->entries;
   MXUser_ReleaseExclLock(out->lock);
   return copy;
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
   for (const LogTestEntry &e : LogTestOutput_Entries(output)) {
      all += e.text;
   }
   return all;
}

void LogTestOutput_Clear(LogOutput *output)
{
   LogTestOutputState *out = LogTestOutputOf(output);
   MXUser_AcquireExclLock(out->lock);
   out->entries.clear();
   MXUser_ReleaseExclLock(out->lock);
}

// Reads one counter under the output's lock.
static uint32 LogTestOutputCounter(LogOutput *output, uint32 LogTestOutputState::*field)
{
   LogTestOutputState *out = LogTestOutputOf(output);
   MXUser_AcquireExclLock(out->lock);
   uint32 n = out->*field;
   MXUser_ReleaseExclLock(out->lock);
   return n;
}

uint32 LogTestOutput_OpenCount(LogOutput *output)
{
   return LogTestOutputCounter(output, &LogTestOutputState::opens);
}

uint32 LogTestOutput_ThrottleOffCount(LogOutput *output)
{
   return LogTestOutputCounter(output, &LogTestOutputState::throttleOffs);
}
