// Log configuration: the log.* keys become a file output, the
// log.filter.* keys module thresholds.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <string>
#include <utility>

#include "lib/config/config.h"
#include "lib/log/logConfig.h"
#include "lib/log/logFile.h"
#include "lib/log/logInt.h"
#include "lib/misc/file.h"
#include "lib/misc/productState.h"
#include "lib/misc/util.h"
#include "lib/user/dictionary.h"

#define LOG_SYSTEM_AREA "/var/log/keltria"
#define LOG_MIN_ROTATE_SIZE 100000

/* The system's provider. */

static char *LogConfigPrefString(const LogConfigProvider *, const char *defaultValue,
                                 const char *key)
{
   return Config_GetString(defaultValue, "%s", key);
}

static int32 LogConfigPrefInt(const LogConfigProvider *, int32 defaultValue, const char *key)
{
   return Config_GetLong(defaultValue, "%s", key);
}

static Bool LogConfigPrefBool(const LogConfigProvider *, Bool defaultValue, const char *key)
{
   return Config_GetBool(defaultValue, "%s", key);
}

static const LogConfigProvider logSystemProvider = {LogConfigPrefString, LogConfigPrefInt,
                                                    LogConfigPrefBool};

const LogConfigProvider *Log_GetSystemConfigProvider(void)
{
   return &logSystemProvider;
}

/* Reading settings. */

