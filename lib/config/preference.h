/// The layered preference system behind the configuration getters: six
/// dictionaries, searched highest precedence first:
///   GLOBAL SETTINGS   <libdir>/settings
///   NON PERSISTENT    in memory only (Preference_SetFromString)
///   USER PREFERENCES  ~/.keltria/preferences
///   USER DEFAULTS     ~/.keltria/config
///   HOST DEFAULTS     /etc/keltria/config (read first)
///   SITE DEFAULTS     <libdir>/config
/// <libdir> is /usr/lib/keltria unless HOST DEFAULTS sets the string key
/// libdir. The user files are skipped when HOST DEFAULTS sets
/// disableUserPreferences, and in setuid processes (real and effective user
/// ids differ). A missing or bad file is logged and leaves its layer with
/// whatever was read; it never stops start-up.
///
/// The state is published with a compare-and-swap and guarded by the
/// recursive lock "preferenceLock"; every function here is thread safe, but
/// a lookup racing with Preference_Exit is not (shutdown runs at exit).
#ifndef LIB_CONFIG_PREFERENCE_H
#define LIB_CONFIG_PREFERENCE_H

#include "lib/misc/basicTypes.h"

/// Starts the system with user files allowed; returns TRUE. Does nothing
/// when it is already started.
Bool Preference_Init(void);
/// Starts the system without the user layers (they stay empty).
void Preference_InitSystemOnly(void);
/// Ends the system and frees everything; safe when not started. A later
/// start reads the files again.
void Preference_Exit(void);
/// Layered lookup with a value type of the dictionary (DICT_STRING, ...):
/// the value from the first layer that defines the name. A name no layer
/// defines is looked up in USER PREFERENCES, where a non-zero default is
/// remembered: later lookups return that first default whatever default
/// they pass. Returns a pointer to the value, or the caller's default
/// pointer before start-up. The pointer is not the caller's to free and
/// stays valid until the entry changes or the system ends.
const void *PreferenceGet(const void *defaultValue, int type, const char *name);
/// Stores "name=value" in the NON PERSISTENT layer; with overwrite FALSE an
/// existing name keeps its value. FALSE when the system is not started or
/// the value was not stored.
Bool Preference_SetFromString(const char *text, Bool overwrite);
/// TRUE when no layer holds a real entry (a remembered default does not
/// count) for the name, or the system is not started.
Bool Preference_NotSet(const char *name);
/// Logs every layer at level 5 under a heading with its file; the user
/// layers only when they have a file. Does nothing when not started.
void Preference_Log(void);

#endif
