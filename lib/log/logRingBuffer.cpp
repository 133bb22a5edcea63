// Fixed-size byte ring of records and texts: appending never allocates, and
// entries wrap around the end of the area byte by byte.
#include <string.h>

#include "lib/log/logOutput.h"

static_assert(sizeof(LogRecord) == LOG_RING_RECORD_SIZE, "records are stored as 144 bytes");

// Bytes of one entry beyond its text: the length word and the record.
#define LOG_RING_OVERHEAD (2 + LOG_RING_RECORD_SIZE)

// Moves a position on by len bytes (at most the capacity), wrapping once.
static inline uint64 LogRingAdvance(const LogRingBuffer *ring, uint64 pos, uint64 len)
{
   pos += len;
   return pos >= ring->capacity ? pos - ring->capacity : pos;
}

static void LogRingPut(LogRingBuffer *ring, const void *src, uint64 len)
{
   const uint8 *p = (const uint8 *)src;
   uint64 first = ring->capacity - ring->writePos;
   if (first > len) {
      first = len;
   }
   memcpy(ring->base + ring->writePos, p, first);
   memcpy(ring->base, p + first, len - first);
   ring->writePos = LogRingAdvance(ring, ring->writePos, len);
   ring->used += len;
}

static void LogRingGet(LogRingBuffer *ring, void *dst, uint64 len)
{
   uint8 *p = (uint8 *)dst;
   uint64 first = ring->capacity - ring->readPos;
   if (first > len) {
      first = len;
   }
   if (p != NULL) {
      memcpy(p, ring->base + ring->readPos, first);
      memcpy(p + first, ring->base, len - first);
   }
   ring->readPos = LogRingAdvance(ring, ring->readPos, len);
   ring->used -= len;
}

static uint16 LogRingPeekLength(const LogRingBuffer *ring)
{
   uint8 bytes[2];
   bytes[0] = ring->base[ring->readPos];
   bytes[1] = ring->base[LogRingAdvance(ring, ring->readPos, 1)];
   uint16 value;
   memcpy(&value, bytes, sizeof value);
   return value;
}

void LogRingBuffer_Init(LogRingBuffer *ring, void *area, uint64 capacity)
{
   ring->base = (uint8 *)area;
   ring->capacity = capacity;
   ring->writePos = 0;
   ring->readPos = 0;
   ring->used = 0;
}

void LogRingBuffer_Clear(LogRingBuffer *ring)
{
   ring->readPos = ring->writePos;
   ring->used = 0;
}

void LogRingBuffer_Append(LogRingBuffer *ring, const LogRecord *record, size_t length,
                          const char *text)
{
   if (ring->capacity <= LOG_RING_OVERHEAD + 1) {
      return;
   }
   // The length word holds 144 + text length; the area must hold the entry
   // with room to spare.
   uint64 maxText = ring->capacity - LOG_RING_OVERHEAD - 1;
   if (maxText > 0xFFFF - LOG_RING_RECORD_SIZE) {
      maxText = 0xFFFF - LOG_RING_RECORD_SIZE;
   }
   if (length > maxText) {
      length = maxText;
   }
   uint64 need = length + LOG_RING_OVERHEAD;
   while (ring->capacity - ring->used <= need && ring->used > 0) {
      uint16 stored = LogRingPeekLength(ring);
      LogRingGet(ring, NULL, 2 + (uint64)stored);
   }
   uint16 stored = (uint16)(LOG_RING_RECORD_SIZE + length);
   LogRingPut(ring, &stored, sizeof stored);
   LogRingPut(ring, record, LOG_RING_RECORD_SIZE);
   LogRingPut(ring, text, length);
}

Bool LogRingBuffer_Read(LogRingBuffer *ring, LogRecord *record, char *text, size_t textSize,
                        size_t *length)
{
   if (ring->used == 0) {
      return FALSE;
   }
   uint16 stored;
   LogRingGet(ring, &stored, sizeof stored);
   LogRingGet(ring, record, LOG_RING_RECORD_SIZE);
   uint64 textLen = stored - LOG_RING_RECORD_SIZE;
   uint64 keep = textSize == 0 ? 0 : textLen < textSize - 1 ? textLen : textSize - 1;
   LogRingGet(ring, text, keep);
   LogRingGet(ring, NULL, textLen - keep);
   if (textSize > 0) {
      text[keep] = '\0';
   }
   if (length != NULL) {
      *length = (size_t)keep;
   }
   return TRUE;
}
