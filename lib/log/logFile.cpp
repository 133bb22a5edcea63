// The log file output. Every line costs one write call: the prefix and the
// line are put together in the output's own line buffer, allocated with the
// output, so nothing is allocated per line.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "lib/log/logFile.h"
#include "lib/log/logInt.h"
#include "lib/misc/hostinfo.h"
#include "lib/misc/productState.h"
#include "lib/misc/unicode.h"
#include "lib/misc/util.h"
#include "lib/panic/panic.h"

#define LOG_FILE_HEADER_WORD 0x0101U
#define LOG_FILE_HISTORY_SIZE 65536
#define LOG_FILE_MESSAGE_SIZE 32769
#define LOG_FILE_LINE_PREFIX_MAX 160
#define LOG_FILE_HEADER_PREFIX_MAX 289
#define LOG_FILE_COPY_BLOCK 16384
#define LOG_FILE_THROTTLE_INTERVAL_US 5000000ULL
#define LOG_FILE_THROTTLED_INTERVAL_US 60000000ULL

typedef struct LogFile
{
   LogOutput base;
   char *path;
   char *suffix;
   char *directory;
   Bool opened;
   Bool defaultName;
   Bool systemArea;
   Bool writing; // inside LogFileWrite: a nested line skips rotation and throttling
   Bool quiet;   // retrying a refused reopen: what it would say was said already
   LogFileSettings s;
   int32 permissions;
   int32 utcOffset; // seconds east of UTC, when created
   uint64 currentSize;
   uint64 discarded;
   uint64 retryReopenAt; // size after a refused reopen at which to try again; 0 none
   int fd;
   uint64 throttleTotal;
   uint64 throttleLastTotal;
   uint64 throttleLastTime;
   Bool throttled;
   LogRingBuffer history;
   uint8 *historyArea;
   char message[LOG_FILE_MESSAGE_SIZE];
   char line[LOG_FILE_HEADER_PREFIX_MAX + LOG_FILE_MESSAGE_SIZE];
} LogFile;

static uint64 LogFileMonotonicUs(void)
{
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return (uint64)ts.tv_sec * 1000000ULL + (uint64)ts.tv_nsec / 1000;
}

static uint64 (*logFileClock)(void) = LogFileMonotonicUs;

void LogFile_SetClockForTesting(uint64 (*nowMicroseconds)(void))
{
   logFileClock = nowMicroseconds != NULL ? nowMicroseconds : LogFileMonotonicUs;
}

static LogFile *LogFileOf(const LogOutput *output)
{
   return output != NULL && output->kind == LOG_OUTPUT_KIND_FILE ? (LogFile *)output : NULL;
}

// What the output says about itself, at level 3 (warning) or 5 (info);
// nothing while it retries a refused reopen.
static void LogFileSay(const LogFile *f, uint32 level, const char *fmt, ...) PRINTF_DECL(3, 4);

static void LogFileSay(const LogFile *f, uint32 level, const char *fmt, ...)
{
   if (f->quiet) {
      return;
   }
   va_list args;
   va_start(args, fmt);
   Log_LevelV(level, fmt, args);
   va_end(args);
}

/* Line prefix and raw writes. */

// Copies a record field (NUL-terminated within its array) and returns the
// new end: a byte loop beats strlen and memcpy for these short texts.
static inline char *LogFileCopyField(char *dst, const char *src)
{
   while (*src != '\0') {
      *dst++ = *src++;
   }
   return dst;
}

// The longest prefix the record's fixed-size fields can give.
#define LOG_FILE_PREFIX_LONGEST                                                                    \
   (LOG_TIMESTAMP_SIZE + LOG_MSECS_SIZE + LOG_ZONE_SIZE + 10 + LOG_THREAD_NAME_SIZE + LOG_OPID_SIZE)
static_assert(LOG_FILE_PREFIX_LONGEST <= LOG_FILE_LINE_PREFIX_MAX, "line prefix cut short");

