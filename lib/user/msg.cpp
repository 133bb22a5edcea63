// The message module: pending messages per thread, posting through host
// callbacks, localisation from the message dictionary and automatic answers.
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <atomic>
#include <string>

#include "lib/config/config.h"
#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "lib/misc/productState.h"
#include "lib/panic/panic.h"
#include "lib/user/dictionaryInt.h"
#include "lib/user/msgInt.h"

#define MSG_ID_MAX 127
#define MSG_MAX_CHOICES 9
#define MSG_DASHES "----------------------------------------\n"

static void MsgConsolePost(MsgType type, const char *msgID, const char *text);
static int MsgConsoleQuestion(const char *const *choices, int defaultAnswer, const char *msgID,
                              const char *text);
static Bool MsgConsoleProgress(const char *msgID, const char *text, int percent, Bool cancelButton);
static HintResult MsgConsoleHint(HintType type, const char *msgID, const char *text);

namespace {

// The built-in titles, by type.
const char *const kTitleIds[MSG_NUM_TYPES] = {
    MSGID(msg.msg.info) "Information",
    MSGID(msg.msg.info) "Information",
    MSGID(msg.msg.warning) "Warning",
    MSGID(msg.msg.error) "Error",
    MSGID(msg.msg.configEditor) "Configuration editor",
    MSGID(msg.msg.webLink.getLicenseError) "Licence",
    MSGID(msg.msg.webLink.extendLicenseError) "Licence",
    MSGID(msg.msg.webLink.extendLicenseInfo) "Licence",
    MSGID(msg.msg.webLink.homePageInfo) "Home page",
};

struct MsgState
{
   MsgCallback callbacks;
   char *locale;
   Dictionary *dict;
   const char *titles[MSG_NUM_TYPES];
   Bool titlesFilled;
   char progressText[81];
};

struct MsgThreadState
{
   MsgCallback overrides = {};
   Bool hasOverrides = FALSE;
   MsgList *pending = NULL;
   MsgList **tail = &pending;

