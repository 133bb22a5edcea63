/// Facts about the host that do not change while the process runs.
#ifndef LIB_MISC_HOSTINFO_H
#define LIB_MISC_HOSTINFO_H

#include "lib/misc/basicTypes.h"

/// The host name, looked up once per process and cached (thread safe).
/// Returns a static text, or NULL when the name cannot be found.
const char *Hostinfo_HostName(void);

#endif
