/// The product's identity, shared by every reader in the process: the
/// console messages, the log file header and the panic post all name the
/// product from here. Values are set once at start-up, before other threads
/// read them; the texts are copied and kept for the life of the process.
#ifndef LIB_MISC_PRODUCTSTATE_H
#define LIB_MISC_PRODUCTSTATE_H

#include "lib/misc/basicTypes.h"

/// The product mask bit that selects the desktop support-data hint of the
/// panic post.
#define PRODUCTSTATE_MASK_DESKTOP 16

/// Sets any of the texts; a NULL argument keeps the current value.
void ProductState_Set(const char *name, const char *version, const char *buildNumber,
                      const char *option);
/// Like ProductState_Set, but each text only while it was never set (by
/// either call), whatever value it holds.
void ProductState_SetOnce(const char *name, const char *version, const char *buildNumber,
                          const char *option);

/// The product name: "Keltria Pellory" until set.
const char *ProductState_GetName(void);
/// The version text: "" until set.
const char *ProductState_GetVersion(void);
/// The build number text: "" until set.
const char *ProductState_GetBuildNumber(void);
/// The build option text ("release", "debug", ...): "" until set.
const char *ProductState_GetOption(void);

/// The product mask; with none set every bit counts as set.
void ProductState_SetProductMask(uint64 mask);
uint64 ProductState_GetProductMask(void);

/// Back to the initial values; for tests and for a process that re-identifies.
void ProductState_Reset(void);

#endif
