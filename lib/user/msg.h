/// User messages: the calling thread's pending messages, posted to the user
/// through host callbacks (console forms by default), localised from a
/// message dictionary, and answered automatically from configuration keys
/// ("answer.<id>", "msg.autoAnswer"; "msg.noOK" and "msg.noOKnoWarning"
/// silence posts).
///
/// The process-wide block (callbacks, titles, locale, message dictionary) is
/// created on first use and guarded by the recursive lock "msgLock"; each
/// thread's pending list and callback overrides are its own.
#ifndef LIB_USER_MSG_H
#define LIB_USER_MSG_H

#include <stdarg.h>

#include "lib/misc/basicTypes.h"
#include "lib/misc/msgList.h"

/// Message types; the type selects the title of a post.
typedef enum MsgType {
   MSG_INFO = 0,
   MSG_INFO_TIMEOUT = 1,
   MSG_WARNING = 2,
   MSG_ERROR = 3,
   MSG_CONFIG_EDITOR = 4,
   MSG_WEB_LINK_GET_LICENSE_ERROR = 5,
   MSG_WEB_LINK_EXTEND_LICENSE_ERROR = 6,
   MSG_WEB_LINK_EXTEND_LICENSE_INFO = 7,
   MSG_WEB_LINK_HOME_PAGE_INFO = 8,
   MSG_NUM_TYPES = 9
} MsgType;

/// Buttons of a hint.
typedef enum HintType { MSG_HINT_OK = 0, MSG_HINT_OKCANCEL = 1 } HintType;

/// Outcome of a hint.
typedef enum HintResult { HINT_CONTINUE = 0, HINT_CANCEL = 1, HINT_NOT_SHOWN = 2 } HintResult;

/// The host's callback slots, in order of use. A NULL slot is not called.
typedef struct MsgCallback
{
   /// 0: show a post.
   void (*post)(MsgType type, const char *msgID, const char *text);
   /// 1: ask a question; choices is NULL-terminated and localised. Returns
   /// the index of the reply.
   int (*question)(const char *const *choices, int defaultAnswer, const char *msgID,
                   const char *text);
   /// 2: show progress; percent < 0 starts a new text. Returns FALSE to cancel.
   Bool (*progress)(const char *msgID, const char *text, int percent, Bool cancelButton);
   /// 3: show a hint.
   HintResult (*hint)(HintType type, const char *msgID, const char *text);
   /// 4: start lazy progress; returns the host's handle.
   void *(*lazyProgressStart)(const char *msgID, const char *text, Bool allowCancel);
   /// 5: update lazy progress; returns FALSE to cancel.
   Bool (*lazyProgress)(void *handle, const char *msgID, const char *text, Bool allowCancel,
                        int percent);
   /// 6: end lazy progress.
   void (*lazyProgressEnd)(void *handle);
   /// 7: show a post with its messages (oldest first).
   void (*postList)(MsgType type, const MsgList *messages);
   /// 8: ask a question with its messages.
   int (*questionList)(const char *const *choices, int defaultAnswer, const MsgList *messages);
   /// 9: unused.
   void (*reserved)(void);
   /// 10: show a hint with its messages.
   HintResult (*hintList)(HintType type, const MsgList *messages);
   /// 11: start lazy progress with its messages.
   void *(*lazyProgressStartList)(const MsgList *messages, Bool allowCancel);
   /// 12: host notification without arguments (process-wide only).
   void (*notify)(void);
   /// 13: told before a post is shown.
   void (*postHook)(MsgType type, const MsgList *messages);
} MsgCallback;

/// Replaces the process-wide callbacks (all fourteen slots).
void Msg_SetCallback(const MsgCallback *cb);
/// Copies the process-wide callbacks.
void Msg_GetCallback(MsgCallback *cb);
/// Sets the calling thread's overrides: its non-NULL slots (all but the
/// notification) win over the process-wide ones. NULL drops the overrides.
void Msg_SetThreadCallback(const MsgCallback *cb);

