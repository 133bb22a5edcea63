// The log facility core: entry points, formatting, filtering, the
// pre-output ring buffer and the output registry.
//
// The thresholds are read without the lock on every call so that a rejected
// message costs only the level arithmetic; they are written with atomic
// stores under the lock.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include "lib/lock/userlock.h"
#include "lib/log/logFile.h"
#include "lib/log/logInt.h"
#include "lib/misc/threadState.h"
#include "lib/misc/unicode.h"
#include "lib/misc/util.h"

#define LOG_STACK_BUFFER_SIZE 320
#define LOG_LARGE_BUFFER_SIZE 32768
#define LOG_RING_SIZE 65536

struct LogState
{
   const char *lockName;
   MXUserRecLock *lock;
   MX_Rank lockRank;
   Bool noLocking;
   uint32 creationGuard;
   int32 lockDepth;
   LogThresholds thresholds;
   char *largeBuffer; // null while a caller uses it
   LogRingBuffer ring;
   uint32 numOutputs;
   LogOutput *outputs[LOG_MAX_OUTPUTS];
   LogOpIdFunction opIdFunction;
};

static char logLargeBuffer[LOG_LARGE_BUFFER_SIZE];
static uint8 logRingArea[LOG_RING_SIZE];
// Replay reads entries here; only the lock holder uses it.
static char logDrainBuffer[LOG_LARGE_BUFFER_SIZE];

static LogState logState = {
    "logLock",
    NULL,
    RANK_logLock,
    FALSE,
    0,
    0,
    {LOG_INFO, -1},
    logLargeBuffer,
    {logRingArea, 0, 0, 0, LOG_RING_SIZE},
    0,
    {},
    NULL,
};

static const LogLevelDesc logLevels[LOG_LEVEL_COUNT] = {
    {0, "audit", "No"},    {1, "panic", "Cr"},    {2, "error", "Er"},    {3, "warning", "Wa"},
    {4, "notice", "No"},   {5, "info", "In"},     {6, "verbose", "In"},  {7, "trivia", "In"},
    {8, "debug", "Db"},    {9, "debug1", "Db"},   {10, "debug2", "Db"},  {11, "debug3", "Db"},
    {12, "debug4", "Db"},  {13, "debug5", "Db"},  {14, "debug6", "Db"},  {15, "debug7", "Db"},
    {16, "debug8", "Db"},  {17, "debug9", "Db"},  {18, "debug10", "Db"}, {19, "debug11", "Db"},
    {20, "debug12", "Db"}, {21, "debug13", "Db"}, {22, "debug14", "Db"}, {23, "debug15", "Db"},
};

/* Small helpers. */

static inline int32 LogLoad(const int32 *p)
{
   return __atomic_load_n(p, __ATOMIC_RELAXED);
}

static inline void LogStore(int32 *p, int32 value)
{
   __atomic_store_n(p, value, __ATOMIC_RELAXED);
}

static inline LogThresholds *LogSelectPair(LogState *state, uint32 module)
{
   if (module >= 1 && module <= LOG_MODULE_COUNT) {
      return &logModules[module - 1].thresholds;
   }
   return &state->thresholds;
}

/* The lock, created on first use. */

// Set while this thread creates the lock: only its own messages (from the
// lock code) are dropped, not those of threads that merely arrive meanwhile.
static __thread Bool logCreatingLock;

