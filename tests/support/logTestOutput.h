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
#ifndef TESTS_SUPPORT_LOGTESTOUTPUT_H
#define TESTS_SUPPORT_LOGTESTOUTPUT_H

#include <string>
#include <vector>

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
   Bool failOpen = FALSE;              ///< open reports failure
   uint32 *destroyCount = nullptr;     ///< incremented when destroyed
   const char *logFromWrite = nullptr; ///< logged at level 5 from every write
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
/// How often open and disable-throttling were called.
uint32 LogTestOutput_OpenCount(LogOutput *output);
uint32 LogTestOutput_ThrottleOffCount(LogOutput *output);

#endif
