// Arbitrary bytes through a real pipe into PipeConnection::recvMsg: it
// never crashes, and each message it returns is exactly what the frame at
// that point holds (the header's length, cut at the first NUL), so it never
// returns more than the header says. It throws only where the bytes left
// do not make a whole valid frame, and says which part failed: the header
// cut short, a length out of range, or the text cut short.
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
      bool validHeader = wholeHeader && len >= 1 && len <= 8192;
      bool valid = validHeader && size - at - sizeof len >= static_cast<size_t>(len);
      std::string got;
      try {
         got = conn.recvMsg();
      } catch (const PipeException &e) {
         const char *why = !wholeHeader   ? "Failed to recv pipe msg header"
                           : !validHeader ? "Recv invalid msg header"
                                          : "Failed to recv pipe msg";
         Check(!valid && strcmp(why, e.what()) == 0);
         return 0;
      }
      Check(valid);
      const char *text = reinterpret_cast<const char *>(data + at + sizeof len);
      Check(got == std::string(text, strnlen(text, static_cast<size_t>(len))));
      at += sizeof len + static_cast<size_t>(len);
   }
}
