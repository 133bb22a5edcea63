// Configuration getters: format the key, ask the preference layers, copy
// the value out so the caller never holds a pointer into a layer.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/config/config.h"
#include "lib/config/preference.h"
#include "lib/misc/util.h"
#include "lib/user/dictionary.h"

#define CONFIG_NAME_MAX 1024

#define CONFIG_FORMAT_NAME(buf, fmt) UTIL_FORMAT_VARARGS(buf, CONFIG_NAME_MAX, fmt)

// The layers hand back NULL only when they cannot answer; fall back then.
template <typename T> static T ConfigValue(const void *p, T defaultValue)
{
   return p == NULL ? defaultValue : *(const T *)p;
}

char *Preference_GetString(const char *defaultValue, const char *name)
{
   const void *p = PreferenceGet(&defaultValue, DICT_STRING, name);
   return Util_SafeStrdup(ConfigValue<const char *>(p, defaultValue));
}

char *Preference_GetPathName(const char *defaultValue, const char *name)
{
   const void *p = PreferenceGet(&defaultValue, DICT_STRING, name);
   const char *value = ConfigValue<const char *>(p, defaultValue);
   return value == NULL ? NULL : Util_ExpandString(value);
}

Bool Preference_GetBool(Bool defaultValue, const char *name)
{
   const void *p = PreferenceGet(&defaultValue, DICT_BOOL, name);
   return ConfigValue<Bool>(p, defaultValue) != 0;
}

int32 Preference_GetTriState(int32 defaultValue, const char *name)
{
   return ConfigValue<int32>(PreferenceGet(&defaultValue, DICT_TRISTATE, name), defaultValue);
}

int32 Preference_GetLong(int32 defaultValue, const char *name)
{
   return ConfigValue<int32>(PreferenceGet(&defaultValue, DICT_LONG, name), defaultValue);
}

int64 Preference_GetInt64(int64 defaultValue, const char *name)
{
   return ConfigValue<int64>(PreferenceGet(&defaultValue, DICT_INT64, name), defaultValue);
}

double Preference_GetDouble(double defaultValue, const char *name)
{
   return ConfigValue<double>(PreferenceGet(&defaultValue, DICT_DOUBLE, name), defaultValue);
}

char *Config_GetString(const char *defaultValue, const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_GetString(defaultValue, name);
}

char *Config_GetPathName(const char *defaultValue, const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_GetPathName(defaultValue, name);
}

// The typed getters differ only in their types: each formats the name and
// asks the preference layers.
#define CONFIG_DEFINE_GETTER(Type, Kind)                                                           \
   Type Config_Get##Kind(Type defaultValue, const char *fmt, ...)                                  \
   {                                                                                               \
      CONFIG_FORMAT_NAME(name, fmt);                                                               \
      return Preference_Get##Kind(defaultValue, name);                                             \
   }

CONFIG_DEFINE_GETTER(Bool, Bool)
CONFIG_DEFINE_GETTER(int32, TriState)
CONFIG_DEFINE_GETTER(int32, Long)
CONFIG_DEFINE_GETTER(int64, Int64)
CONFIG_DEFINE_GETTER(double, Double)

Bool Config_NotSet(const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_NotSet(name);
}