   ~MsgThreadState() { MsgList_Free(pending); }
};

MXUserRecLock *msgLockStorage;
MsgState *msgState;
std::atomic<bool> msgExited{false};
thread_local MsgThreadState *msgThread;

// Frees each thread's record when the thread ends.
struct MsgThreadOwner
{
   ~MsgThreadOwner()
   {
      delete msgThread;
      msgThread = NULL;
   }
};
thread_local MsgThreadOwner msgThreadOwner;

MsgThreadState *MsgGetThread(void)
{
   if (msgThread == NULL) {
      if (msgExited) {
         return NULL;
      }
      (void)&msgThreadOwner; // instantiate the owner for this thread
      msgThread = new MsgThreadState();
   }
   return msgThread;
}

// Caller holds the lock.
MsgState *MsgGetStateLocked(void)
{
   if (msgState == NULL) {
      msgState = (MsgState *)calloc(1, sizeof *msgState);
      if (msgState == NULL) {
         Panic("VERIFY %s:%d\n", "vela/lib/user/msg", __LINE__);
      }
      msgState->callbacks.post = MsgConsolePost;
      msgState->callbacks.question = MsgConsoleQuestion;
      msgState->callbacks.progress = MsgConsoleProgress;
      msgState->callbacks.hint = MsgConsoleHint;
   }
   return msgState;
}

char *MsgDup(const char *text)
{
   char *copy = strdup(text == NULL ? "" : text);
   if (copy == NULL) {
      Panic("VERIFY %s:%d\n", "vela/lib/user/msg", __LINE__);
   }
   return copy;
}

void MsgFreeText(char *text)
{
   if (text != NULL) {
      int savedErrno = errno;
      memset(text, 0, strlen(text));
      free(text);
      errno = savedErrno;
   }
}

// Removes accelerator underscores: "_" goes, "__" becomes "_".
std::string MsgStripAccelerators(const char *text)
{
   std::string out;
   for (const char *p = text; *p != '\0'; p++) {
      if (*p == '_') {
         if (p[1] == '_') {
            out.push_back('_');
            p++;
         }
         continue;
      }
      out.push_back(*p);
   }
   return out;
}

// The localised format of a message id, or NULL when the message dictionary
// does not hold it. Takes the lock.
char *MsgLookupLocalized(const char *id, size_t idLen)
{
   if (idLen > MSG_ID_MAX) {
      Panic("VERIFY %s:%d\n", "vela/lib/user/msg", __LINE__);
   }
   char name[MSG_ID_MAX + 1];
   memcpy(name, id, idLen);
   name[idLen] = '\0';
   char *result = NULL;
   MsgLock();
   MsgState *state = MsgGetStateLocked();
   if (state->dict != NULL && Dictionary_IsDefined(state->dict, name)) {
      const char *value =
          *(const char *const *)Dictionary_Get(state->dict, NULL, DICT_STRING, name);
      if (value != NULL) {
         result = MsgDup(value);
      }
   }
   MsgUnlock();
   return result;
}

// The localised format of an id text; a text without id is itself.
char *MsgLocalizeIdText(const char *idText, Bool stripAccelerators)
{
   const char *id;
   size_t idLen;
   const char *builtIn;
   char *result;
   if (!MsgList_SplitId(idText, &id, &idLen, &builtIn)) {
      result = MsgDup(idText);
   } else {
      result = MsgLookupLocalized(id, idLen);
      if (result == NULL) {
         result = MsgDup(builtIn);
      }
   }
   if (stripAccelerators) {
      std::string plain = MsgStripAccelerators(result);
      MsgFreeText(result);
      result = MsgDup(plain.c_str());
   }
   return result;
}

// One message, localised: its format and its id-text string arguments.
char *MsgFormatMessage(const MsgList *m)
{
   char *format = MsgLookupLocalized(m->id, strlen(m->id));
   MsgFmt_Arg *args = MsgFmt_CopyArgs(m->args, m->numArgs);
   for (int i = 0; args != NULL && i < m->numArgs; i++) {
      const char *id;
      size_t idLen;
      const char *builtIn;
      if (args[i].type == MSGFMT_ARG_STRING && args[i].v.s != NULL &&
          MsgList_SplitId(args[i].v.s, &id, &idLen, &builtIn)) {
         Bool button = idLen >= 7 && strncmp(id, "button.", 7) == 0;
         char *localized = MsgLocalizeIdText(args[i].v.s, button);
         MsgFreeText(args[i].v.s);
         args[i].v.s = localized;
      }
   }
   char *text = MsgList_FormatOne(m, format, args);
   MsgFmt_FreeArgs(args, m->numArgs);
   MsgFreeText(format);
   return text;
}

// Takes the calling thread's pending list, leaving it empty.
MsgList *MsgTakePending(void)
{
   MsgThreadState *t = MsgGetThread();
   if (t == NULL) {
      return NULL;
   }
   MsgList *list = t->pending;
   t->pending = NULL;
   t->tail = &t->pending;
   return list;
}

void MsgAppendOne(MsgList *m)
{
   MsgThreadState *t = MsgGetThread();
   if (t == NULL) {
      MsgList_Free(m);
      return;
   }
   m->next = NULL;
   *t->tail = m;
   t->tail = &m->next;
}

// The process-wide callbacks overlaid by the calling thread's.
MsgCallback MsgEffectiveCallbacksLocked(void)
{
   MsgCallback cb = MsgGetStateLocked()->callbacks;
   MsgThreadState *t = msgThread;
   if (t != NULL && t->hasOverrides) {
      void (**dst)(void) = (void (**)(void)) & cb;
      void (*const *src)(void) = (void (*const *)(void)) & t->overrides;
      size_t slots = sizeof cb / sizeof *dst;
      for (size_t i = 0; i < slots; i++) {
         if (src[i] != NULL && i != offsetof(MsgCallback, notify) / sizeof *dst) {
            dst[i] = src[i];
         }
      }
   }
   return cb;
}

void MsgFillTitlesLocked(MsgState *state)
{
   if (state->titlesFilled) {
      return;
   }
   for (int i = 0; i < MSG_NUM_TYPES; i++) {
      const char *id;
      size_t idLen;
      const char *builtIn;
      state->titles[i] =
          MsgList_SplitId(kTitleIds[i], &id, &idLen, &builtIn) ? builtIn : kTitleIds[i];
   }
   state->titlesFilled = TRUE;
}

const char *MsgTitleLocked(MsgType type)
{
   MsgState *state = MsgGetStateLocked();
   MsgFillTitlesLocked(state);
   return (unsigned)type < MSG_NUM_TYPES ? state->titles[type] : "";
}

void MsgLogList(const char *header, const char *title, const MsgList *list)
{
   Log("%s:%s%s\n", header, *title == '\0' ? "" : " ", title);
   // The pending list is oldest first; log it in that order.
   for (const MsgList *m = list; m != NULL; m = m->next) {
      MsgList one = *m;
      one.next = NULL;
      MsgList_Log(&one);
   }
   Log("%s", MSG_DASHES);
}

// Asks the configuration for an answer. Returns 2 for "answer.<id>", 1 for
// "msg.autoAnswer", 0 when unanswered; *index gets the answer.
int MsgIsAnswered(const char *const *choices, int defaultAnswer, const char *id, int *index)
{
   char *answer = Config_GetString(NULL, "answer.%s", id);
   if (answer != NULL) {
      std::string wanted = MsgStripAccelerators(answer);
      for (int i = 0; choices[i] != NULL; i++) {
         const char *cid;
         size_t cidLen;
         const char *builtIn = choices[i];
         MsgList_SplitId(choices[i], &cid, &cidLen, &builtIn);
         if (strcasecmp(MsgStripAccelerators(builtIn).c_str(), wanted.c_str()) == 0) {
            Log("%s: Using config default '%s' as the answer for '%s'\n", "MsgIsAnswered", answer,
                id);
            MsgFreeText(answer);
            *index = i;
            return 2;
         }
      }
      MsgFreeText(answer);
   }
   if (Config_GetBool(FALSE, "msg.autoAnswer")) {
      char *choice = MsgLocalizeIdText(choices[defaultAnswer], TRUE);
      Log("%s: Using builtin default '%s' as the answer for '%s'\n", "MsgIsAnswered", choice, id);
      MsgFreeText(choice);
      *index = defaultAnswer;
      return 1;
   }
   return 0;
}

const char *const kOkChoices[] = {MSGID(button.ok) "OK", NULL};
const char *const kOkCancelChoices[] = {MSGID(button.ok) "OK", MSGID(button.cancel) "Cancel", NULL};

// Posts the list (oldest first) under id; takes over the list.
void MsgPostList(MsgType type, MsgList *list, const char *id)
{
   MsgLock();
   MsgCallback cb = MsgEffectiveCallbacksLocked();
   MsgLogList("Msg_Post", MsgTitleLocked(type), list);
   MsgUnlock();

   if (cb.postHook != NULL) {
      cb.postHook(type, list);
   }
   int index;
   if (MsgIsAnswered(kOkChoices, 0, id, &index) != 0) {
      MsgList_Free(list);
      return;
   }
   char *text = Msg_LocalizeList(list);
   if (type != MSG_ERROR && Config_GetBool(FALSE, "msg.noOK")) {
      if (!Config_GetBool(FALSE, "msg.noOKnoWarning")) {
         Warning("MSG: %s\n", text);
      }
   } else {
      if (cb.postList != NULL) {
         cb.postList(type, list);
      }
      if (cb.post != NULL) {
         cb.post(type, id, text);
      }
   }
   MsgFreeText(text);
   MsgList_Free(list);
}

// The newest message's id in an oldest-first list.
const char *MsgLastId(const MsgList *list)
{
   const char *id = "msg.literal";
   for (const MsgList *m = list; m != NULL; m = m->next) {
      id = m->id;
   }
   return id;
}

} // namespace

