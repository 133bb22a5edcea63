// Stand-in for the log facility until its core exists: messages are
// accepted and dropped, as they would be lost at exit without an output.
#include <errno.h>

#include "lib/log/log.h"

void Log_LevelV(uint32, const char *, va_list) {}

void Log_Level(uint32, const char *, ...) {}

void Log(const char *, ...) {}

void Warning(const char *, ...) {}