// The prefix options' text for the record and a NUL; it always fits the
// line prefix room. Built by hand: it runs for every line.
HOT_PATH static size_t LogLinePrefix(const LogFileSettings *o, const LogRecord *record, char *buf)
{
   char *p = buf;
   if (o->useTimeStamps) {
      p = LogFileCopyField(p, record->timeStamp);
      if (o->useMilliseconds) {
         p = LogFileCopyField(p, record->msecs);
      }
      p = LogFileCopyField(p, record->zone);
      *p++ = ' ';
   }
   if (o->useLevelDesignator) {
      int32 l = record->desc->level;
      p = LogFileCopyField(p, record->desc->designator);
      p[0] = '(';
      p[1] = (char)('0' + (l / 10) % 10);
      p[2] = (char)('0' + l % 10);
      p[3] = ')';
      p += 4;
      if (record->continuation) {
         *p++ = '+';
      }
      *p++ = ' ';
   }
   if (o->useThreadName) {
      p = LogFileCopyField(p, record->threadName);
      *p++ = ' ';
   }
   if (o->useOpID) {
      p = record->opId[0] != '\0' ? LogFileCopyField(p, record->opId) : LogFileCopyField(p, "-");
      *p++ = ' ';
   }
   *p = '\0';
   return (size_t)(p - buf);
}

// One write, retried only when a signal interrupted it before anything was
// written. Returns the bytes written or -1.
HOT_PATH static ssize_t LogFileWriteOnce(int fd, const char *data, size_t length)
{
   ssize_t n;
   do {
      n = write(fd, data, length);
   } while (n < 0 && errno == EINTR);
   return n;
}

// Reports the bytes that could not be written, before the next line.
COLD_PATH static void LogFileReportDiscarded(LogFile *f, const LogRecord *record)
{
   LogRecord report = *record;
   report.desc = Log_LevelDescriptor(LOG_AUDIT);
   report.continuation = 0;
   char text[LOG_FILE_LINE_PREFIX_MAX + 80];
   size_t n = LogLinePrefix(&f->s, &report, text);
   n += (size_t)snprintf(text + n, sizeof text - n,
                         ">>> Error writing log, %lu bytes discarded. Disk full?\n",
                         (unsigned long)f->discarded);
   ssize_t w = LogFileWriteOnce(f->fd, text, n);
   if (w > 0) {
      f->currentSize += (uint64)w;
   }
   if (w == (ssize_t)n) {
      f->discarded = 0;
   }
}

// Writes prefix and line as one piece; what cannot be written is counted
// and reported before the next write that works.
HOT_PATH static void LogFileWriteRaw(LogFile *f, const LogRecord *record, const char *data,
                                     size_t length)
{
   if (f->fd < 0) {
      f->discarded += length;
      return;
   }
   if (__builtin_expect(f->discarded != 0, 0)) {
      LogFileReportDiscarded(f, record);
   }
   ssize_t w = LogFileWriteOnce(f->fd, data, length);
   if (w >= 0) {
      f->currentSize += (uint64)w;
      f->discarded += length - (size_t)w;
      if (f->s.syncAfterWrite) {
         fsync(f->fd);
      }
   } else {
      f->discarded += length;
   }
}

HOT_PATH static void LogFileWriteLine(LogFile *f, const LogRecord *record, size_t length,
                                      const char *text)
{
   size_t n = LogLinePrefix(&f->s, record, f->line);
   length = std::min(length, sizeof f->line - n);
   memcpy(f->line + n, text, length);
   LogFileWriteRaw(f, record, f->line, n + length);
}

/* Opening. */

static const char *LogFileErrorText(int error)
{
   return strerror(error);
}

