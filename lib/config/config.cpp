// Configuration getters: format the key, ask the preference layers, copy
// the value out so the caller never holds a pointer into a layer.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/config/config.h"
#include "lib/config/preference.h"
#include "lib/misc/util.h"
#include "lib/panic/panic.h"
#include "lib/user/dictionary.h"

#define CONFIG_NAME_MAX 1024

#define CONFIG_FORMAT_NAME(buf, fmt)                                                               \
   char buf[CONFIG_NAME_MAX];                                                                      \
   do {                                                                                            \
      va_list args_;                                                                               \
      va_start(args_, fmt);                                                                        \
      vsnprintf(buf, sizeof buf, fmt, args_);                                                      \
      va_end(args_);                                                                               \
   } while (0)

static char *ConfigStrdup(const char *text)
{
   if (text == NULL) {
      return NULL;
   }
   char *copy = strdup(text);
   if (copy == NULL) {
      Panic("VERIFY %s:%d\n", "vela/lib/config/configUL", __LINE__);
   }
   return copy;
}

// The layers hand back NULL only when they cannot answer; fall back then.
template <typename T> static T ConfigValue(const void *p, T defaultValue)
{
   return p == NULL ? defaultValue : *(const T *)p;
}

char *Preference_GetString(const char *defaultValue, const char *name)
{
   const void *p = PreferenceGet(&defaultValue, DICT_STRING, name);
   return ConfigStrdup(ConfigValue<const char *>(p, defaultValue));
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

Bool Config_GetBool(Bool defaultValue, const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_GetBool(defaultValue, name);
}

int32 Config_GetTriState(int32 defaultValue, const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_GetTriState(defaultValue, name);
}

int32 Config_GetLong(int32 defaultValue, const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_GetLong(defaultValue, name);
}

int64 Config_GetInt64(int64 defaultValue, const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_GetInt64(defaultValue, name);
}

double Config_GetDouble(double defaultValue, const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_GetDouble(defaultValue, name);
}

Bool Config_NotSet(const char *fmt, ...)
{
   CONFIG_FORMAT_NAME(name, fmt);
   return Preference_NotSet(name);
}
