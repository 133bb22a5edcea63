/// Configuration getters: (default, printf-style key, arguments) -> value.
/// The key is formatted into 1024 bytes (longer keys are cut; a key must not
/// contain "%", callers pass it as the format) and looked up through the
/// preference layers. The default comes back when the key is absent, the
/// preferences are not started or the value does not parse. Returned texts
/// belong to the caller.
#ifndef LIB_CONFIG_CONFIG_H
#define LIB_CONFIG_CONFIG_H

#include "lib/misc/basicTypes.h"

/// Returns a new copy owned by the caller (release with free), or NULL when
/// the key is absent and the default is NULL.
char *Config_GetString(const char *defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
/// The value with "~" and "$NAME" expanded, owned by the caller; NULL when
/// the value is NULL or cannot be expanded.
char *Config_GetPathName(const char *defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
Bool Config_GetBool(Bool defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
/// 0 FALSE, 1 TRUE, -1 default.
int32 Config_GetTriState(int32 defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
int32 Config_GetLong(int32 defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
int64 Config_GetInt64(int64 defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
double Config_GetDouble(double defaultValue, const char *fmt, ...) PRINTF_DECL(2, 3);
/// TRUE when no preference layer holds a real entry for the key.
Bool Config_NotSet(const char *fmt, ...) PRINTF_DECL(1, 2);

/// The same lookups with an already formed name; texts are copies owned by
/// the caller (the path form expanded).
char *Preference_GetString(const char *defaultValue, const char *name);
char *Preference_GetPathName(const char *defaultValue, const char *name);
Bool Preference_GetBool(Bool defaultValue, const char *name);
int32 Preference_GetTriState(int32 defaultValue, const char *name);
int32 Preference_GetLong(int32 defaultValue, const char *name);
int64 Preference_GetInt64(int64 defaultValue, const char *name);
double Preference_GetDouble(double defaultValue, const char *name);

#endif
