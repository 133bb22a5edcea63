// The preference layers: start-up, layered lookup, the in-memory layer and
// shutdown.
#include "lib/config/preference.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"
#include "lib/misc/util.h"
#include "lib/user/dictionary.h"

namespace {

// Layers in precedence order.
enum {
   LAYER_GLOBAL_SETTINGS,
   LAYER_NON_PERSISTENT,
   LAYER_USER_PREFERENCES,
   LAYER_USER_DEFAULTS,
   LAYER_HOST_DEFAULTS,
   LAYER_SITE_DEFAULTS,
   LAYER_COUNT
};

const char *const kLayerHeadings[LAYER_COUNT] = {
    "DICT --- GLOBAL SETTINGS %s\n",  "DICT --- NON PERSISTENT %s\n",
    "DICT --- USER PREFERENCES %s\n", "DICT --- USER DEFAULTS %s\n",
    "DICT --- HOST DEFAULTS %s\n",    "DICT --- SITE DEFAULTS %s\n",
};

const char kConfigDir[] = "/etc/keltria";
const char kLibDir[] = "/usr/lib/keltria";

struct PreferencesState
{
   MXUserRecLock *lock;
   Dictionary *layers[LAYER_COUNT];
   char *paths[LAYER_COUNT];
};

std::atomic<PreferencesState *> gState{nullptr};

char *PreferenceJoin(const char *dir, const char *suffix)
{
   size_t len = strlen(dir) + strlen(suffix) + 1;
   char *path = (char *)Util_SafeMalloc(len);
   snprintf(path, len, "%s%s", dir, suffix);
   return path;
}

// The library directory with a suffix; HOST DEFAULTS may move it with the
// string key libdir. The lookup remembers the default there, which is never
// written or dumped.
char *PreferenceLibPath(PreferencesState *state, const char *suffix)
{
   char *dflt = Util_SafeStrdup(kLibDir);
   const char *const *value = (const char *const *)Dictionary_Get(
       state->layers[LAYER_HOST_DEFAULTS], &dflt, DICT_STRING, "libdir");
   const char *dir = value != NULL && *value != NULL ? *value : "";
   char *path = PreferenceJoin(dir, suffix);
   free(dflt);
   return path;
}

void PreferenceLoadLayer(PreferencesState *state, int layer)
{
   MsgList *msgs = NULL;
   if (!Dictionary_Load(state->layers[layer], state->paths[layer], TRUE, STRING_ENCODING_DEFAULT,
                        &msgs)) {
      MsgList_Log(msgs);
      Log("PREF Optional preferences file not found at %s. Using default values.\n",
          state->paths[layer]);
   }
   MsgList_Free(msgs);
}

void PreferenceDestroy(PreferencesState *state)
{
   for (int i = 0; i < LAYER_COUNT; i++) {
      Dictionary_Free(state->layers[i]);
      free(state->paths[i]);
   }
   MXUser_DestroyRecLock(state->lock);
   free(state);
}

void PreferenceInit(Bool allowUserFiles)
{
   if (gState.load() != nullptr) {
      return;
   }
   PreferencesState *state = (PreferencesState *)Util_SafeCalloc(1, sizeof *state);
   state->lock = MXUser_CreateRecLock("preferenceLock", RANK_preferenceLock);
   for (int i = 0; i < LAYER_COUNT; i++) {
      state->layers[i] = Dictionary_Create();
   }

   state->paths[LAYER_HOST_DEFAULTS] = PreferenceJoin(kConfigDir, "/config");
   PreferenceLoadLayer(state, LAYER_HOST_DEFAULTS);

   Bool disableUser =
       Dictionary_GetBool(state->layers[LAYER_HOST_DEFAULTS], FALSE, "disableUserPreferences");
   state->paths[LAYER_GLOBAL_SETTINGS] = PreferenceLibPath(state, "/settings");
   state->paths[LAYER_SITE_DEFAULTS] = PreferenceLibPath(state, "/config");
   if (disableUser) {
      Log("PREF Disabling user preferences because disableUserPreferences is set.\n");
   } else if (allowUserFiles) {
      if (getuid() == geteuid()) {
         state->paths[LAYER_USER_DEFAULTS] = Util_ExpandString("~/.keltria/config");
         state->paths[LAYER_USER_PREFERENCES] = Util_ExpandString("~/.keltria/preferences");
      } else {
         Log("setuid: ignoring user's config and preferences\n");
      }
   }

   PreferenceLoadLayer(state, LAYER_GLOBAL_SETTINGS);
   PreferenceLoadLayer(state, LAYER_SITE_DEFAULTS);
   if (state->paths[LAYER_USER_DEFAULTS] != NULL) {
      PreferenceLoadLayer(state, LAYER_USER_DEFAULTS);
   }
   if (state->paths[LAYER_USER_PREFERENCES] != NULL) {
      PreferenceLoadLayer(state, LAYER_USER_PREFERENCES);
   }

   PreferencesState *expected = nullptr;
   if (!gState.compare_exchange_strong(expected, state)) {
      PreferenceDestroy(state);
   }
}

} // namespace

Bool Preference_Init(void)
{
   PreferenceInit(TRUE);
   return TRUE;
}

void Preference_InitSystemOnly(void)
{
   PreferenceInit(FALSE);
}

void Preference_Exit(void)
{
   PreferencesState *state = gState.exchange(nullptr);
   if (state != nullptr) {
      PreferenceDestroy(state);
   }
}

const void *PreferenceGet(const void *defaultValue, int type, const char *name)
{
   PreferencesState *state = gState.load();
   if (state == nullptr) {
      Log("PREF early PreferenceGet(%s), using default\n", name);
      return defaultValue;
   }
   MXUser_AcquireRecLock(state->lock);
   Dictionary *found = state->layers[LAYER_USER_PREFERENCES];
   for (int i = 0; i < LAYER_COUNT; i++) {
      if (Dictionary_IsDefined(state->layers[i], name)) {
         found = state->layers[i];
         break;
      }
   }
   const void *value = Dictionary_Get(found, defaultValue, (DictionaryValueType)type, name);
   MXUser_ReleaseRecLock(state->lock);
   return value;
}

Bool Preference_SetFromString(const char *text, Bool overwrite)
{
   PreferencesState *state = gState.load();
   if (state == nullptr) {
      return FALSE;
   }
   MXUser_AcquireRecLock(state->lock);
   Bool ok = Dictionary_SetFromString(state->layers[LAYER_NON_PERSISTENT], text, !overwrite, NULL);
   MXUser_ReleaseRecLock(state->lock);
   return ok;
}

Bool Preference_NotSet(const char *name)
{
   PreferencesState *state = gState.load();
   if (state == nullptr) {
      return TRUE;
   }
   Bool notSet = TRUE;
   MXUser_AcquireRecLock(state->lock);
   for (int i = 0; i < LAYER_COUNT && notSet; i++) {
      notSet = Dictionary_NotSet(state->layers[i], name);
   }
   MXUser_ReleaseRecLock(state->lock);
   return notSet;
}

void Preference_Log(void)
{
   PreferencesState *state = gState.load();
   if (state == nullptr) {
      return;
   }
   MXUser_AcquireRecLock(state->lock);
   for (int i = 0; i < LAYER_COUNT; i++) {
      if ((i == LAYER_USER_PREFERENCES || i == LAYER_USER_DEFAULTS) && state->paths[i] == NULL) {
         continue;
      }
      Log(kLayerHeadings[i], state->paths[i] != NULL ? state->paths[i] : "(null)");
      Dictionary_Log(state->layers[i]);
   }
   MXUser_ReleaseRecLock(state->lock);
}
