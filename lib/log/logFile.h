/// The log file output (kind 0x12345): each line of each message, with a
/// configurable prefix, written to a file with one write call. It refuses to
/// write through a symbolic link or into a file replaced under it, rotates
/// the file by size (a refused reopen keeps the current file, is said once,
/// and is tried again after another rotate size of bytes), limits the write rate once a volume
/// threshold is passed (throttling; held lines are written when it ends or the output goes), and
/// counts the bytes it failed to write, reporting them in the file when writing works again.
///
/// Outputs are made by the log configuration (lib/log/logConfig.h); every
/// operation below runs under the log lock once the output is registered.
#ifndef LIB_LOG_LOGFILE_H
#define LIB_LOG_LOGFILE_H

#include "lib/log/logOutput.h"

/// The product word of generated log file names: "pellory-<pid>.log".
#define LOG_FILE_PRODUCT_WORD "pellory"

/// The settings of a file output, as one block.
typedef struct LogFileSettings
{
   int32 keepOld;             ///< old files kept at rotation; 0 reopens the same path
   int32 rotateSize;          ///< size after which the file rotates; 0 never
   int32 throttleThreshold;   ///< bytes offered before throttling can start
   int32 throttleBytesPerSec; ///< allowed rate; -1 unlimited, 0 nothing past the threshold
   Bool useTimeStamps;        ///< prefix options, in prefix order
   Bool useMilliseconds;
   Bool useLevelDesignator;
   Bool useThreadName;
   Bool useOpID;
   Bool append;         ///< keep an existing file, without a header
   Bool syncAfterWrite; ///< fsync after each write
   Bool fastRotation;   ///< rotate by renumbering instead of renaming
} LogFileSettings;

/// Everything a new file output is made from. The texts are copied.
typedef struct LogFileConfig
{
   LogFileSettings settings;
   const char *path;      ///< the log file; required
   const char *suffix;    ///< word in generated names and the clean-up pattern, or NULL
   const char *directory; ///< the log directory
   Bool defaultName;      ///< the path was generated from the product word and pid
   Bool systemArea;       ///< the directory is the system's log area
   int32 permissions;     ///< mode of a created file
   int32 fileLevel;
   int32 stderrLevel;
} LogFileConfig;

/// A new, unregistered and unopened file output named name; registering it
/// (Log_AddOutput) opens the file. Never NULL (allocation failure panics).
LogOutput *LogFile_Create(const char *name, const LogFileConfig *config);

/* Queries: each answers FALSE or NULL for an output of another kind. */

/// Copies the settings block into *settings.
Bool LogFile_GetSettings(const LogOutput *output, LogFileSettings *settings);
/// The path of the log file, owned by the output.
const char *LogFile_GetPath(const LogOutput *output);

/// Copies the whole file at sourcePath into the output's file (at its start,
/// replacing what it held, or at its end with the append setting), then
/// closes and deletes the source, also after a failure. FALSE when the
/// source cannot be opened or a read or write fails; each failure is logged
/// at level 3.
Bool LogFileCopyContents(const char *sourcePath, LogOutput *output);

/// Removes the log files of ended processes beside the output's file,
/// keeping the keep-old newest. Only for generated names ("pellory-<pid>"
/// with the suffix) and a keep-old other than 0.
void LogFileCleanOldLogs(LogOutput *output);

/// Moves the older log files aside, keeping keep-old of them: by renaming
/// (the newest old file is <base>-0<ext>) or, with fast rotation, by
/// renumbering (the newest has the largest number). Failures and the time
/// taken are logged at level 5.
void LogRotation(LogOutput *output);

/// Test seam only, not for production callers: replaces the clock of the
/// throttle measurements (microseconds; NULL restores the monotonic clock).
/// Not thread safe.
void LogFile_SetClockForTesting(uint64 (*nowMicroseconds)(void));

#endif
