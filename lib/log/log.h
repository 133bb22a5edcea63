/// The log facility: every layer reports diagnostics through these entry
/// points. They never fail and preserve the caller's errno.
#ifndef LIB_LOG_LOG_H
#define LIB_LOG_LOG_H

#include <stdarg.h>

#include "lib/misc/basicTypes.h"

/// Level in the low 5 bits, module number above (0: no module).
void Log_Level(uint32 levelAndModule, const char *fmt, ...) PRINTF_DECL(2, 3);
void Log_LevelV(uint32 levelAndModule, const char *fmt, va_list args) PRINTF_DECL(2, 0);
/// Level 5 ("info").
void Log(const char *fmt, ...) PRINTF_DECL(1, 2);
/// Level 3 ("warning").
void Warning(const char *fmt, ...) PRINTF_DECL(1, 2);

#endif