namespace {

// The sources of one output's settings.
struct LogConfigSources
{
   const char *appPrefix;
   Dictionary *dict;
   const LogConfigProvider *provider;
   const char *qualifier; // NULL for the standard output "file"
};

std::string LogConfigName(const LogConfigSources *src, const char *key)
{
   return src->qualifier == NULL ? std::string(key) : std::string(key) + "." + src->qualifier;
}

std::string LogConfigPrefixed(const LogConfigSources *src, const std::string &name)
{
   return std::string(src->appPrefix) + "." + name;
}

Bool LogConfigProviderGet(const LogConfigProvider *p, Bool d, const char *key)
{
   return p->getBool(p, d, key);
}

int32 LogConfigProviderGet(const LogConfigProvider *p, int32 d, const char *key)
{
   return p->getInt(p, d, key);
}

Bool LogConfigDictGet(Dictionary *dict, Bool d, const char *key)
{
   return Dictionary_GetBool(dict, d, "%s", key);
}

int32 LogConfigDictGet(Dictionary *dict, int32 d, const char *key)
{
   return Dictionary_GetLong(dict, d, "%s", key);
}

// A boolean or integer setting read from all sources.
template <typename T> T LogConfigValue(const LogConfigSources *src, const char *key, T defaultValue)
{
   T value = src->dict != NULL ? LogConfigDictGet(src->dict, defaultValue, key) : defaultValue;
   if (src->provider == NULL) {
      return value;
   }
   // A preference overrides only when it differs from the default: one
   // equal to the default counts as unset.
   std::string name = LogConfigName(src, key);
   T got = LogConfigProviderGet(src->provider, defaultValue, name.c_str());
   if (got != defaultValue) {
      value = got;
   }
   if (src->appPrefix != NULL) {
      got = LogConfigProviderGet(src->provider, defaultValue, LogConfigPrefixed(src, name).c_str());
      if (got != defaultValue) {
         value = got;
      }
   }
   return value;
}

Bool LogConfigBool(const LogConfigSources *src, const char *key, Bool defaultValue)
{
   return LogConfigValue<Bool>(src, key, defaultValue);
}

int32 LogConfigInt(const LogConfigSources *src, const char *key, int32 defaultValue)
{
   return LogConfigValue<int32>(src, key, defaultValue);
}

// A text of the caller's dictionary only; owned by the caller.
char *LogConfigDictText(const LogConfigSources *src, const char *key)
{
   return src->dict != NULL ? Dictionary_GetString(src->dict, NULL, "%s", key) : NULL;
}

// A text of the preferences only, the prefixed name winning; owned by the
// caller.
char *LogConfigPrefText(const LogConfigSources *src, const std::string &name)
{
   if (src->provider == NULL) {
      return NULL;
   }
   char *value = src->provider->getString(src->provider, NULL, name.c_str());
   if (src->appPrefix != NULL) {
      char *prefixed =
          src->provider->getString(src->provider, NULL, LogConfigPrefixed(src, name).c_str());
      if (prefixed != NULL) {
         free(value);
         value = prefixed;
      }
   }
   return value;
}

// A level name: none keeps the default, "none" is -1, a level its number,
// anything else the default.
int32 LogConfigLevel(const char *text, int32 defaultValue)
{
   if (text == NULL) {
      return defaultValue;
   }
   if (strcasecmp(text, "none") == 0) {
      return -1;
   }
   const LogLevelDesc *desc = Log_LevelByName(text);
   return desc != NULL ? desc->level : defaultValue;
}

// Replaces an invalid value by the default, saying so.
int32 LogFileInt32(const char *key, int32 value, int32 minimum, int32 defaultValue)
{
   if (value < minimum) {
      Warning("%s: %s (%d) is invalid. Set to %d.\n", __func__, key, value, defaultValue);
      return defaultValue;
   }
   return value;
}

// An owned text of the run-time library (malloc'ed), freed when it goes.
typedef std::unique_ptr<char, void (*)(void *)> LogText;

LogText LogOwned(char *text)
{
   return LogText(text, free);
}

// Where the file goes, as configured: log.config (through the provider),
// else log.fileName; the suffix; the system area switch.
struct LogFilePlace
{
   LogText configured{nullptr, free};
   LogText suffix{nullptr, free};
   Bool systemArea = FALSE;
};

void LogFileReadPlace(const LogConfigSources *src, LogFilePlace *place)
{
   LogText configKey = LogOwned(LogConfigDictText(src, "log.config"));
   if (configKey != nullptr && src->provider != NULL) {
      place->configured = LogOwned(src->provider->getString(src->provider, NULL, configKey.get()));
   }
   LogText fileName = LogOwned(LogConfigDictText(src, "log.fileName"));
   if (place->configured == nullptr) {
      place->configured = std::move(fileName);
   }
   place->suffix = LogOwned(LogConfigDictText(src, "log.suffix"));
   place->systemArea =
       src->dict != NULL ? Dictionary_GetBool(src->dict, FALSE, "%s", "log.systemAreaTemp") : FALSE;
}

// The settings read from all sources, checked and corrected.
void LogFileReadSettings(const LogConfigSources *src, LogFileConfig *c)
{
   LogFileSettings *s = &c->settings;
   s->useTimeStamps = LogConfigBool(src, "log.useTimeStamps", TRUE);
   s->useMilliseconds = LogConfigBool(src, "log.useMilliseconds", TRUE);
   s->useThreadName = LogConfigBool(src, "log.useThreadName", TRUE);
   s->useLevelDesignator = LogConfigBool(src, "log.useLevelDesignator", TRUE);
   s->useOpID = LogConfigBool(src, "log.useOpID", FALSE);
   s->append = LogConfigBool(src, "log.append", FALSE);
   s->syncAfterWrite = LogConfigBool(src, "log.syncAfterWrite", FALSE);
   s->fastRotation = LogConfigBool(src, "log.fastRotation", FALSE);
   s->keepOld = LogFileInt32("log.keepOld", LogConfigInt(src, "log.keepOld", 3), 0, 3);
   s->rotateSize = LogFileInt32("log.rotateSize", LogConfigInt(src, "log.rotateSize", 0), 0, 0);
   if (s->rotateSize > 0 && s->rotateSize < LOG_MIN_ROTATE_SIZE) {
      Warning("%s: log.rotateSize (%d) is too small. Set to %d.\n", "LogFileVariables",
              s->rotateSize, LOG_MIN_ROTATE_SIZE);
      s->rotateSize = LOG_MIN_ROTATE_SIZE;
   }
   c->permissions =
       LogFileInt32("log.permissions", LogConfigInt(src, "log.permissions", 0640), 1, 0640);
   s->throttleThreshold = LogFileInt32(
       "log.throttleThreshold", LogConfigInt(src, "log.throttleThreshold", 1000000), 0, 1000000);
   s->throttleBytesPerSec = LogFileInt32(
       "log.throttleBytesPerSec", LogConfigInt(src, "log.throttleBytesPerSec", 1000), -1, 1000);
   if (s->throttleBytesPerSec == 0) {
      s->throttleBytesPerSec = -1;
   }
   if (LogConfigBool(src, "log.noLogAfterThreshold", FALSE)) {
      s->throttleBytesPerSec = 0;
   }
   // All sources: the dictionary's text stands when no preference is set.
   LogText fileLevel = LogOwned(LogConfigPrefText(src, LogConfigName(src, "log.fileLevel")));
   if (fileLevel == nullptr) {
      fileLevel = LogOwned(LogConfigDictText(src, "log.fileLevel"));
   }
   c->fileLevel = LogConfigLevel(fileLevel.get(), LOG_INFO);
   c->stderrLevel = LogConfigLevel(LogOwned(LogConfigPrefText(src, "log.stderrLevel")).get(), -1);
}

// The log directory, made sure to exist; NULL, said, when there is none.
LogText LogFileDirectory(Bool systemArea)
{
   LogText directory =
       LogOwned(systemArea ? Util_SafeStrdup(LOG_SYSTEM_AREA) : File_GetSafeTmpDir());
   if (directory == nullptr) {
      Warning("Failed to establish the safe logging directory area: %s\n", strerror(errno));
   } else if (!File_EnsureDirectory(directory.get(), 0777)) {
      Warning("Safe logging area '%s' validation failed!\n", directory.get());
      directory.reset();
   }
   return directory;
}

// "<dir part>/<expanded base name>", or the bare expanded name.
LogText LogConfigExpandPath(const char *configured)
{
   const char *slash = strrchr(configured, '/');
   LogText base = LogOwned(Util_ExpandString(slash != NULL ? slash + 1 : configured));
   if (base == nullptr || slash == NULL) {
      return base;
   }
   std::string path = std::string(configured, (size_t)(slash - configured)) + "/" + base.get();
   return LogOwned(Util_SafeStrdup(path.c_str()));
}

// The configured path expanded, or one generated in the directory from the
// product word, the suffix and the process id (*defaultName set). NULL
// when the expansion fails.
LogText LogFileBuildPath(const LogFilePlace *place, const char *directory, Bool *defaultName)
{
   if (place->configured != nullptr) {
      return LogConfigExpandPath(place->configured.get());
   }
   *defaultName = TRUE;
   std::string generated =
       std::string(LOG_FILE_PRODUCT_WORD) +
       (place->suffix != nullptr ? std::string("-") + place->suffix.get() : "") + "-$PID.log";
   LogText base = LogOwned(Util_ExpandString(generated.c_str()));
   if (base == nullptr) {
      return base;
   }
   return LogOwned(Util_SafeStrdup((std::string(directory) + "/" + base.get()).c_str()));
}

// Creates the output named name from the settings; unregistered and
// unopened. NULL when the directory or the path cannot be had.
LogOutput *LogFileVariables(const char *appPrefix, const char *name, Dictionary *dict,
                            const LogConfigProvider *provider)
{
   if ((appPrefix != NULL && appPrefix[0] == '\0') || name == NULL || name[0] == '\0') {
      return NULL;
   }
   LogConfigSources src = {appPrefix, dict, provider, strcmp(name, "file") == 0 ? NULL : name};
   LogFilePlace place;
   LogFileConfig c = {};
   LogFileReadPlace(&src, &place);
   c.systemArea = place.systemArea;
   LogFileReadSettings(&src, &c);

   LogText directory = LogFileDirectory(c.systemArea);
   if (directory == nullptr) {
      return NULL;
   }
   LogText path = LogFileBuildPath(&place, directory.get(), &c.defaultName);
   if (path == nullptr) {
      return NULL;
   }
   c.path = path.get();
   c.suffix = place.suffix.get();
   c.directory = directory.get();
   return LogFile_Create(name, &c);
}

// Thresholds of the modules named in log.filter.minLogLevel.<module> and
// log.filter.minStderrLevel.<module>.
void LogConfigModuleFilters(const char *appPrefix, const LogConfigProvider *provider)
{
   LogConfigSources src = {appPrefix, NULL, provider, NULL};
   for (uint32 m = 1; m <= LOG_MODULE_COUNT; m++) {
      const char *module = Log_ModuleName(m);
      const char *keys[2] = {"log.filter.minLogLevel.", "log.filter.minStderrLevel."};
      for (int k = 0; k < 2; k++) {
         char *text = LogConfigPrefText(&src, std::string(keys[k]) + module);
         if (text == NULL) {
            continue;
         }
         const LogLevelDesc *desc = Log_LevelByName(text);
         int32 level = desc != NULL ? desc->level : -1;
         free(text);
         if (k == 0) {
            Log_SetModuleFileLevel(m, level);
         } else {
            Log_SetModuleStderrLevel(m, level);
         }
      }
   }
}

} // namespace

LogOutput *Log_InitWithConfig(const char *appPrefix, Dictionary *dict,
                              const LogConfigProvider *provider, Bool cleanOldLogs)
{
   LogOutput *output = LogFileVariables(appPrefix, "file", dict, provider);
   if (output == NULL) {
      return NULL;
   }
   if (cleanOldLogs) {
      LogFileCleanOldLogs(output);
   }
   if (!Log_AddOutput(output)) {
      Log_FreeOutput(output);
      return NULL;
   }
   if (provider != NULL) {
      LogConfigModuleFilters(appPrefix, provider);
   }
   return output;
}

LogOutput *Log_InitWithFile(const char *appPrefix, const LogConfigProvider *provider,
                            const char *fileName)
{
   Dictionary *dict = Dictionary_Create();
   Dictionary_SetString(dict, fileName, "%s", "log.fileName");
   LogOutput *output = Log_InitWithConfig(appPrefix, dict, provider, FALSE);
   Dictionary_Free(dict);
   return output;
}

void Log_SetProductInfo(const char *name, const char *version, const char *build,
                        const char *option)
{
   ProductState_SetOnce(name, version, build, option);
}