/* ---- Lock and state for the locale loader ------------------------------ */

void MsgLock(void)
{
   MXUser_AcquireRecLock(MXUser_CreateSingletonRecLock(&msgLockStorage, "msgLock", RANK_msgLock));
}

void MsgUnlock(void)
{
   MXUser_ReleaseRecLock(msgLockStorage);
}

Dictionary *MsgGetDictionaryLocked(void)
{
   return MsgGetStateLocked()->dict;
}

void MsgSetDictionaryLocked(Dictionary *dict, const char *locale)
{
   MsgState *state = MsgGetStateLocked();
   if (state->dict != dict) {
      Dictionary_Free(state->dict);
   }
   state->dict = dict;
   MsgFreeText(state->locale);
   state->locale = locale == NULL ? NULL : MsgDup(locale);
}

const char *MsgGetLocaleLocked(void)
{
   return MsgGetStateLocked()->locale;
}

char *Msg_GetLocale(void)
{
   MsgLock();
   const char *locale = MsgGetLocaleLocked();
   char *copy = locale == NULL ? NULL : MsgDup(locale);
   MsgUnlock();
   return copy;
}

/* ---- Callbacks --------------------------------------------------------- */

void Msg_SetCallback(const MsgCallback *cb)
{
   MsgLock();
   MsgGetStateLocked()->callbacks = *cb;
   MsgUnlock();
}