static MXUserRecLock *LogGetLock(LogState *state)
{
   MXUserRecLock *lock = __atomic_load_n(&state->lock, __ATOMIC_ACQUIRE);
   if (lock == NULL) {
      logCreatingLock = TRUE;
      __atomic_add_fetch(&state->creationGuard, 1, __ATOMIC_SEQ_CST);
      MXUserRecLock *mine = MXUser_CreateRecLock(state->lockName, state->lockRank);
      MXUserRecLock *expected = NULL;
      if (__atomic_compare_exchange_n(&state->lock, &expected, mine, FALSE, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
         lock = mine;
      } else {
         MXUser_DestroyRecLock(mine);
         lock = expected;
      }
      __atomic_sub_fetch(&state->creationGuard, 1, __ATOMIC_SEQ_CST);
      logCreatingLock = FALSE;
      tzset();
   }
   return lock;
}

// Without locking the depth stays 0, so a message an output logs from its
// write reaches the outputs at once; logDispatchDepth then bounds the
// nesting instead.
static void LogLock(LogState *state)
{
   if (!state->noLocking) {
      MXUser_AcquireRecLock(LogGetLock(state));
      state->lockDepth++;
   }
}

static void LogUnlock(LogState *state)
{
   if (!state->noLocking) {
      if (state->lockDepth > 0) {
         state->lockDepth--;
      }
      MXUser_ReleaseRecLock(state->lock);
   }
}

// How deep the calling thread is in handing messages to the outputs. A
// message logged at this depth or deeper waits in the ring buffer.
#define LOG_MAX_DISPATCH_DEPTH 2
static __thread uint32 logDispatchDepth;
static __thread Bool logReplaying;

Bool LogReplaying(void)
{
   return logReplaying;
}

/* Formatting. */

size_t LogCutAtCharacter(size_t size, char *buf)
{
   if (size == 0) {
      return 0;
   }
   if (size <= 2) {
      buf[0] = '\n';
      if (size == 2) {
         buf[1] = '\0';
      }
      return 1;
   }
   // A trailing incomplete sequence is dropped: the formatter would have
   // ended on the character before and left a zero byte where the newline
   // goes. Otherwise the start of the last whole character takes it.
   size_t end = Unicode_TrimToCharacter(buf, size - 1);
   size_t last = end < size - 1 || end == 0 ? end : Unicode_TrimToCharacter(buf, end - 1);
   buf[last] = '\n';
   buf[last + 1] = '\0';
   return last + 1;
}

// Most messages hold few 'q's: look at eight bytes at a time and jump to
// the first candidate. The lowest flagged byte is always a real match.
static inline uint64 LogWordQBits(uint64 word)
{
   const uint64 ones = 0x0101010101010101ULL;
   const uint64 highs = 0x8080808080808080ULL;
   uint64 x = (word | 0x2020202020202020ULL) ^ (ones * 'q');
   return (x - ones) & ~x & highs;
}

HOT_PATH void LogMask(char *text, size_t length)
{
   if (length <= 2) {
      return;
   }
   size_t i = 0;
   while (length - i >= 3) {
      if (length - i >= 8) {
         uint64 word;
         memcpy(&word, text + i, sizeof word);
         uint64 bits = LogWordQBits(word);
         if (bits == 0) {
            i += 8;
            continue;
         }
         i += (size_t)__builtin_ctzll(bits) / 8;
         if (length - i < 3) {
            break;
         }
      }
      if ((text[i] | 0x20) == 'q' && (text[i + 1] | 0x20) == 'z' && (text[i + 2] | 0x20) == 'v') {
         text[i] = text[i + 1] = text[i + 2] = '*';
         i += 3;
      } else {
         i++;
      }
   }
}

/* Records. */

HOT_PATH void LogMakeRecord(LogRecord *record, const LogLevelDesc *desc,
                            const LogThresholds *thresholds)
{
   memset(record, 0, sizeof *record);
   record->thresholds = thresholds;
   record->desc = desc;
   LogMakeTimeStamp(record);
   const char *name = ThreadState_GetName();
   if (name == NULL || name[0] == '\0') {
      name = "*UNKNOWN*";
   }
   size_t len = strnlen(name, LOG_THREAD_NAME_SIZE - 1);
   memcpy(record->threadName, name, len);
   LogOpIdFunction provider = __atomic_load_n(&logState.opIdFunction, __ATOMIC_ACQUIRE);
   if (provider != NULL && provider(LOG_OPID_SIZE, record->opId)) {
      record->opId[LOG_OPID_SIZE - 1] = '\0';
   }
}

/* Outputs. */

HOT_PATH static void LogDispatchToOutputs(LogState *state, const LogRecord *record, size_t length,
                                          const char *text)
{
   uint32 n = state->numOutputs;
   if (n == 0) {
      return;
   }
   // A message admitted by a module's threshold is not filtered again.
   Bool moduleRow = record->thresholds != &state->thresholds;
   int32 level = record->desc->level;
   Bool eligible[LOG_MAX_OUTPUTS];
   Bool anyLineOutput = FALSE;

   for (uint32 i = 0; i < n; i++) {
      LogOutput *out = state->outputs[i];
      eligible[i] = out->fileLevel >= 0 && (out->fileLevel >= level || moduleRow);
      if (out->wholeMessage) {
         if (eligible[i]) {
            out->write(out, record, length, text);
         }
      } else {
         anyLineOutput = TRUE;
      }
   }
   if (!anyLineOutput || length == 0) {
      return;
   }

   // The record is copied, to be marked as continued, only for a second
   // line: most messages are one.
   const LogRecord *current = record;
   LogRecord continued;
   size_t start = 0;
   while (start < length) {
      const char *nl = (const char *)memchr(text + start, '\n', length - start);
      size_t end = nl == NULL ? length : (size_t)(nl - text) + 1;
      // The registry may not change under an output, but keep to its size.
      for (uint32 i = 0; i < n && i < state->numOutputs; i++) {
         LogOutput *out = state->outputs[i];
         if (!out->wholeMessage && eligible[i]) {
            out->write(out, current, end - start, text + start);
         }
      }
      if (current == record && end < length) {
         continued = *record;
         continued.continuation = 1;
         current = &continued;
      }
      start = end;
   }
}

// Hands every buffered message to the outputs, oldest first. Entries that
// outputs log meanwhile are left for the next time.
COLD_PATH static void LogDrainRing(LogState *state)
{
   uint64 budget = state->ring.used;
   LogRecord record;
   size_t length;
   Bool outer = logReplaying;

   logReplaying = TRUE;
   while (budget > 0 && LogRingBuffer_Read(&state->ring, &record, logDrainBuffer,
                                           sizeof logDrainBuffer, &length)) {
      uint64 entry = length + 2 + LOG_RING_RECORD_SIZE;
      budget = budget > entry ? budget - entry : 0;
      logDispatchDepth++;
      LogDispatchToOutputs(state, &record, length, logDrainBuffer);
      logDispatchDepth--;
   }
   logReplaying = outer;
}

static void LogRecomputeThresholds(LogState *state)
{
   int32 file = LOG_INFO;
   int32 err = -1;
   if (state->numOutputs > 0) {
      file = state->outputs[0]->fileLevel;
      err = state->outputs[0]->stderrLevel;
      for (uint32 i = 1; i < state->numOutputs; i++) {
         if (state->outputs[i]->fileLevel > file) {
            file = state->outputs[i]->fileLevel;
         }
      }
   }
   LogStore(&state->thresholds.fileLevel, file);
   LogStore(&state->thresholds.stderrLevel, err);
}

/* Formatting and dispatch. */

// A message longer than the stack buffer: formatted again into the large
// buffer when no other thread holds it (*large set, to be given back), else
// cut at the stack buffer. *buf is where the text is; returns its length.
COLD_PATH static size_t LogFormatLong(LogState *state, const char *fmt, va_list args, char **buf,
                                      char **large)
{
   size_t limit = LOG_STACK_BUFFER_SIZE - 1;
   va_list copy;
   *large = __atomic_exchange_n(&state->largeBuffer, (char *)NULL, __ATOMIC_ACQ_REL);
   if (*large != NULL) {
      *buf = *large;
      limit = LOG_LARGE_BUFFER_SIZE - 1;
      va_copy(copy, args);
      int n = LogFormatV(*buf, limit, fmt, copy);
      va_end(copy);
      if (n >= 0 && (size_t)n < limit) {
         return (size_t)n;
      }
   }
   memset(*buf, 0, limit + 1);
   va_copy(copy, args);
   LogFormatV(*buf, limit, fmt, copy);
   va_end(copy);
   return LogCutAtCharacter(limit, *buf);
}

HOT_PATH static void LogDispatchSlow(LogState *state, uint32 level, LogThresholds *pair,
                                     Bool toOutputs, Bool toStderr, const char *fmt, va_list args)
    __attribute__((noinline));

static void LogDispatchSlow(LogState *state, uint32 level, LogThresholds *pair, Bool toOutputs,
                            Bool toStderr, const char *fmt, va_list args)
{
   int savedErrno = errno;
   char stackBuffer[LOG_STACK_BUFFER_SIZE];
   if (fmt == NULL) {
      fmt = ""; // logged as an empty line rather than crashing the caller
   }
   char *buf = stackBuffer;
   char *large = NULL;
   size_t limit = LOG_STACK_BUFFER_SIZE - 1; // one byte kept for the newline
   size_t length;
   va_list copy;

   va_copy(copy, args);
   int n = LogFormatV(buf, limit, fmt, copy);
   va_end(copy);
   if (n < 0) {
      length = 0;
   } else if ((size_t)n < limit) {
      length = (size_t)n;
   } else {
      length = LogFormatLong(state, fmt, args, &buf, &large);
   }

   if (length == 0) {
      buf[0] = '\n';
      length = 1;
   } else if (buf[length - 1] != '\n') {
      buf[length++] = '\n';
   }
   LogMask(buf, length);

   LogLock(state);
   if (toStderr) {
      Util_WriteAll(STDERR_FILENO, buf, length);
   }
   if (toOutputs) {
      LogRecord record;
      LogMakeRecord(&record, Log_LevelDescriptor(level), pair);
      if (state->lockDepth >= 2 || state->numOutputs == 0 ||
          logDispatchDepth >= LOG_MAX_DISPATCH_DEPTH) {
         LogRingBuffer_Append(&state->ring, &record, length, buf);
      } else {
         // A nested message must not drain: the outer drain's entry is in
         // the drain buffer.
         if (logDispatchDepth == 0 && state->ring.used != 0) {
            LogDrainRing(state);
         }
         logDispatchDepth++;
         LogDispatchToOutputs(state, &record, length, buf);
         logDispatchDepth--;
      }
   }
   LogUnlock(state);

   if (large != NULL) {
      __atomic_store_n(&state->largeBuffer, large, __ATOMIC_RELEASE);
   }
   errno = savedErrno;
}

// Where the thresholds send a message: the admitting pair, and whether it
// goes to the outputs (or the pre-output buffer) and to standard error.
// FALSE when it goes nowhere.
static inline Bool LogAdmits(LogState *state, uint32 levelAndModule, LogThresholds **pair,
                             Bool *toOutputs, Bool *toStderr)
{
   int32 level = (int32)(levelAndModule & LOG_LEVEL_MASK);
   if (level == 0) {
      *pair = &state->thresholds;
      *toOutputs = TRUE;
      *toStderr = FALSE;
      return TRUE;
   }
   *pair = LogSelectPair(state, levelAndModule >> LOG_MODULE_SHIFT);
   *toOutputs = LogLoad(&(*pair)->fileLevel) >= level;
   *toStderr = LogLoad(&(*pair)->stderrLevel) >= level;
   return *toOutputs || *toStderr;
}

// Everything up to the formatting is inline: a message the thresholds
// reject costs a few loads and compares.
static inline void LogFormatAndDispatch(LogState *state, uint32 levelAndModule, const char *fmt,
                                        va_list args)
{
   if (__atomic_load_n(&state->creationGuard, __ATOMIC_RELAXED) != 0 && logCreatingLock) {
      return;
   }
   LogThresholds *pair;
   Bool toOutputs;
   Bool toStderr;
   if (LogAdmits(state, levelAndModule, &pair, &toOutputs, &toStderr)) {
      LogDispatchSlow(state, levelAndModule & LOG_LEVEL_MASK, pair, toOutputs, toStderr, fmt, args);
   }
}

/* Entry points. */

HOT_PATH void Log_LevelV(uint32 levelAndModule, const char *fmt, va_list args)
{
   LogFormatAndDispatch(&logState, levelAndModule, fmt, args);
}

HOT_PATH void Log_Level(uint32 levelAndModule, const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   LogFormatAndDispatch(&logState, levelAndModule, fmt, args);
   va_end(args);
}

HOT_PATH void Log(const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   LogFormatAndDispatch(&logState, LOG_INFO, fmt, args);
   va_end(args);
}

void Warning(const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   LogFormatAndDispatch(&logState, LOG_WARNING, fmt, args);
   va_end(args);
}

Bool Log_IsSampledOccurrence(uint32 n)
{
   return (n >= 1 && n <= 99) || (n <= 9999 && n % 100 == 0) || (n <= 999999 && n % 10000 == 0) ||
          (n != 0 && n % 1000000 == 0);
}

// Counts the occurrence and logs it when the schedule keeps it.
static inline void LogSampledV(uint32 *counter, uint32 level, const char *fmt, va_list args)
{
   if (Log_IsSampledOccurrence(__atomic_add_fetch(counter, 1, __ATOMIC_RELAXED))) {
      LogFormatAndDispatch(&logState, level, fmt, args);
   }
}

void Log_Sampled(uint32 *counter, const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   LogSampledV(counter, LOG_INFO, fmt, args);
   va_end(args);
}

void Warning_Sampled(uint32 *counter, const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   LogSampledV(counter, LOG_WARNING, fmt, args);
   va_end(args);
}

/* Levels and modules. */

const LogLevelDesc *Log_LevelDescriptor(uint32 level)
{
   return level < LOG_LEVEL_COUNT ? &logLevels[level] : &logLevels[LOG_INFO];
}

const LogLevelDesc *Log_LevelByName(const char *name)
{
   if (name == NULL) {
      return NULL;
   }
   for (int i = 0; i < LOG_LEVEL_COUNT; i++) {
      if (strcasecmp(name, logLevels[i].name) == 0) {
         return &logLevels[i];
      }
   }
   return NULL;
}

int32 Log_ModuleByName(const char *name)
{
   if (name == NULL) {
      return -1;
   }
   for (int i = 0; i < LOG_MODULE_COUNT; i++) {
      if (strcmp(name, logModules[i].name) == 0) {
         return i + 1;
      }
   }
   return -1;
}

const char *Log_ModuleName(uint32 module)
{
   if (module == 0) {
      return "";
   }
   return module <= LOG_MODULE_COUNT ? logModules[module - 1].name : NULL;
}

int32 Log_GetModuleFileLevel(uint32 module)
{
   return module <= LOG_MODULE_COUNT ? LogLoad(&LogSelectPair(&logState, module)->fileLevel) : -1;
}

int32 Log_GetModuleStderrLevel(uint32 module)
{
   return module <= LOG_MODULE_COUNT ? LogLoad(&LogSelectPair(&logState, module)->stderrLevel) : -1;
}

int32 Log_SetModuleFileLevel(uint32 module, int32 level)
{
   if (module > LOG_MODULE_COUNT) {
      return -1;
   }
   LogStore(&LogSelectPair(&logState, module)->fileLevel, level);
   return level;
}

int32 Log_SetModuleStderrLevel(uint32 module, int32 level)
{
   if (module > LOG_MODULE_COUNT) {
      return -1;
   }
   LogStore(&LogSelectPair(&logState, module)->stderrLevel, level);
   return level;
}

Bool Log_IsEnabled(uint32 levelAndModule)
{
   LogThresholds *pair;
   Bool toOutputs;
   Bool toStderr;
   return LogAdmits(&logState, levelAndModule, &pair, &toOutputs, &toStderr);
}

size_t Log_MaxMessageSize(void)
{
   return LOG_MAX_MESSAGE_SIZE;
}

/* The registry. */

static int LogFindOutput(const LogState *state, const LogOutput *output)
{
   for (uint32 i = 0; i < state->numOutputs; i++) {
      if (state->outputs[i] == output) {
         return (int)i;
      }
   }
   return -1;
}

static Bool LogKnownKind(uint32 kind)
{
   return kind == LOG_OUTPUT_KIND_FILE || kind == LOG_OUTPUT_KIND_2 || kind == LOG_OUTPUT_KIND_3 ||
          kind == LOG_OUTPUT_KIND_4 || kind == LOG_OUTPUT_KIND_5;
}

// Whether an output of kind adding may join one of kind present.
static Bool LogKindsGoTogether(uint32 adding, uint32 present)
{
   switch (adding) {
   case LOG_OUTPUT_KIND_FILE:
   case LOG_OUTPUT_KIND_3:
      return present != LOG_OUTPUT_KIND_4 && present != LOG_OUTPUT_KIND_5;
   case LOG_OUTPUT_KIND_2:
      return present != LOG_OUTPUT_KIND_2 && present != LOG_OUTPUT_KIND_4 &&
             present != LOG_OUTPUT_KIND_5;
   case LOG_OUTPUT_KIND_4:
      return present == LOG_OUTPUT_KIND_4;
   default:
      return FALSE;
   }
}

static Bool LogMayAdd(const LogState *state, const LogOutput *output)
{
   if (state->numOutputs >= LOG_MAX_OUTPUTS) {
      return FALSE;
   }
   for (uint32 i = 0; i < state->numOutputs; i++) {
      const LogOutput *present = state->outputs[i];
      if (present == output) {
         return FALSE;
      }
      if (present->kind == output->kind && strcmp(present->name, output->name) == 0) {
         return FALSE;
      }
      if (!LogKnownKind(present->kind) || !LogKindsGoTogether(output->kind, present->kind)) {
         return FALSE;
      }
   }
   return LogKnownKind(output->kind);
}

Bool Log_AddOutput(LogOutput *output)
{
   if (output == NULL) {
      return FALSE;
   }
   output->state = &logState;
   if (output->open != NULL && !output->open(output)) {
      return FALSE;
   }
   LogState *state = &logState;
   LogLock(state);
   Bool ok = LogMayAdd(state, output);
   if (ok) {
      state->outputs[state->numOutputs] = output;
      __atomic_store_n(&state->numOutputs, state->numOutputs + 1, __ATOMIC_RELAXED);
      LogRecomputeThresholds(state);
      if (state->numOutputs == 1) {
         LogDrainRing(state);
      }
   }
   LogUnlock(state);
   return ok;
}

Bool Log_ReplaceOutput(LogOutput *old, LogOutput *newOutput, Bool copyContents)
{
   LogState *state = &logState;
   if (old == NULL) {
      return FALSE;
   }
   if (newOutput != NULL) {
      newOutput->state = state;
      if (newOutput->open != NULL && !newOutput->open(newOutput)) {
         return FALSE;
      }
   }
   LogLock(state);
   int index = LogFindOutput(state, old);
   Bool ok = index >= 0;
   if (ok && newOutput != NULL) {
      ok = LogFindOutput(state, newOutput) < 0 && newOutput->kind == old->kind &&
           strcmp(newOutput->name, old->name) == 0;
      if (ok && copyContents) {
         const char *path = LogFile_GetPath(old);
         ok = path != NULL && newOutput->kind == LOG_OUTPUT_KIND_FILE;
         if (ok) {
            LogFileCopyContents(path, newOutput);
         }
      }
      if (ok) {
         state->outputs[index] = newOutput;
      }
   } else if (ok) {
      ok = !copyContents;
      if (ok) {
         state->outputs[index] = state->outputs[state->numOutputs - 1];
         __atomic_store_n(&state->numOutputs, state->numOutputs - 1, __ATOMIC_RELAXED);
      }
   }
   if (ok) {
      LogRecomputeThresholds(state);
   }
   LogUnlock(state);
   if (ok && old->destroy != NULL) {
      old->destroy(old);
   }
   return ok;
}

Bool Log_FreeOutput(LogOutput *output)
{
   if (output == NULL) {
      return FALSE;
   }
   LogLock(&logState);
   Bool registered = LogFindOutput(&logState, output) >= 0;
   LogUnlock(&logState);
   if (registered) {
      return FALSE;
   }
   if (output->destroy != NULL) {
      output->destroy(output);
   }
   return TRUE;
}

void Log_Exit(void)
{
   LogState *state = &logState;
   LogOutput *outputs[LOG_MAX_OUTPUTS];

   LogLock(state);
   uint32 n = state->numOutputs;
   memcpy(outputs, state->outputs, n * sizeof outputs[0]);
   __atomic_store_n(&state->numOutputs, 0, __ATOMIC_RELAXED);
   memset(state->outputs, 0, sizeof state->outputs);
   LogRecomputeThresholds(state);
   __atomic_store_n(&state->opIdFunction, (LogOpIdFunction)NULL, __ATOMIC_RELEASE);
   LogUnlock(state);
   // The depth and the creation guard return to 0 by themselves; clearing
   // them here could only break a thread that holds or creates the lock.
   state->noLocking = FALSE;

   for (uint32 i = 0; i < n; i++) {
      if (outputs[i]->destroy != NULL) {
         outputs[i]->destroy(outputs[i]);
      }
   }
}

Bool Log_HaveOutputs(void)
{
   LogLock(&logState);
   Bool have = logState.numOutputs > 0;
   LogUnlock(&logState);
   return have;
}

const char *Log_GetFileName(void)
{
   const char *path = NULL;
   LogLock(&logState);
   for (uint32 i = 0; i < logState.numOutputs; i++) {
      if (logState.outputs[i]->kind == LOG_OUTPUT_KIND_FILE) {
         path = LogFile_GetPath(logState.outputs[i]);
         break;
      }
   }
   LogUnlock(&logState);
   return path;
}

void Log_DisableThrottling(void)
{
   LogLock(&logState);
   for (uint32 i = 0; i < logState.numOutputs; i++) {
      LogOutput *out = logState.outputs[i];
      if (out->disableThrottling != NULL) {
         out->disableThrottling(out);
      }
   }
   LogUnlock(&logState);
}

int32 Log_SetOutputLevel(LogOutput *output, int32 level)
{
   LogLock(&logState);
   int32 previous = output->fileLevel;
   output->fileLevel = level;
   LogRecomputeThresholds(&logState);
   LogUnlock(&logState);
   return previous;
}

void Log_RegisterOpIdFunction(LogOpIdFunction provider)
{
   LogLock(&logState);
   __atomic_store_n(&logState.opIdFunction, provider, __ATOMIC_RELEASE);
   LogUnlock(&logState);
}

void Log_SetNoLocking(Bool on)
{
   // The real lock serialises the switch itself.
   MXUserRecLock *lock = LogGetLock(&logState);
   MXUser_AcquireRecLock(lock);
   logState.noLocking = on;
   if (on) {
      logState.lockDepth = 0;
   }
   MXUser_ReleaseRecLock(lock);
}
