/// What an output of the log facility implements and receives: the output
/// object, the record of context handed with each message, time stamps, and
/// the ring buffer that outputs may use for their own history.
#ifndef LIB_LOG_LOGOUTPUT_H
#define LIB_LOG_LOGOUTPUT_H

#include "lib/log/log.h"

/// Output kinds. Only the registry rules know the last four.
#define LOG_OUTPUT_KIND_FILE 0x12345U
#define LOG_OUTPUT_KIND_2 0x23456U
#define LOG_OUTPUT_KIND_3 0x34567U
#define LOG_OUTPUT_KIND_4 0x45678U
#define LOG_OUTPUT_KIND_5 0x56789U
#define LOG_MAX_OUTPUTS 10

#define LOG_THREAD_NAME_SIZE 32
#define LOG_OPID_SIZE 33
#define LOG_TIMESTAMP_SIZE 40
#define LOG_MSECS_SIZE 8
#define LOG_ZONE_SIZE 14

/// Context of one message (or one line of it). Stored as is, 144 bytes, in
/// ring buffers.
typedef struct LogRecord
{
   const LogThresholds *thresholds; ///< the pair that admitted the message
   const LogLevelDesc *desc;        ///< the message's level
   uint8 continuation;              ///< 0 on a message's first line, then 1
   char threadName[LOG_THREAD_NAME_SIZE];
   char opId[LOG_OPID_SIZE]; ///< empty without an operation-id provider
   char timeStamp[LOG_TIMESTAMP_SIZE];
   char msecs[LOG_MSECS_SIZE];
   char zone[LOG_ZONE_SIZE];
} LogRecord;

typedef struct LogState LogState;

/// An output. Kinds embed this as their first member and add their fields.
struct LogOutput
{
   uint32 header;
   uint32 kind;
   Bool wholeMessage; ///< TRUE: one write per message; FALSE: one per line
   char *name;        ///< owned by the output, freed by its destroy
   LogState *state;   ///< set on registration
   int32 fileLevel;   ///< -1 receives nothing
   int32 stderrLevel;
   /// Called under the log lock with the text of a message or of one line
   /// including its newline (length bytes, not NUL-terminated).
   void (*write)(LogOutput *output, const LogRecord *record, size_t length, const char *text);
   /// Called once, before registration, outside the lock.
   Bool (*open)(LogOutput *output);
   /// Frees the output and everything it owns.
   void (*destroy)(LogOutput *output);
   void (*disableThrottling)(LogOutput *output);
};

/// Fills the record's time-stamp, milliseconds and zone texts with the
/// current UTC time: "2026-12-06T08:15:42", ".123", "Z". Inside a signal
/// handler it avoids calendar conversion and gives the last ordinary stamp
/// followed by the time elapsed since: "2026-12-06T08:15:42Z[+3", ".250", "]".
void LogMakeTimeStamp(LogRecord *record);
/// Zeroes the record and fills it for the calling thread: level, thresholds,
/// thread name, operation id and time stamp; continuation 0.
void LogMakeRecord(LogRecord *record, const LogLevelDesc *desc, const LogThresholds *thresholds);

/* Ring buffer of records and texts over a caller's byte area. Each entry is
   a 2-byte length (144 + text length), the record, then the text. Not
   thread-safe: the owner serialises access. */

#define LOG_RING_RECORD_SIZE 144

typedef struct LogRingBuffer
{
   uint8 *base;
   uint64 writePos;
   uint64 readPos;
   uint64 used;
   uint64 capacity;
} LogRingBuffer;

void LogRingBuffer_Init(LogRingBuffer *ring, void *area, uint64 capacity);
/// Appends an entry, dropping the oldest entries until it fits. A text too
/// long for the whole area is cut to fit.
void LogRingBuffer_Append(LogRingBuffer *ring, const LogRecord *record, size_t length,
                          const char *text);
/// Removes the oldest entry into *record and text (NUL-terminated, cut to
/// textSize - 1 bytes); *length gets the length of the text returned.
/// FALSE when empty.
Bool LogRingBuffer_Read(LogRingBuffer *ring, LogRecord *record, char *text, size_t textSize,
                        size_t *length);
void LogRingBuffer_Clear(LogRingBuffer *ring);

#endif