void Msg_GetCallback(MsgCallback *cb)
{
   MsgLock();
   *cb = MsgGetStateLocked()->callbacks;
   MsgUnlock();
}

void Msg_SetThreadCallback(const MsgCallback *cb)
{
   MsgThreadState *t = MsgGetThread();
   if (t == NULL) {
      return;
   }
   t->hasOverrides = cb != NULL;
   t->overrides = cb != NULL ? *cb : MsgCallback{};
}

/* ---- Pending messages and posting -------------------------------------- */

void Msg_VAppend(const char *idFmt, va_list args)
{
   MsgList *m = MsgList_VCreate(idFmt, args);
   MsgAppendOne(m);
}

void Msg_Append(const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   Msg_VAppend(idFmt, args);
   va_end(args);
}

// A copy of a list (newest first) in the order the messages arose.
static MsgList *MsgCopyOldestFirst(const MsgList *messages)
{
   MsgList *copy = MsgList_Copy(messages);
   MsgList *oldestFirst = NULL;
   while (copy != NULL) {
      MsgList *next = copy->next;
      copy->next = oldestFirst;
      oldestFirst = copy;
      copy = next;
   }
   return oldestFirst;
}

void Msg_AppendMsgList(const MsgList *messages)
{
   // The pending list keeps the order of arising.
   MsgList *oldestFirst = MsgCopyOldestFirst(messages);
   while (oldestFirst != NULL) {
      MsgList *next = oldestFirst->next;
      MsgAppendOne(oldestFirst);
      oldestFirst = next;
   }
}

const MsgList *Msg_Pending(void)
{
   MsgThreadState *t = MsgGetThread();
   return t == NULL ? NULL : t->pending;
}

void Msg_VPost(MsgType type, const char *idFmt, va_list args)
{
   Msg_VAppend(idFmt, args);
   MsgList *list = MsgTakePending();
   MsgPostList(type, list, MsgLastId(list));
}

void Msg_Post(MsgType type, const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   Msg_VPost(type, idFmt, args);
   va_end(args);
}

void Msg_PostMsgList(MsgType type, const MsgList *messages)
{
   Msg_AppendMsgList(messages);
   MsgList *list = MsgTakePending();
   const char *id = messages != NULL ? messages->id : MsgLastId(list);
   std::string idCopy(id);
   MsgPostList(type, list, idCopy.c_str());
}

void Msg_Reset(Bool log)
{
   MsgList *list = MsgTakePending();
   if (log && list != NULL) {
      MsgLogList("Msg_Reset", "", list);
   }
   MsgList_Free(list);
}

char *Msg_LocalizeList(const MsgList *messages)
{
   std::string out;
   for (const MsgList *m = messages; m != NULL; m = m->next) {
      char *text = MsgFormatMessage(m);
      out.append(text);
      if (out.empty() || out.back() != '\n') {
         out.push_back('\n');
      }
      MsgFreeText(text);
   }
   char *result = MsgDup(out.c_str());
   memset(&out[0], 0, out.size());
   return result;
}

/* ---- Questions and hints ----------------------------------------------- */

// Asks one question callback, reposting once after an invalid reply.
static int MsgAsk(int (*ask)(const char *const *, int, const char *, const char *),
                  int (*askList)(const char *const *, int, const MsgList *),
                  const char *const *choices, int numChoices, int defaultAnswer, const char *id,
                  const char *text, const MsgList *list)
{
   for (int attempt = 0; attempt < 2; attempt++) {
      int reply = ask != NULL ? ask(choices, defaultAnswer, id, text)
                              : askList(choices, defaultAnswer, list);
      if (reply >= 0 && reply < numChoices) {
         return reply;
      }
      if (attempt == 0) {
         Log("%s: Invalid reply: %u (max = %u). Reposting question.\n", "MsgQuestion",
             (unsigned)reply, (unsigned)numChoices);
      } else {
         Log("%s: Invalid reply: %u (max = %u).  Using default value.\n", "MsgQuestion",
             (unsigned)reply, (unsigned)numChoices);
      }
   }
   return defaultAnswer;
}

