/// The layered preference system behind the configuration getters.
#ifndef LIB_CONFIG_PREFERENCE_H
#define LIB_CONFIG_PREFERENCE_H

#include "lib/misc/basicTypes.h"

/// Starts the system with user files allowed; returns TRUE.
Bool Preference_Init(void);
/// Ends the system and frees everything; safe when not started.
void Preference_Exit(void);
/// Layered lookup: returns a pointer to the value, or to the caller's
/// default before start-up. The pointer is not the caller's to free.
const void *PreferenceGet(const void *defaultValue, int type, const char *name);

#endif
