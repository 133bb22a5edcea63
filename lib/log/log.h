/// The log facility: every layer reports diagnostics through these entry
/// points. They never fail and preserve the caller's errno.
///
/// A message is formatted once, ended with exactly one newline, masked
/// (every case-insensitive "qzv" becomes "***"), filtered by level and handed
/// to the registered outputs. Until the first output is registered, messages
/// are kept in a 65536-byte ring buffer (oldest dropped first) and replayed
/// into that output. All state is guarded by one recursive lock, "logLock".
#ifndef LIB_LOG_LOG_H
#define LIB_LOG_LOG_H

#include <stdarg.h>
#include <stddef.h>

#include "lib/misc/basicTypes.h"

/// Levels: a smaller number is more severe.
#define LOG_AUDIT 0
#define LOG_PANIC 1
#define LOG_ERROR 2
#define LOG_WARNING 3
#define LOG_NOTICE 4
#define LOG_INFO 5
#define LOG_VERBOSE 6
#define LOG_TRIVIA 7
#define LOG_DEBUG 8
#define LOG_DEBUG1 9
#define LOG_DEBUG15 23
#define LOG_LEVEL_COUNT 24

/// A level-and-module value: the level in the low 5 bits, the module number
/// (1 to LOG_MODULE_COUNT, 0 for none) above them.
#define LOG_LEVEL_MASK 31U
#define LOG_MODULE_SHIFT 5
#define LOG_MODULE_COUNT 314
#define LOG_LEVEL_MODULE(level, module) ((uint32)(level) | ((uint32)(module) << LOG_MODULE_SHIFT))

/// Largest message an output can receive: 32767 less the 144-byte record.
#define LOG_MAX_MESSAGE_SIZE 32623

/// One row of the level table.
typedef struct LogLevelDesc
{
   int32 level;
   const char *name;       ///< "audit", "panic", ... "debug15"
   const char *designator; ///< two letters for line prefixes, e.g. "Wa"
} LogLevelDesc;

/// A pair of thresholds. A threshold admits a message when it is at least
/// the message's level; -1 admits nothing (level 0 bypasses the thresholds).
typedef struct LogThresholds
{
   int32 fileLevel;
   int32 stderrLevel;
} LogThresholds;

/// One row of the module table (fixed at build time).
typedef struct LogModuleEntry
{
   const char *name;
   LogThresholds thresholds;
} LogModuleEntry;

typedef struct LogOutput LogOutput; // lib/log/logOutput.h

/* Entry points. */

/// Level in the low 5 bits, module number above (0: no module).
void Log_Level(uint32 levelAndModule, const char *fmt, ...) PRINTF_DECL(2, 3);
void Log_LevelV(uint32 levelAndModule, const char *fmt, va_list args) PRINTF_DECL(2, 0);
/// Level 5 ("info").
void Log(const char *fmt, ...) PRINTF_DECL(1, 2);
/// Level 3 ("warning").
void Warning(const char *fmt, ...) PRINTF_DECL(1, 2);
/// Count an occurrence in *counter (atomically) and log it at level 5 (3)
/// only when it is sampled: occurrences 1 to 99, then every 100th up to
/// 9999, every 10000th up to 999999, and every 1000000th after that.
/// Occurrences that are not sampled leave errno untouched too.
void Log_Sampled(uint32 *counter, const char *fmt, ...) PRINTF_DECL(2, 3);
void Warning_Sampled(uint32 *counter, const char *fmt, ...) PRINTF_DECL(2, 3);
/// TRUE when occurrence n (counted from 1) of a sampled message is logged.
Bool Log_IsSampledOccurrence(uint32 n);

/* Levels and modules. */

/// The row of a level number; the row of level 5 for 24 and above.
const LogLevelDesc *Log_LevelDescriptor(uint32 level);
/// The row whose name matches, ignoring case; null when none does.
const LogLevelDesc *Log_LevelByName(const char *name);
/// The module number (1 to 314) of a name compared exactly, or -1.
int32 Log_ModuleByName(const char *name);
/// "" for 0, the row's name for 1 to 314, null otherwise.
const char *Log_ModuleName(uint32 module);
/// Module 0 is the global pair. An invalid number returns -1.
int32 Log_GetModuleFileLevel(uint32 module);
int32 Log_GetModuleStderrLevel(uint32 module);
/// Store a threshold and return it; an invalid number stores nothing and
/// returns -1. Module 0 sets the global pair until the outputs change.
int32 Log_SetModuleFileLevel(uint32 module, int32 level);
int32 Log_SetModuleStderrLevel(uint32 module, int32 level);
/// Whether Log_Level would keep a message of this value: TRUE at level 0;
/// otherwise whether the selected pair (a module's row, or the global pair
/// for module 0 and numbers above 314) admits the level to the outputs (or
/// the pre-output buffer) or to standard error.
Bool Log_IsEnabled(uint32 levelAndModule);
/// LOG_MAX_MESSAGE_SIZE.
size_t Log_MaxMessageSize(void);

/* Outputs. Each of these takes the log lock. */

/// Opens and registers an output. FALSE (the output stays the caller's, to
/// free with Log_FreeOutput) when opening fails, when 10 outputs are
/// registered, when one of the same kind and name is, or when the kinds do
/// not go together. The first output receives the buffered messages.
Bool Log_AddOutput(LogOutput *output);
/// Puts newOutput (opened here) in the place of old, or with no newOutput
/// removes old; then destroys old. copyContents (file outputs only) copies
/// old's file into newOutput's. FALSE, changing nothing, when old is not
/// registered, newOutput is, their kinds or names differ, or copying is
/// asked without a new file output.
Bool Log_ReplaceOutput(LogOutput *old, LogOutput *newOutput, Bool copyContents);
/// Destroys an output that is not registered; FALSE for a registered one.
Bool Log_FreeOutput(LogOutput *output);
/// Unregisters and destroys every output and clears the operation-id
/// provider and the no-locking switch. The buffered messages stay.
void Log_Exit(void);
Bool Log_HaveOutputs(void);
/// Path of the first registered file output, or null. Owned by the output.
const char *Log_GetFileName(void);
/// Lifts the rate limit of every output.
void Log_DisableThrottling(void);
/// Sets an output's file threshold, returns the previous one, and
/// recomputes the global thresholds.
int32 Log_SetOutputLevel(LogOutput *output, int32 level);

/// Provider of the operation id shown with each message: fills at most
/// size bytes and returns TRUE when it did.
typedef Bool (*LogOpIdFunction)(size_t size, char *buf);
void Log_RegisterOpIdFunction(LogOpIdFunction provider);
/// With on, the log lock is neither taken nor released (single-threaded
/// shutdown paths).
void Log_SetNoLocking(Bool on);

#endif
