/// Port numbers as the example programs take them on their command lines.
#ifndef EXAMPLES_PORTTEXT_H
#define EXAMPLES_PORTTEXT_H

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

/// Parses a decimal port from 1 to 65535 into `port`; false, leaving it
/// alone, for anything else.
inline bool ParsePort(const char *text, uint16_t &port)
{
   char *end = nullptr;
   errno = 0;
   unsigned long v = strtoul(text, &end, 10);
   if (errno != 0 || end == text || *end != '\0' || v == 0 || v > 65535) {
      return false;
   }
   port = static_cast<uint16_t>(v);
   return true;
}

#endif
