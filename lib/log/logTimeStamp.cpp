// Time stamps of log records. The last broken-down time is cached in one
// 64-bit word, so that a signal handler can reuse it without calendar
// conversion and an ordinary caller converts at most once per second.
#include <string.h>
#include <time.h>

#include "lib/log/logOutput.h"
#include "lib/misc/threadState.h"

// Month index bits 28-31, year since 1900 bits 18-27, day 32-36, hour
// 37-41, minute 42-47, second 48-53, millisecond part 54-63. Zero: empty.
static uint64 cachedTime;

typedef struct LogTimeFields
{
   int year;  // full year
   int month; // 1-12
   int day;
   int hour;
   int minute;
   int second;
   int msec;
} LogTimeFields;

static __thread time_t stampSecond;
static __thread char stampText[20]; // "YYYY-MM-DDTHH:MM:SS"
static __thread LogTimeFields stampFields;

static uint64 LogTimePack(const LogTimeFields *f)
{
   return ((uint64)(f->month - 1) << 28) | ((uint64)(f->year - 1900) << 18) |
          ((uint64)f->day << 32) | ((uint64)f->hour << 37) | ((uint64)f->minute << 42) |
          ((uint64)f->second << 48) | ((uint64)f->msec << 54);
}

static void LogTimeUnpack(uint64 word, LogTimeFields *f)
{
   f->month = (int)((word >> 28) & 0xF) + 1;
   f->year = (int)((word >> 18) & 0x3FF) + 1900;
   f->day = (int)((word >> 32) & 0x1F);
   f->hour = (int)((word >> 37) & 0x1F);
   f->minute = (int)((word >> 42) & 0x3F);
   f->second = (int)((word >> 48) & 0x3F);
   f->msec = (int)((word >> 54) & 0x3FF);
}

// Days since 1970-01-01 of a proleptic Gregorian date; plain arithmetic,
// safe in a signal handler.
static int64 LogDaysFromCivil(int year, int month, int day)
{
   int64 y = year - (month <= 2);
   int64 era = (y >= 0 ? y : y - 399) / 400;
   int64 yoe = y - era * 400;
   int64 doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
   int64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
   return era * 146097 + doe - 719468;
}

// The whole cached time in seconds since the epoch: elapsed time is
// measured from the full date and time, not from the millisecond part.
static int64 LogTimeEpochSeconds(const LogTimeFields *f)
{
   return LogDaysFromCivil(f->year, f->month, f->day) * 86400 + f->hour * 3600 + f->minute * 60 +
          f->second;
}

// Appends the decimal digits of value, zero-padded to width, within limit.
static size_t LogPutNumber(char *buf, size_t pos, size_t limit, uint64 value, int width)
{
   char digits[24];
   int n = 0;
   do {
      digits[n++] = (char)('0' + value % 10);
      value /= 10;
   } while (value != 0);
   while (n < width) {
      digits[n++] = '0';
   }
   while (n > 0 && pos + 1 < limit) {
      buf[pos++] = digits[--n];
   }
   buf[pos] = '\0';
   return pos;
}

static size_t LogPutText(char *buf, size_t pos, size_t limit, const char *text)
{
   while (*text != '\0' && pos + 1 < limit) {
      buf[pos++] = *text++;
   }
   buf[pos] = '\0';
   return pos;
}

static size_t LogPutDateTime(char *buf, size_t limit, const LogTimeFields *f)
{
   size_t pos = 0;
   pos = LogPutNumber(buf, pos, limit, (uint64)f->year, 4);
   pos = LogPutText(buf, pos, limit, "-");
   pos = LogPutNumber(buf, pos, limit, (uint64)f->month, 2);
   pos = LogPutText(buf, pos, limit, "-");
   pos = LogPutNumber(buf, pos, limit, (uint64)f->day, 2);
   pos = LogPutText(buf, pos, limit, "T");
   pos = LogPutNumber(buf, pos, limit, (uint64)f->hour, 2);
   pos = LogPutText(buf, pos, limit, ":");
   pos = LogPutNumber(buf, pos, limit, (uint64)f->minute, 2);
   pos = LogPutText(buf, pos, limit, ":");
   return LogPutNumber(buf, pos, limit, (uint64)f->second, 2);
}