/// Captures a message and appends it to the calling thread's pending list.
void Msg_Append(const char *idFmt, ...) PRINTF_DECL(1, 2);
void Msg_VAppend(const char *idFmt, va_list args) PRINTF_DECL(1, 0);
/// Appends copies of a list's messages, oldest first; the list stays the
/// caller's.
void Msg_AppendMsgList(const MsgList *messages);
/// Appends the message, then shows every pending message (oldest first)
/// under its id, unless answered automatically or silenced by "msg.noOK".
/// The pending list is empty afterwards.
void Msg_Post(MsgType type, const char *idFmt, ...) PRINTF_DECL(2, 3);
void Msg_VPost(MsgType type, const char *idFmt, va_list args) PRINTF_DECL(2, 0);
/// Msg_AppendMsgList, then posting under the id of the list's newest message.
void Msg_PostMsgList(MsgType type, const MsgList *messages);
/// Drops the pending messages, logging them first when log is TRUE.
void Msg_Reset(Bool log);
/// The calling thread's pending messages, oldest first (owned by the
/// thread; valid until the next Msg call on it).
const MsgList *Msg_Pending(void);

/// Appends the message and asks the pending messages as a question with
/// the given choices (message texts, NULL-terminated, at most 9). Returns
/// the index of the answer: automatic, the host's, or the default.
uint32 Msg_Question(const char *const *choices, int defaultAnswer, const char *idFmt, ...)
    PRINTF_DECL(3, 4);
/// Shows a hint with OK (or OK and Cancel). Returns HINT_CONTINUE,
/// HINT_CANCEL, or HINT_NOT_SHOWN under "msg.noOK".
HintResult Msg_Hint(HintType type, const char *idFmt, ...) PRINTF_DECL(2, 3);
HintResult Msg_HintMsgList(HintType type, const MsgList *messages);
/// Shows progress through the progress callback; percent < 0 starts a new
/// text. Returns FALSE when the host cancels.
Bool Msg_Progress(int percent, Bool cancelButton, const char *idFmt, ...) PRINTF_DECL(3, 4);

/// Lazy progress: forwards the localised, formatted text to the host's
/// lazy-progress callbacks. Without them, nothing happens (NULL, TRUE).
void *Msg_LazyProgressStart(Bool allowCancel, const char *idFmt, ...) PRINTF_DECL(2, 3);
Bool Msg_LazyProgress(void *handle, Bool allowCancel, int percent, const char *idFmt, ...)
    PRINTF_DECL(4, 5);
void Msg_LazyProgressEnd(void *handle);

/// The localised format of an id text ("@&!*@*@(id)built-in"), owned by the
/// caller. An id longer than 127 bytes is a program error.
char *Msg_GetString(const char *idString);
/// As Msg_GetString, with accelerator underscores removed ("_" dropped,
/// "__" kept as "_").
char *Msg_GetPlainButtonText(const char *idString);
/// The localised format filled with the arguments; owned by the caller.
char *Msg_Format(const char *idFmt, ...) PRINTF_DECL(1, 2);
char *Msg_VFormat(const char *idFmt, va_list args) PRINTF_DECL(1, 0);
/// Formats all messages of a list (in list order), localised, each ending
/// in a newline. Owned by the caller.
char *Msg_LocalizeList(const MsgList *messages);
/// A byte count as a localised size text ("1.5 MB", "1,024 TB", "1 byte").
char *Msg_FormatSizeInBytes(uint64 size);

/// Loads the message dictionary for a locale (NULL drops it): the file
/// <libdir>/messages/<locale>/<programName>.lmsg. Returns FALSE and keeps
/// the current dictionary when it cannot be loaded.
Bool Msg_SetLocaleEx(const char *locale, const char *programName);
/// The current locale, or NULL; owned by the caller.
char *Msg_GetLocale(void);

/// Ends the module: frees the process-wide block and the calling thread's
/// pending messages. No per-thread record is created afterwards.
void Msg_Exit(void);

#endif