// Opens the path for reading and writing, creating it, and makes sure the
// descriptor is the file the path names: no symbolic link, nothing swapped
// in between. Returns 0 with *fdOut set, or an error number.
static int LogFileOpenChecked(LogFile *f, int *fdOut)
{
   // O_NOFOLLOW: a link must not even be followed to create its target.
   int fd = open(f->path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, (mode_t)f->permissions);
   if (fd < 0) {
      int error = errno;
      struct stat lst;
      if (error == ELOOP && lstat(f->path, &lst) == 0 && S_ISLNK(lst.st_mode)) {
         LogFileSay(f, LOG_WARNING, "Log file '%s' is a symbolic link.\n", f->path);
      } else {
         LogFileSay(f, LOG_WARNING, "Unable to open '%s': %s\n", f->path, LogFileErrorText(error));
      }
      return error;
   }
   struct stat fst;
   struct stat lst;
   Bool ok = FALSE;
   if (fstat(fd, &fst) != 0) {
      LogFileSay(f, LOG_WARNING, "Cannot fstat the file '%s': '%s'\n", f->path,
                 LogFileErrorText(errno));
   } else if (lstat(f->path, &lst) != 0) {
      LogFileSay(f, LOG_WARNING, "Cannot lstat the file '%s': '%s'\n", f->path,
                 LogFileErrorText(errno));
   } else if (S_ISLNK(lst.st_mode)) {
      LogFileSay(f, LOG_WARNING, "Log file '%s' is a symbolic link.\n", f->path);
   } else if (fst.st_dev != lst.st_dev || fst.st_ino != lst.st_ino) {
      LogFileSay(f, LOG_WARNING, "Log file '%s' has changed.\n", f->path);
   } else {
      ok = TRUE;
   }
   if (!ok) {
      close(fd);
      return EIO;
   }
   *fdOut = fd;
   return 0;
}

static const char *LogArchString(void)
{
   switch (sizeof(void *) * 8) {
   case 64:
      return "x86_64";
   case 32:
      return "x86";
   default:
      Panic("%s: unknown bitness (%d)\n", __func__, (int)(sizeof(void *) * 8));
   }
}

static const char *LogFileOrUnknown(const char *text)
{
   return text != NULL && text[0] != '\0' ? text : "unknown";
}

// The header lines, each the record's prefix and a text, one write each.
static Bool LogFileWriteHeader(LogFile *f, const LogRecord *record)
{
   char prefix[LOG_FILE_HEADER_PREFIX_MAX];
   size_t p = LogLinePrefix(&f->s, record, prefix);
   char lines[6][512];
   int count = 0;
   snprintf(lines[count++], sizeof lines[0], "Log for %s pid=%d version=%s build=%s option=%s\n",
            LogFileOrUnknown(ProductState_GetName()), (int)getpid(),
            LogFileOrUnknown(ProductState_GetVersion()),
            LogFileOrUnknown(ProductState_GetBuildNumber()),
            LogFileOrUnknown(ProductState_GetOption()));
   snprintf(lines[count++], sizeof lines[0], "The host is %s.\n", LogArchString());
   snprintf(lines[count++], sizeof lines[0], "Host codepage=%s encoding=%s\n",
            Unicode_GetCurrentCodeSetName(),
            LogFileOrUnknown(Unicode_EncodingEnumToName(STRING_ENCODING_DEFAULT)));
   if (!f->s.useTimeStamps) {
      snprintf(lines[count++], sizeof lines[0], "Log creation time is %s%s%s\n", record->timeStamp,
               record->msecs, record->zone);
   }
   snprintf(lines[count++], sizeof lines[0], "Host is %s\n", LogFileOrUnknown(Hostinfo_HostName()));
   int32 offset = f->utcOffset;
   snprintf(lines[count++], sizeof lines[0], "Host offset from UTC is %+03d:%02d.\n",
            (int)(offset / 3600), (int)((offset < 0 ? -offset : offset) % 3600 / 60));

   Bool ok = TRUE;
   for (int i = 0; i < count; i++) {
      size_t len = strlen(lines[i]);
      memcpy(f->line, prefix, p);
      memcpy(f->line + p, lines[i], len);
      ssize_t w = LogFileWriteOnce(f->fd, f->line, p + len);
      if (w > 0) {
         f->currentSize += (uint64)w;
      }
      ok = ok && w == (ssize_t)(p + len);
   }
   if (!ok) {
      Warning("Unable to label log file '%s'\n", f->path);
   }
   return ok;
}