uint32 Msg_Question(const char *const *choices, int defaultAnswer, const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   Msg_VAppend(idFmt, args);
   va_end(args);

   MsgList *list = MsgTakePending();
   std::string id(MsgLastId(list));
   int numChoices = 0;
   while (choices[numChoices] != NULL && numChoices < MSG_MAX_CHOICES) {
      numChoices++;
   }
   if (defaultAnswer < 0 || defaultAnswer >= numChoices) {
      Panic("VERIFY %s:%d\n", "vela/lib/user/msg", __LINE__);
   }

   MsgLock();
   MsgCallback cb = MsgEffectiveCallbacksLocked();
   MsgLogList("Msg_Question", "", list);
   MsgUnlock();

   int reply;
   if (MsgIsAnswered(choices, defaultAnswer, id.c_str(), &reply) == 0) {
      char *localized[MSG_MAX_CHOICES + 1] = {};
      for (int i = 0; i < numChoices; i++) {
         localized[i] = MsgLocalizeIdText(choices[i], FALSE);
      }
      char *text = Msg_LocalizeList(list);
      reply = defaultAnswer;
      if (cb.question != NULL) {
         reply = MsgAsk(cb.question, NULL, localized, numChoices, defaultAnswer, id.c_str(), text,
                        list);
      }
      if (cb.questionList != NULL) {
         reply = MsgAsk(NULL, cb.questionList, localized, numChoices, defaultAnswer, id.c_str(),
                        text, list);
      }
      if (cb.question == NULL && cb.questionList == NULL) {
         Log("%s: Invalid reply: %u (max = %u).  Using default value.\n", "MsgQuestion",
             (unsigned)numChoices, (unsigned)numChoices);
      }
      MsgFreeText(text);
      for (int i = 0; i < numChoices; i++) {
         MsgFreeText(localized[i]);
      }
   }
   Log("%s: %s reply=%d\n", "MsgQuestion", id.c_str(), reply);
   MsgList_Free(list);
   return (uint32)reply;
}

static HintResult MsgHintInternal(HintType type, const MsgList *list)
{
   std::string id(MsgLastId(list));
   char *text = Msg_LocalizeList(list);
   Log("%s: %s\n%s---------------------------------------\n", "MsgHint", id.c_str(), text);
   const char *const *choices = type == MSG_HINT_OKCANCEL ? kOkCancelChoices : kOkChoices;
   int index;
   HintResult result = HINT_NOT_SHOWN;
   if (MsgIsAnswered(choices, 0, id.c_str(), &index) != 0) {
      result = (HintResult)index;
   } else if (Config_GetBool(FALSE, "msg.noOK")) {
      Log("%s: Not showing hint %s (%s).\n", "MsgHint", id.c_str(), "msg.noOK");
   } else {
      MsgLock();
      MsgCallback cb = MsgEffectiveCallbacksLocked();
      MsgUnlock();
      if (cb.hint != NULL) {
         result = cb.hint(type, id.c_str(), text);
      }
      if (cb.hintList != NULL) {
         result = cb.hintList(type, list);
      }
   }
   MsgFreeText(text);
   return result;
}

HintResult Msg_Hint(HintType type, const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   MsgList *list = MsgList_VCreate(idFmt, args);
   va_end(args);
   HintResult result = MsgHintInternal(type, list);
   MsgList_Free(list);
   return result;
}

HintResult Msg_HintMsgList(HintType type, const MsgList *messages)
{
   // Show the messages oldest first, as a post would.
   MsgList *oldestFirst = MsgCopyOldestFirst(messages);
   HintResult result = MsgHintInternal(type, oldestFirst);
   MsgList_Free(oldestFirst);
   return result;
}

/* ---- Progress ---------------------------------------------------------- */

