// Arbitrary bytes through a real pipe into PipeConnection::recvMsg: it
// never crashes, and each message it returns is exactly what the frame at
// that point holds (the header's length, cut at the first NUL), so it never
// returns more than the header says. It throws only where the bytes left
// do not make a whole valid frame.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "supervision/pipeConnection.h"

static void Check(bool ok)
{
   if (!ok) {
      abort();
   }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   // Everything must fit in the pipe, as the writer is this thread.
   if (size > 60000) {
      return 0;
   }
   int fds[2];
   if (pipe(fds) != 0) {
      return 0;
   }
   Check(write(fds[1], data, size) == static_cast<ssize_t>(size));
   close(fds[1]);
   PipeConnection conn(fds[0], -1);
   size_t at = 0;
   for (;;) {
      int32_t len = 0;
      bool wholeHeader = size - at >= sizeof len;
      if (wholeHeader) {
         memcpy(&len, data + at, sizeof len);
      }
      bool valid = wholeHeader && len >= 1 && len <= 8192 &&
                   size - at - sizeof len >= static_cast<size_t>(len);
      std::string got;
      try {
         got = conn.recvMsg();
      } catch (const PipeException &) {
         Check(!valid);
         return 0;
      }
      Check(valid);
      const char *text = reinterpret_cast<const char *>(data + at + sizeof len);
      Check(got == std::string(text, strnlen(text, static_cast<size_t>(len))));
      at += sizeof len + static_cast<size_t>(len);
   }
}
