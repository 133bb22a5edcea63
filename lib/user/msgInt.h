/// What the locale loader (msgLocale.cpp) needs from the message module.
#ifndef LIB_USER_MSGINT_H
#define LIB_USER_MSGINT_H

#include "lib/user/dictionary.h"
#include "lib/user/msg.h"

/// Acquires and releases "msgLock" (recursive; created on first use).
void MsgLock(void);
void MsgUnlock(void);
/// Replaces the message dictionary (taken over; may be NULL) and the locale
/// (copied; may be NULL), freeing the old ones. Caller holds the lock.
void MsgSetDictionaryLocked(Dictionary *dict, const char *locale);
/// The locale, or NULL; points into the module. Caller holds the lock.
const char *MsgGetLocaleLocked(void);

#endif