Bool Msg_Progress(int percent, Bool cancelButton, const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   MsgList *m = MsgList_VCreate(idFmt, args);
   va_end(args);
   MsgLock();
   MsgCallback cb = MsgEffectiveCallbacksLocked();
   MsgUnlock();
   Bool result = TRUE;
   if (cb.progress != NULL) {
      char *text = MsgFormatMessage(m);
      result = cb.progress(m->id, text, percent, cancelButton);
      MsgFreeText(text);
   }
   MsgList_Free(m);
   return result;
}

void *Msg_LazyProgressStart(Bool allowCancel, const char *idFmt, ...)
{
   MsgLock();
   MsgCallback cb = MsgEffectiveCallbacksLocked();
   MsgUnlock();
   if (cb.lazyProgressStart == NULL && cb.lazyProgressStartList == NULL) {
      return NULL;
   }
   va_list args;
   va_start(args, idFmt);
   MsgList *m = MsgList_VCreate(idFmt, args);
   va_end(args);
   void *handle = NULL;
   if (cb.lazyProgressStart != NULL) {
      char *text = MsgFormatMessage(m);
      handle = cb.lazyProgressStart(m->id, text, allowCancel);
      MsgFreeText(text);
   }
   if (cb.lazyProgressStartList != NULL) {
      handle = cb.lazyProgressStartList(m, allowCancel);
   }
   MsgList_Free(m);
   return handle;
}

Bool Msg_LazyProgress(void *handle, Bool allowCancel, int percent, const char *idFmt, ...)
{
   MsgLock();
   MsgCallback cb = MsgEffectiveCallbacksLocked();
   MsgUnlock();
   if (cb.lazyProgress == NULL) {
      return TRUE;
   }
   va_list args;
   va_start(args, idFmt);
   MsgList *m = MsgList_VCreate(idFmt, args);
   va_end(args);
   char *text = MsgFormatMessage(m);
   Bool result = cb.lazyProgress(handle, m->id, text, allowCancel, percent);
   MsgFreeText(text);
   MsgList_Free(m);
   return result;
}

void Msg_LazyProgressEnd(void *handle)
{
   MsgLock();
   MsgCallback cb = MsgEffectiveCallbacksLocked();
   MsgUnlock();
   if (cb.lazyProgressEnd != NULL) {
      cb.lazyProgressEnd(handle);
   }
}

/* ---- Localised texts --------------------------------------------------- */

char *Msg_GetString(const char *idString)
{
   return MsgLocalizeIdText(idString, FALSE);
}

char *Msg_GetPlainButtonText(const char *idString)
{
   return MsgLocalizeIdText(idString, TRUE);
}

char *Msg_VFormat(const char *idFmt, va_list args)
{
   MsgList *m = MsgList_VCreate(idFmt, args);
   char *text = MsgFormatMessage(m);
   MsgList_Free(m);
   return text;
}

char *Msg_Format(const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   char *text = Msg_VFormat(idFmt, args);
   va_end(args);
   return text;
}

char *Msg_FormatSizeInBytes(uint64 size)
{
   static const struct
   {
      int shift;
      const char *idFmt;
   } units[] = {
       {40, MSGID(msg.msg.terabyte.abbreviation) "%s TB"},
       {30, MSGID(msg.msg.gigabyte.abbreviation) "%s GB"},
       {20, MSGID(msg.msg.megabyte.abbreviation) "%s MB"},
       {10, MSGID(msg.msg.kilobyte.abbreviation) "%s KB"},
   };
   const char *idFmt = size == 0   ? MSGID(msg.msg.byte.zero) "%s bytes"
                       : size == 1 ? MSGID(msg.msg.byte.one) "%s byte"
                                   : MSGID(msg.msg.byte.twoOrMore) "%s bytes";
   double value = (double)size;
   for (const auto &u : units) {
      if (size >= (1ull << u.shift)) {
         value = (double)size / (double)(1ull << u.shift);
         idFmt = u.idFmt;
         break;
      }
   }
   unsigned decimals = 1;
   if (fabs(value - round(value)) < 0.01) {
      value = round(value);
      decimals = 0;
   }
   char numberFormat[16];
   char number[64];
   snprintf(numberFormat, sizeof numberFormat, "%%'.%uf", decimals);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
   snprintf(number, sizeof number, numberFormat, value);
#pragma GCC diagnostic pop
   return Msg_Format(idFmt, number);
}

