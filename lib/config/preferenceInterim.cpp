// Stand-in for the preference layers: the system behaves as before start-up.
#include "lib/config/preference.h"

Bool Preference_Init(void) { return TRUE; }

void Preference_Exit(void) {}

const void *PreferenceGet(const void *defaultValue, int, const char *) { return defaultValue; }
