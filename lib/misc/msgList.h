/// Message lists: user messages with a stable id, a printf-style format and
/// the arguments captured when the message arose, formatted only when shown.
///
/// A message text may begin with "@&!*@*@(" id ")"; the id is everything up
/// to the first ")" and the format is the rest. Any other text is carried as
/// id "msg.literal" with format "%s" and the whole text as its argument.
///
/// A list is a pointer to its newest record; an empty list is NULL. Lists
/// have no lock: one thread fills and consumes a list.
#ifndef LIB_MISC_MSGLIST_H
#define LIB_MISC_MSGLIST_H

#include <stdarg.h>

#include "lib/misc/basicTypes.h"
#include "lib/misc/msgFmt.h"

/// The prefix that marks a message text carrying an id.
#define MSG_MAGIC "@&!*@*@"
#define MSG_MAGIC_LEN 7
/// Builds a message text with an id: MSGID(foo.bar) "text".
#define MSGID(id) MSG_MAGIC "(" #id ")"

/// One message. Every text is owned and wiped before it is freed.
typedef struct MsgList
{
   struct MsgList *next; ///< Older message, or NULL.
   char *id;             ///< Message id.
   char *format;         ///< The printf-style format after the id.
   MsgFmt_Arg *args;     ///< Captured arguments (owned), or NULL.
   int numArgs;
} MsgList;

/// Adds one message, newest first, capturing the arguments of idFmt. A NULL
/// list pointer records nothing. A format whose arguments cannot be captured
/// is a program error and panics.
void MsgList_Append(MsgList **list, const char *idFmt, ...) PRINTF_DECL(2, 3);
void MsgList_VAppend(MsgList **list, const char *idFmt, va_list args) PRINTF_DECL(2, 0);
/// Adds one message without arguments: conversions in its format are shown
/// as they stand.
void MsgList_AppendStr(MsgList **list, const char *id);
/// A new one-message list.
MsgList *MsgList_Create(const char *idFmt, ...) PRINTF_DECL(1, 2);
MsgList *MsgList_VCreate(const char *idFmt, va_list args) PRINTF_DECL(1, 0);
MsgList *MsgList_CreateStr(const char *id);
/// Puts every record of other in front of *list (other is consumed); with a
/// NULL list pointer other is freed.
void MsgList_AppendMsgList(MsgList **list, MsgList *other);
/// A deep copy, or NULL for an empty list.
MsgList *MsgList_Copy(const MsgList *list);
/// Frees a list, wiping its texts; accepts NULL.
void MsgList_Free(MsgList *list);
/// TRUE when the list holds a message.
Bool MsgList_Present(const MsgList *list);
/// The id of the oldest message, or NULL for an empty list. Points into the
/// list.
const char *MsgList_GetMsgID(const MsgList *list);
/// All messages newest first, each formatted with its built-in format and
/// ending in a newline. Owned by the caller (free); "" for an empty list.
char *MsgList_ToString(const MsgList *list);
/// Logs each message newest first at level 5 as "[id] text".
void MsgList_Log(const MsgList *list);

/// Splits a message text into id and format. Returns FALSE for a text
/// without an id; with TRUE, *id points at the id (idLen bytes long) and
/// *format at the text after ")".
Bool MsgList_SplitId(const char *idFmt, const char **id, size_t *idLen, const char **format);
/// One message formatted with the given format instead of its own, with
/// string arguments optionally replaced (args of the same count). Owned by
/// the caller.
char *MsgList_FormatOne(const MsgList *msg, const char *format, const MsgFmt_Arg *args);

#endif