/* ---- Console defaults -------------------------------------------------- */

static void MsgConsolePost(MsgType type, const char *, const char *text)
{
   MsgLock();
   const char *title = MsgTitleLocked(type);
   MsgUnlock();
   fprintf(stderr, "\n%s %s:\n%s\n", ProductState_GetName(), title, text);
   fflush(stderr);
}

// Shows the title, text and choices on standard output; returns the number
// of choices.
static int MsgConsoleShow(const char *titleId, const char *text, const char *const *choices)
{
   char *title = Msg_GetString(titleId);
   printf("\n\n%s %s:\n%s\n", ProductState_GetName(), title, text);
   MsgFreeText(title);
   int n = 0;
   for (; choices[n] != NULL && *choices[n] != '\0'; n++) {
      std::string plain = MsgStripAccelerators(choices[n]);
      printf("%d) %s\n", n, plain.c_str());
   }
   return n;
}

static void MsgConsolePrompt(int max)
{
   char *prompt = Msg_Format(MSGID(msg.msg.chooseNumber) "Select a number from 0-%d: ", max);
   fputs(prompt, stdout);
   fflush(stdout);
   MsgFreeText(prompt);
}

static int MsgConsoleQuestion(const char *const *choices, int defaultAnswer, const char *,
                              const char *text)
{
   int n = MsgConsoleShow(MSGID(msg.msg.question) "Question", text, choices);
   if (n == 0) {
      return defaultAnswer;
   }
   for (;;) {
      MsgConsolePrompt(n - 1);
      char line[1026];
      if (fgets(line, sizeof line, stdin) == NULL) {
         // No one is there to answer: take the default rather than spin.
         return defaultAnswer;
      }
      size_t len = strlen(line);
      if (len > 1024 && line[len - 1] != '\n') {
         int c;
         while ((c = getchar()) != EOF && c != '\n') {
         }
         continue;
      }
      char *end;
      errno = 0;
      long v = strtol(line, &end, 10);
      if (end == line || errno != 0) {
         continue;
      }
      while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') {
         end++;
      }
      if (*end == '\0' && v >= 0 && v < n) {
         return (int)v;
      }
   }
}

static HintResult MsgConsoleHint(HintType type, const char *, const char *text)
{
   const char *const *choices = type == MSG_HINT_OKCANCEL ? kOkCancelChoices : kOkChoices;
   char *localized[3] = {};
   for (int i = 0; choices[i] != NULL; i++) {
      localized[i] = Msg_GetString(choices[i]);
   }
   int n = MsgConsoleShow(MSGID(msg.msg.hint) "Hint", text, localized);
   HintResult result = HINT_NOT_SHOWN;
   for (;;) {
      MsgConsolePrompt(n - 1);
      int v;
      int r = scanf("%d", &v);
      int c;
      while ((c = getchar()) != EOF && c != '\n') {
      }
      if (r == EOF || (r == 0 && c == EOF)) {
         break; // nobody to answer
      }
      if (r == 1 && v >= 0 && v < n) {
         result = (HintResult)v;
         break;
      }
   }
   for (int i = 0; i < 3; i++) {
      MsgFreeText(localized[i]);
   }
   return result;
}

static Bool MsgConsoleProgress(const char *, const char *text, int percent, Bool)
{
   MsgLock();
   MsgState *state = MsgGetStateLocked();
   if (percent < 0) {
      snprintf(state->progressText, sizeof state->progressText, "%s", text);
      percent = 0;
   }
   char line[96];
   snprintf(line, sizeof line, "%.*s (%d%%)", 64, state->progressText, percent);
   MsgUnlock();
   fprintf(stderr, "\r%-*.*s", 79, 79, line);
   if (percent > 100) {
      fputc('\n', stderr);
   }
   fflush(stderr);
   return TRUE;
}

/* ---- End --------------------------------------------------------------- */

void Msg_Exit(void)
{
   MsgLock();
   MsgState *state = msgState;
   msgState = NULL;
   msgExited = true;
   MsgUnlock();
   if (state != NULL) {
      Dictionary_Free(state->dict);
      MsgFreeText(state->locale);
      free(state);
   }
   delete msgThread;
   msgThread = NULL;
}
