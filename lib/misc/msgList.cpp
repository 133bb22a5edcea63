// Message lists: newest first, arguments captured at append time.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/log/log.h"
#include "lib/misc/msgList.h"
#include "lib/misc/util.h"
#include "lib/panic/panic.h"

static void MsgListFreeText(char *text)
{
   if (text != NULL) {
      int savedErrno = errno;
      memset(text, 0, strlen(text));
      free(text);
      errno = savedErrno;
   }
}

Bool MsgList_SplitId(const char *idFmt, const char **id, size_t *idLen, const char **format)
{
   if (idFmt == NULL || strncmp(idFmt, MSG_MAGIC "(", MSG_MAGIC_LEN + 1) != 0) {
      return FALSE;
   }
   const char *start = idFmt + MSG_MAGIC_LEN + 1;
   const char *close = strchr(start, ')');
   if (close == NULL) {
      return FALSE;
   }
   *id = start;
   *idLen = (size_t)(close - start);
   *format = close + 1;
   return TRUE;
}

static MsgList *MsgListNew(const char *idFmt, va_list args, Bool capture)
{
   MsgList *m = (MsgList *)Util_SafeCalloc(1, sizeof *m);
   const char *id;
   size_t idLen;
   const char *format;

   if (!MsgList_SplitId(idFmt, &id, &idLen, &format)) {
      // Not an id text: carry the whole text as one string argument.
      const char *text = idFmt == NULL ? "" : idFmt;
      m->id = Util_SafeStrdup("msg.literal");
      m->format = Util_SafeStrdup("%s");
      m->args = (MsgFmt_Arg *)Util_SafeCalloc(1, sizeof *m->args);
      m->args[0].type = MSGFMT_ARG_STRING;
      m->args[0].v.s = Util_SafeStrdup(text);
      m->numArgs = 1;
      return m;
   }
   m->id = Util_SafeStrndup(id, idLen);
   m->format = Util_SafeStrdup(format);
   if (capture) {
      const char *error = NULL;
      if (!MsgFmt_Capture(m->format, args, &m->args, &m->numArgs, &error)) {
         Panic("%s error: %s\nformat <%s>\n", "MsgList_VAppend", error, idFmt);
      }
   }
   return m;
}

static void MsgListFreeOne(MsgList *m)
{
   MsgListFreeText(m->id);
   MsgListFreeText(m->format);
   MsgFmt_FreeArgs(m->args, m->numArgs);
   free(m);
}

void MsgList_VAppend(MsgList **list, const char *idFmt, va_list args)
{
   if (list == NULL) {
      return;
   }
   MsgList *m = MsgListNew(idFmt, args, TRUE);
   m->next = *list;
   *list = m;
}

void MsgList_Append(MsgList **list, const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   MsgList_VAppend(list, idFmt, args);
   va_end(args);
}

void MsgList_AppendStr(MsgList **list, const char *id)
{
   if (list == NULL) {
      return;
   }
   va_list none = {};
   MsgList *m = MsgListNew(id, none, FALSE);
   m->next = *list;
   *list = m;
}

MsgList *MsgList_VCreate(const char *idFmt, va_list args)
{
   MsgList *list = NULL;
   MsgList_VAppend(&list, idFmt, args);
   return list;
}

MsgList *MsgList_Create(const char *idFmt, ...)
{
   va_list args;
   va_start(args, idFmt);
   MsgList *list = MsgList_VCreate(idFmt, args);
   va_end(args);
   return list;
}

MsgList *MsgList_CreateStr(const char *id)
{
   MsgList *list = NULL;
   MsgList_AppendStr(&list, id);
   return list;
}

void MsgList_AppendMsgList(MsgList **list, MsgList *other)
{
   if (list == NULL) {
      MsgList_Free(other);
      return;
   }
   if (other == NULL) {
      return;
   }
   MsgList *tail = other;
   while (tail->next != NULL) {
      tail = tail->next;
   }
   tail->next = *list;
   *list = other;
}

MsgList *MsgList_Copy(const MsgList *list)
{
   MsgList *head = NULL;
   MsgList **link = &head;
   for (const MsgList *m = list; m != NULL; m = m->next) {
      MsgList *c = (MsgList *)Util_SafeCalloc(1, sizeof *c);
      c->id = Util_SafeStrdup(m->id);
      c->format = Util_SafeStrdup(m->format);
      c->args = MsgFmt_CopyArgs(m->args, m->numArgs);
      c->numArgs = c->args == NULL ? 0 : m->numArgs;
      *link = c;
      link = &c->next;
   }
   return head;
}

void MsgList_Free(MsgList *list)
{
   while (list != NULL) {
      MsgList *next = list->next;
      MsgListFreeOne(list);
      list = next;
   }
}

Bool MsgList_Present(const MsgList *list)
{
   return list != NULL;
}

const char *MsgList_GetMsgID(const MsgList *list)
{
   if (list == NULL) {
      return NULL;
   }
   while (list->next != NULL) {
      list = list->next;
   }
   return list->id;
}

char *MsgList_FormatOne(const MsgList *msg, const char *format, const MsgFmt_Arg *args)
{
   return MsgFmt_Format(format != NULL ? format : msg->format, args != NULL ? args : msg->args,
                        msg->numArgs);
}

static Bool MsgListEndsInNewline(const char *text)
{
   size_t len = strlen(text);
   return len > 0 && text[len - 1] == '\n';
}

char *MsgList_ToString(const MsgList *list)
{
   std::string out;
   for (const MsgList *m = list; m != NULL; m = m->next) {
      char *text = MsgList_FormatOne(m, NULL, NULL);
      out.append(text);
      if (!MsgListEndsInNewline(text)) {
         out.push_back('\n');
      }
      MsgListFreeText(text);
   }
   char *result = Util_SafeStrndup(out.data(), out.size());
   memset(&out[0], 0, out.size());
   return result;
}

void MsgList_Log(const MsgList *list)
{
   for (const MsgList *m = list; m != NULL; m = m->next) {
      char *text = MsgList_FormatOne(m, NULL, NULL);
      Log("[%s] %s%s", m->id, text, MsgListEndsInNewline(text) ? "" : "\n");
      MsgListFreeText(text);
   }
}
