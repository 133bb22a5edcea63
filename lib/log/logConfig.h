/// Log configuration: creates the standard file output ("file") from the
/// log.* keys, registers it, sets the module thresholds from the
/// log.filter.* keys, and records the product identity the file header
/// prints.
///
/// Settings come from a caller's dictionary of defaults, from a
/// configuration provider (the preference system) and from built-in
/// defaults. Highest precedence first: the provider's value under
/// "<application prefix>.<key>", its value under "<key>", the dictionary's,
/// the default. A provider value equal to the default counts as unset.
#ifndef LIB_LOG_LOGCONFIG_H
#define LIB_LOG_LOGCONFIG_H

#include "lib/log/logOutput.h"

typedef struct Dictionary Dictionary;

/// Where settings come from besides the caller's dictionary. Each operation
/// returns the default when the key has no value.
typedef struct LogConfigProvider LogConfigProvider;
struct LogConfigProvider
{
   /// A new text owned by the caller (release with free), or the default
   /// copied (NULL for a NULL default).
   char *(*getString)(const LogConfigProvider *provider, const char *defaultValue, const char *key);
   int32 (*getInt)(const LogConfigProvider *provider, int32 defaultValue, const char *key);
   Bool (*getBool)(const LogConfigProvider *provider, Bool defaultValue, const char *key);
};

/// The system's provider: the preference layers, through Config_GetString,
/// Config_GetLong and Config_GetBool. Static; never NULL.
const LogConfigProvider *Log_GetSystemConfigProvider(void);

/// Creates the file output "file" from the settings (appPrefix, dict and
/// provider may each be NULL; a given appPrefix must not be empty), removes
/// the log files of ended processes when cleanOldLogs is set, registers the
/// output (which opens the file and writes its header) and, with a provider,
/// reads the module filters. Returns the registered output (owned by the log
/// facility until Log_Exit), or NULL when the directory, the path or the
/// registration fails; the facility then keeps buffering. Invalid integer
/// settings are corrected and logged at level 3.
LogOutput *Log_InitWithConfig(const char *appPrefix, Dictionary *dict,
                              const LogConfigProvider *provider, Bool cleanOldLogs);

/// Log_InitWithConfig with a dictionary holding only log.fileName =
/// fileName, without clean-up.
LogOutput *Log_InitWithFile(const char *appPrefix, const LogConfigProvider *provider,
                            const char *fileName);

/// Records the product identity for the file header and the console
/// messages; each text is taken only when that part was never set, whatever
/// its value (the built-in name included). NULL texts are skipped.
void Log_SetProductInfo(const char *name, const char *version, const char *build,
                        const char *option);

#endif