static void LogFileCloseAndDelete(LogFile *f, int fd)
{
   close(fd);
   unlink(f->path);
}

static Bool LogFileOpen(LogFile *f)
{
   struct stat st;
   if (stat(f->path, &st) == 0 &&
       (S_ISDIR(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ||
        S_ISFIFO(st.st_mode))) {
      Warning("Rejecting '%s' because it is not an acceptable type.\n", f->path);
      return FALSE;
   }
   int fd = -1;
   Bool appended = FALSE;
   if (f->s.append) {
      appended = LogFileOpenChecked(f, &fd) == 0;
      if (!appended) {
         Warning("Could not open log file '%s' for append, ignoring log.append option\n", f->path);
         f->s.append = FALSE;
      }
   }
   if (!appended) {
      if (!f->defaultName && f->s.keepOld != 0) {
         LogRotation(&f->base);
      }
      if (LogFileOpenChecked(f, &fd) != 0) {
         Warning("Open of '%s' failed\n", f->path);
         return FALSE;
      }
      if (ftruncate(fd, 0) != 0) {
         Warning("Truncation of '%s' failed: %s\n", f->path, LogFileErrorText(errno));
         LogFileCloseAndDelete(f, fd);
         return FALSE;
      }
      LogRecord record;
      LogMakeRecord(&record, Log_LevelDescriptor(LOG_INFO), NULL);
      f->fd = fd;
      if (!LogFileWriteHeader(f, &record)) {
         f->fd = -1;
         LogFileCloseAndDelete(f, fd);
         return FALSE;
      }
   }
   f->fd = fd;
   f->historyArea = (uint8 *)Util_SafeCalloc(1, LOG_FILE_HISTORY_SIZE);
   LogRingBuffer_Init(&f->history, f->historyArea, LOG_FILE_HISTORY_SIZE);
   off_t end = lseek(fd, 0, SEEK_END);
   f->currentSize = end > 0 ? (uint64)end : 0;
   return TRUE;
}

static Bool LogFileOpenOnce(LogOutput *output)
{
   LogFile *f = LogFileOf(output);
   if (f == NULL) {
      return FALSE;
   }
   if (f->opened) {
      return TRUE;
   }
   if (!LogFileOpen(f)) {
      return FALSE;
   }
   f->opened = TRUE;
   f->throttleTotal = f->currentSize;
   // The rate is measured from the output's start, not from the clock's
   // origin (the machine's boot).
   f->throttleLastTotal = f->throttleTotal;
   f->throttleLastTime = logFileClock();
   return TRUE;
}

/* Writing. */

// What the path names: nothing (0), the file being written (1), or
// something else (2).
static int LogFileAtPath(const LogFile *f)
{
   struct stat lst;
   if (lstat(f->path, &lst) != 0) {
      return 0;
   }
   struct stat fst;
   return fstat(f->fd, &fst) == 0 && fst.st_dev == lst.st_dev && fst.st_ino == lst.st_ino ? 1 : 2;
}

// Starts a fresh file at the path once the current one is too big. When the
// new file cannot be opened, writing goes on into the old one and the next
// try waits for another rotate size of bytes; the refusal is said once, not
// again at each try of the same streak.
COLD_PATH static void LogFileRotateNow(LogFile *f, const LogRecord *record)
{
   f->quiet = f->retryReopenAt != 0;
   // With nothing at the path an earlier try has moved the file aside
   // already; rotating again would push it out of the kept ones.
   if (f->s.keepOld != 0 && LogFileAtPath(f) != 0) {
      LogRotation(&f->base);
   }
   // Renames that failed leave the file being written at the path: opened
   // again, it would take the new lines over its old ones.
   int fd;
   Bool refused = (f->s.keepOld != 0 && LogFileAtPath(f) == 1) || LogFileOpenChecked(f, &fd) != 0;
   f->quiet = FALSE;
   if (refused) {
      f->retryReopenAt = f->currentSize + (uint64)(int64)f->s.rotateSize;
      return;
   }
   f->retryReopenAt = 0;
   int old = f->fd;
   if (f->s.keepOld == 0) {
      // The same file again: start it afresh, or old lines would stay
      // behind the new ones.
      if (ftruncate(fd, 0) != 0) {
         Warning("Truncation of '%s' failed: %s\n", f->path, LogFileErrorText(errno));
      }
   }
   f->currentSize = 0;
   f->discarded = 0;
   f->fd = fd;
   LogRecord header = *record;
   header.desc = Log_LevelDescriptor(LOG_INFO);
   header.continuation = 0;
   if (LogFileWriteHeader(f, &header) || f->s.keepOld == 0) {
      // With keep-old 0 both descriptors name one file: keep the new one.
      close(old);
   } else {
      LogFileCloseAndDelete(f, fd);
      f->fd = old;
   }
}

static Bool LogFileThrottleDecision(LogFile *f, size_t length)
{
   if (f->s.throttleBytesPerSec == -1) {
      return FALSE;
   }
   f->throttleTotal += length;
   if (f->throttleTotal < (uint64)(int64)f->s.throttleThreshold) {
      return FALSE;
   }
   if (f->s.throttleBytesPerSec == 0) {
      return TRUE;
   }
   uint64 now = logFileClock();
   uint64 interval = f->throttled ? LOG_FILE_THROTTLED_INTERVAL_US : LOG_FILE_THROTTLE_INTERVAL_US;
   if (now > f->throttleLastTime && now - f->throttleLastTime > interval) {
      uint64 rate =
          (f->throttleTotal - f->throttleLastTotal) * 1000000ULL / (now - f->throttleLastTime);
      f->throttleLastTime = now;
      f->throttleLastTotal = f->throttleTotal;
      return rate > (uint64)f->s.throttleBytesPerSec;
   }
   return f->throttled;
}

// Writes the lines held while throttled, oldest first.
static void LogFileWriteHeld(LogFile *f)
{
   LogRecord held;
   size_t heldLength;
   while (LogRingBuffer_Read(&f->history, &held, f->message, sizeof f->message, &heldLength)) {
      LogFileWriteLine(f, &held, heldLength, f->message);
   }
}

// Throttling starts (with a mark line) or ends (with the held lines).
COLD_PATH static void LogFileThrottleChange(LogFile *f, const LogRecord *record, Bool throttle)
{
   if (throttle) {
      LogRecord mark = *record;
      mark.desc = Log_LevelDescriptor(LOG_AUDIT);
      int n = snprintf(f->message, sizeof f->message, "<<< %s Throttled >>>\n", f->base.name);
      LogFileWriteLine(f, &mark, (size_t)n, f->message);
      LogRingBuffer_Clear(&f->history);
   } else {
      LogFileWriteHeld(f);
   }
   f->throttled = throttle;
}

HOT_PATH static void LogFileWrite(LogOutput *output, const LogRecord *record, size_t length,
                                  const char *text)
{
   LogFile *f = (LogFile *)output;
   if (f->writing) {
      // A line the output itself logged while writing (the log lock is off):
      // rotating or measuring again from here would recurse.
      LogFileWriteLine(f, record, length, text);
      return;
   }
   f->writing = TRUE;
   uint64 rotateAt = f->retryReopenAt != 0 ? f->retryReopenAt : (uint64)(int64)f->s.rotateSize;
   if (f->s.rotateSize != 0 && f->currentSize > rotateAt && !LogReplaying()) {
      LogFileRotateNow(f, record);
   }
   Bool throttle = LogFileThrottleDecision(f, length);
   if (throttle != f->throttled && !record->continuation) {
      LogFileThrottleChange(f, record, throttle);
   }
   // The history only ever gives back what came while throttled (it is
   // emptied when throttling starts), so only those lines are kept.
   if (f->throttled) {
      LogRingBuffer_Append(&f->history, record, length, text);
   } else {
      LogFileWriteLine(f, record, length, text);
   }
   f->writing = FALSE;
}

static void LogFileDestroy(LogOutput *output)
{
   LogFile *f = (LogFile *)output;
   if (f->throttled) {
      // Held lines are real lines: the end of the output must not lose them.
      LogFileWriteHeld(f);
   }
   if (f->fd >= 0) {
      close(f->fd);
   }
   free(output->name);
   free(f->historyArea);
   free(f->path);
   free(f->suffix);
   free(f->directory);
   free(f);
}

static void LogFileDisableThrottling(LogOutput *output)
{
   LogFile *f = (LogFile *)output;
   f->s.throttleBytesPerSec = -1;
   if (f->throttled) {
      // The held lines are what a panic needs most: write them now.
      f->throttled = FALSE;
      LogFileWriteHeld(f);
   }
}

LogOutput *LogFile_Create(const char *name, const LogFileConfig *config)
{
   LogFile *f = (LogFile *)Util_SafeCalloc(1, sizeof *f);
   f->base.header = LOG_FILE_HEADER_WORD;
   f->base.kind = LOG_OUTPUT_KIND_FILE;
   f->base.wholeMessage = FALSE;
   f->base.name = Util_SafeStrdup(name);
   f->base.fileLevel = config->fileLevel;
   f->base.stderrLevel = config->stderrLevel;
   f->base.write = LogFileWrite;
   f->base.open = LogFileOpenOnce;
   f->base.destroy = LogFileDestroy;
   f->base.disableThrottling = LogFileDisableThrottling;
   f->path = Util_SafeStrdup(config->path);
   f->suffix = Util_SafeStrdup(config->suffix);
   f->directory = Util_SafeStrdup(config->directory);
   f->defaultName = config->defaultName;
   f->systemArea = config->systemArea;
   f->s = config->settings;
   f->permissions = config->permissions;
   f->fd = -1;
   time_t now = time(NULL);
   struct tm local;
   f->utcOffset = localtime_r(&now, &local) != NULL ? (int32)local.tm_gmtoff : 0;
   return &f->base;
}

/* Queries. */

Bool LogFile_GetSettings(const LogOutput *output, LogFileSettings *settings)
{
   const LogFile *f = LogFileOf(output);
   if (f == NULL || settings == NULL) {
      return FALSE;
   }
   *settings = f->s;
   return TRUE;
}

const char *LogFile_GetPath(const LogOutput *output)
{
   const LogFile *f = LogFileOf(output);
   return f != NULL ? f->path : NULL;
}

/* Rotation. */

// The path split at the last "." of its last component.
static void LogFileSplitExtension(const char *path, std::string *base, std::string *ext)
{
   const char *slash = strrchr(path, '/');
   const char *dot = strrchr(slash != NULL ? slash + 1 : path, '.');
   if (dot == NULL) {
      *base = path;
      ext->clear();
   } else {
      base->assign(path, (size_t)(dot - path));
      *ext = dot;
   }
}

static std::string LogFileNumbered(const std::string &base, unsigned long n, const std::string &ext)
{
   return base + "-" + std::to_string(n) + ext;
}

static void FileRemoveLogged(const LogFile *f, const char *who, const std::string &file)
{
   if (unlink(file.c_str()) != 0 && errno != ENOENT) {
      LogFileSay(f, LOG_INFO, "FILE: %s: failed to remove %s: %s\n", who, file.c_str(),
                 strerror(errno));
   }
}

static void FileRenameLogged(const LogFile *f, const char *who, const std::string &from,
                             const std::string &to)
{
   if (rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT) {
      LogFileSay(f, LOG_INFO, "FILE: %s: rename of %s -> %s failed: %s\n", who, from.c_str(),
                 to.c_str(), strerror(errno));
   }
}

static void FileRotateByRename(const LogFile *f)
{
   const char *path = f->path;
   int32 keepOld = f->s.keepOld;
   std::string base;
   std::string ext;
   LogFileSplitExtension(path, &base, &ext);
   FileRemoveLogged(f, __func__, LogFileNumbered(base, (unsigned long)(keepOld - 1), ext));
   for (int32 i = keepOld - 2; i >= 0; i--) {
      FileRenameLogged(f, __func__, LogFileNumbered(base, (unsigned long)i, ext),
                       LogFileNumbered(base, (unsigned long)i + 1, ext));
   }
   FileRenameLogged(f, __func__, path, LogFileNumbered(base, 0, ext));
}

// The number N of a name "<base>-<N><ext>", N a whole decimal number not
// starting with 0 and at most 4294967295.
static Bool LogFileNameNumber(const char *name, const std::string &base, const std::string &ext,
                              uint32 *number)
{
   size_t len = strlen(name);
   if (len <= base.size() + 1 + ext.size() || base.compare(0, base.size(), name, base.size()) ||
       name[base.size()] != '-' || ext.compare(0, ext.size(), name + len - ext.size()) != 0) {
      return FALSE;
   }
   const char *digits = name + base.size() + 1;
   size_t count = len - base.size() - 1 - ext.size();
   if (count > 10 || digits[0] < '1' || digits[0] > '9') {
      return FALSE;
   }
   uint64 n = 0;
   for (size_t i = 0; i < count; i++) {
      if (digits[i] < '0' || digits[i] > '9') {
         return FALSE;
      }
      n = n * 10 + (uint64)(digits[i] - '0');
   }
   if (n > 4294967295ULL) {
      return FALSE;
   }
   *number = (uint32)n;
   return TRUE;
}

static void FileRotateByRenumber(const LogFile *f)
{
   const char *path = f->path;
   int32 keepOld = f->s.keepOld;
   std::string base;
   std::string ext;
   LogFileSplitExtension(path, &base, &ext);
   std::string full = base;
   if (full[0] != '/') {
      char *cwd = getcwd(NULL, 0);
      if (cwd == NULL) {
         LogFileSay(f, LOG_INFO, "FILE: %s: failed to get full path for '%s'.\n", __func__,
                    base.c_str());
         return;
      }
      full = std::string(cwd) + "/" + base;
      free(cwd);
   }
   size_t slash = full.rfind('/');
   std::string dir = slash == 0 ? "/" : full.substr(0, slash);
   std::string name = full.substr(slash + 1);
   if (name.empty()) {
      LogFileSay(f, LOG_INFO, "FILE: %s: failed to get base name for path '%s'.\n", __func__,
                 full.c_str());
      return;
   }
   DIR *d = opendir(dir.c_str());
   if (d == NULL) {
      LogFileSay(f, LOG_INFO, "FILE: %s: failed to read the directory '%s'.\n", __func__,
                 dir.c_str());
      return;
   }
   std::vector<uint32> numbers;
   while (struct dirent *e = readdir(d)) {
      uint32 n;
      if (LogFileNameNumber(e->d_name, name, ext, &n)) {
         numbers.push_back(n);
      }
   }
   closedir(d);
   std::sort(numbers.begin(), numbers.end());

   std::string stem = dir + "/" + name;
   if (!numbers.empty() && numbers.back() == 4294967295U) {
      // No number left above the largest: close the gaps from 1 upwards.
      for (size_t i = 0; i < numbers.size(); i++) {
         uint32 to = (uint32)(i + 1);
         if (numbers[i] != to) {
            FileRenameLogged(f, __func__, LogFileNumbered(stem, numbers[i], ext),
                             LogFileNumbered(stem, to, ext));
            numbers[i] = to;
         }
      }
   }
   uint32 next = numbers.empty() ? 1 : numbers.back() + 1;
   FileRenameLogged(f, __func__, path, LogFileNumbered(stem, next, ext));
   if (keepOld >= 0 && numbers.size() >= (size_t)keepOld) {
      size_t remove = numbers.size() - (size_t)keepOld + 1;
      for (size_t i = 0; i < remove && i < numbers.size(); i++) {
         FileRemoveLogged(f, __func__, LogFileNumbered(stem, numbers[i], ext));
      }
   }
}

void LogRotation(LogOutput *output)
{
   LogFile *f = LogFileOf(output);
   if (f == NULL) {
      return;
   }
   uint64 start = LogFileMonotonicUs();
   if (f->s.fastRotation) {
      FileRotateByRenumber(f);
   } else {
      FileRotateByRename(f);
   }
   LogFileSay(f, LOG_INFO, "%s: Rotating to a new log file (keepOld %d) took %f seconds.\n",
              __func__, f->s.keepOld, (double)(LogFileMonotonicUs() - start) / 1e6);
}

/* Old logs and copies. */

void LogFileCleanOldLogs(LogOutput *output)
{
   LogFile *f = LogFileOf(output);
   if (f == NULL || f->s.keepOld == 0 || !f->defaultName) {
      return;
   }
   std::string word = LOG_FILE_PRODUCT_WORD;
   if (f->suffix != NULL) {
      word += std::string("-") + f->suffix;
   }
   word += "-";
   const char *slash = strrchr(f->path, '/');
   std::string dir = slash == NULL ? "." : std::string(f->path, (size_t)(slash - f->path));
   if (dir.empty()) {
      dir = "/";
   }
   DIR *d = opendir(dir.c_str());
   if (d == NULL) {
      return;
   }
   std::vector<std::pair<time_t, std::string>> ended;
   while (struct dirent *e = readdir(d)) {
      const char *name = e->d_name;
      unsigned int pid;
      if (strncmp(name, word.c_str(), word.size()) != 0 || name[word.size()] < '0' ||
          name[word.size()] > '9' || sscanf(name + word.size(), "%u", &pid) != 1) {
         continue;
      }
      if (kill((pid_t)pid, 0) == 0 || errno != ESRCH) {
         continue; // the process still runs, or is not ours to probe
      }
      std::string file = dir + "/" + name;
      struct stat st;
      if (stat(file.c_str(), &st) == 0) {
         ended.emplace_back(st.st_mtime, file);
      }
   }
   closedir(d);
   if (ended.size() <= (size_t)f->s.keepOld) {
      return;
   }
   std::sort(ended.begin(), ended.end());
   for (size_t i = 0; i < ended.size() - (size_t)f->s.keepOld; i++) {
      FileRemoveLogged(f, __func__, ended[i].second);
   }
}

Bool LogFileCopyContents(const char *sourcePath, LogOutput *output)
{
   LogFile *f = LogFileOf(output);
   if (f == NULL || sourcePath == NULL) {
      return FALSE;
   }
   int src = open(sourcePath, O_RDONLY | O_CLOEXEC);
   if (src < 0) {
      Warning("Open failed on '%s': %s\n", sourcePath, strerror(errno));
      return FALSE;
   }
   if (f->s.append) {
      lseek(f->fd, 0, SEEK_END);
   } else {
      // The copy replaces the file: nothing of the new header may remain
      // behind a shorter copy.
      lseek(f->fd, 0, SEEK_SET);
      if (ftruncate(f->fd, 0) != 0) {
         Warning("Truncation of '%s' failed: %s\n", f->path, strerror(errno));
      }
      f->currentSize = 0;
   }
   Bool ok = TRUE;
   for (;;) {
      ssize_t n = read(src, f->message, LOG_FILE_COPY_BLOCK);
      if (n < 0 && errno == EINTR) {
         continue;
      }
      if (n < 0) {
         Warning("Read failed on '%s': %s\n", sourcePath, strerror(errno));
         ok = FALSE;
         break;
      }
      if (n == 0) {
         break;
      }
      ssize_t w = LogFileWriteOnce(f->fd, f->message, (size_t)n);
      if (w != n) {
         Warning("Write failed on '%s': %s\n", f->path, w < 0 ? strerror(errno) : "short write");
         ok = FALSE;
         break;
      }
      f->currentSize += (uint64)n;
      f->throttleTotal += (uint64)n;
   }
   close(src);
   unlink(sourcePath);
   return ok;
}
