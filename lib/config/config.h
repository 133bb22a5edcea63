/// Configuration getters: (default, printf-style key, arguments) -> value.
/// The default comes back when the key is absent, the preferences are not
/// started or the value does not parse.
#ifndef LIB_CONFIG_CONFIG_H
#define LIB_CONFIG_CONFIG_H

#include "lib/misc/basicTypes.h"

/// Returns a new copy owned by the caller (release with free), or NULL when
/// the key is absent and the default is NULL.
char *Config_GetString(const char *defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
Bool Config_GetBool(Bool defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);

#endif
