/// Internal steps shared by the log facility's modules and their tests.
#ifndef LIB_LOG_LOGINT_H
#define LIB_LOG_LOGINT_H

#include "lib/log/logOutput.h"

/// The module table; row n-1 belongs to module number n.
extern LogModuleEntry logModules[LOG_MODULE_COUNT];

/// Ends a text cut by a truncating format. The first size-1 bytes of buf
/// (text, possibly followed by zero bytes, each counting as a character)
/// are made to end with a newline and a NUL inside the buffer: a trailing
/// incomplete UTF-8 sequence is dropped and the last whole character is
/// replaced by the newline. Returns the length including the newline; a
/// lone newline when nothing is left or size is 1 or 2 (size 1 keeps no NUL).
size_t LogCutAtCharacter(size_t size, char *buf);

/// vsnprintf, faster for the conversions log messages use: same result,
/// same return value (the length the whole text needs).
int LogFormatV(char *buf, size_t size, const char *fmt, va_list args) PRINTF_DECL(3, 0);

/// Replaces every case-insensitive "qzv" in text[0..length) with "***",
/// left to right, without overlap. Texts of 2 bytes or fewer are left alone.
void LogMask(char *text, size_t length);

/// TRUE while the calling thread replays buffered messages into the
/// outputs: an output decides nothing of its own (rotation) on such lines,
/// or the messages it logs about itself would feed back into it.
Bool LogReplaying(void);

#endif