// Calendar date of a day count since 1970-01-01, by arithmetic alone.
static void LogCivilFromDays(int64 days, LogTimeFields *f)
{
   days += 719468;
   int64 era = (days >= 0 ? days : days - 146096) / 146097;
   int64 doe = days - era * 146097;
   int64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
   int64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
   int64 mp = (5 * doy + 2) / 153;
   f->day = (int)(doy - (153 * mp + 2) / 5 + 1);
   f->month = (int)(mp < 10 ? mp + 3 : mp - 9);
   f->year = (int)(yoe + era * 400 + (f->month <= 2));
}

static void LogBreakDown(time_t seconds, LogTimeFields *f)
{
   if (ThreadState_InSignalHandler()) {
      int64 s = (int64)seconds;
      int64 days = (s >= 0 ? s : s - 86399) / 86400;
      int64 rest = s - days * 86400;
      LogCivilFromDays(days, f);
      f->hour = (int)(rest / 3600);
      f->minute = (int)(rest % 3600 / 60);
      f->second = (int)(rest % 60);
      return;
   }

   struct tm tm;
   gmtime_r(&seconds, &tm);
   f->year = tm.tm_year + 1900;
   f->month = tm.tm_mon + 1;
   f->day = tm.tm_mday;
   f->hour = tm.tm_hour;
   f->minute = tm.tm_min;
   f->second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
}

HOT_PATH void LogMakeTimeStamp(LogRecord *record)
{
   struct timespec now;
   LogTimeFields f;
   size_t pos;

   clock_gettime(CLOCK_REALTIME, &now);
   int64 nowMsec = (int64)now.tv_sec * 1000 + now.tv_nsec / 1000000;
   uint64 word = __atomic_load_n(&cachedTime, __ATOMIC_RELAXED);

   if (ThreadState_InSignalHandler() && word != 0) {
      LogTimeUnpack(word, &f);
      int64 elapsed = nowMsec - (LogTimeEpochSeconds(&f) * 1000 + f.msec);
      if (elapsed < 0) {
         elapsed = 0;
      }
      pos = LogPutDateTime(record->timeStamp, sizeof record->timeStamp, &f);
      pos = LogPutText(record->timeStamp, pos, sizeof record->timeStamp, "Z[+");
      LogPutNumber(record->timeStamp, pos, sizeof record->timeStamp, (uint64)(elapsed / 1000), 1);
      pos = LogPutText(record->msecs, 0, sizeof record->msecs, ".");
      LogPutNumber(record->msecs, pos, sizeof record->msecs, (uint64)(elapsed % 1000), 3);
      LogPutText(record->zone, 0, sizeof record->zone, "]");
      return;
   }

   // The date and time text changes once a second; each thread keeps the
   // last one it formatted.
   if (now.tv_sec != stampSecond || stampText[0] == '\0') {
      if (word != 0) {
         LogTimeUnpack(word, &f);
      }
      if (word == 0 || LogTimeEpochSeconds(&f) != (int64)now.tv_sec) {
         LogBreakDown(now.tv_sec, &f);
      }
      f.msec = 0;
      stampFields = f;
      LogPutDateTime(stampText, sizeof stampText, &f);
      stampSecond = now.tv_sec;
   }
   f = stampFields;
   f.msec = (int)(now.tv_nsec / 1000000);
   __atomic_store_n(&cachedTime, LogTimePack(&f), __ATOMIC_RELAXED);

   memcpy(record->timeStamp, stampText, sizeof stampText);
   record->msecs[0] = '.';
   record->msecs[1] = (char)('0' + f.msec / 100);
   record->msecs[2] = (char)('0' + f.msec / 10 % 10);
   record->msecs[3] = (char)('0' + f.msec % 10);
   record->msecs[4] = '\0';
   record->zone[0] = 'Z';
   record->zone[1] = '\0';
}
