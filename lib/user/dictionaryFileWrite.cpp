// Writing dictionaries: rendering with comments, order and untouched lines
// kept, the upgrade to UTF-8, and saving through a temporary file.
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "lib/dict/dictll.h"
#include "lib/log/log.h"
#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"
#include "lib/misc/util.h"
#include "lib/panic/panic.h"
#include "lib/user/dictionaryInt.h"
#include "lib/user/msg.h"

namespace {

// The rendered text, grown in place and handed to the caller as it is: a
// large file is neither copied nor built twice.
struct DictionaryText
{
   char *data = nullptr;
   size_t length = 0;
   size_t capacity = 0;

   void Reserve(size_t more)
   {
      if (length + more + 1 <= capacity) {
         return;
      }
      size_t want = capacity == 0 ? 4096 : capacity;
      while (want < length + more + 1) {
         want *= 2;
      }
      // No realloc: the old block may hold secrets and must be wiped.
      char *grown = (char *)Util_SafeMalloc(want);
      if (data != nullptr) {
         memcpy(grown, data, length);
         memset(data, 0, length);
         free(data);
      }
      data = grown;
      capacity = want;
   }
   void Append(const char *text, size_t n)
   {
      Reserve(n);
      memcpy(data + length, text, n);
      length += n;
      data[length] = '\0';
   }
   void Append(const char *text) { Append(text, strlen(text)); }
   void Append(const std::string &text) { Append(text.data(), text.size()); }
   void Wipe()
   {
      if (data != nullptr) {
         memset(data, 0, length);
         free(data);
      }
      data = nullptr;
      length = capacity = 0;
   }
   // The text for the caller, NUL-terminated; the buffer lets go of it.
   char *Release()
   {
      Reserve(0);
      char *text = data;
      data = nullptr;
      length = capacity = 0;
      return text;
   }
};

enum RenderResult {
   RENDER_OK,
   RENDER_NEEDS_UPGRADE, // a value cannot be represented in the encoding
   RENDER_FAILED,
};

void DictionaryWipe(std::string *s)
{
   if (!s->empty()) {
      memset(&(*s)[0], 0, s->size());
   }
}

// A name the reader would not give back as the same entry cannot be saved:
// the file would lose it, or fail to load from that line on.
Bool DictionaryNameIsWritable(const char *name)
{
   if (name[0] == '\0' || name[0] == '.') {
      return FALSE;
   }
   for (const unsigned char *p = (const unsigned char *)name; *p != '\0'; p++) {
      if (*p == ' ' || *p == '\t' || *p == '#' || *p == '=' || *p >= 0x80 || *p == '\n' ||
          *p == '\r') {
         return FALSE;
      }
   }
   return TRUE;
}

// The value of an entry as its line shows it (UTF-8); owned by the caller.
std::string DictionaryValueText(const DictionaryEntry *e)
{
   char buf[64];
   switch (e->type) {
   case DICT_ANY:
   case DICT_STRING:
      return e->value.text != NULL ? e->value.text : "";
   case DICT_BOOL:
      return e->value.boolValue ? "TRUE" : "FALSE";
   case DICT_LONG:
      snprintf(buf, sizeof buf, "%d", e->value.longValue);
      return buf;
   case DICT_DOUBLE:
      snprintf(buf, sizeof buf, "%.9g", e->value.doubleValue);
      return buf;
   case DICT_TRISTATE:
      return e->value.longValue == 1 ? "TRUE" : e->value.longValue == -1 ? "DEFAULT" : "FALSE";
   case DICT_INT64:
      snprintf(buf, sizeof buf, "%" PRId64, e->value.int64Value);
      return buf;
   default:
      Panic("Dictionary internal error - unknown parameter type\n");
   }
}

// Renders an entry afresh; its new line text replaces the kept line's text
// (or its own line) and is appended to out.
RenderResult DictionaryRenderEntry(Dictionary *dict, DictionaryEntry *e, DictionaryText *out,
                                   MsgList **msgs)
{
   if (!DictionaryNameIsWritable(e->name)) {
      char *shown = Unicode_EscapeBuffer(e->name, -1);
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.badName) "Variable \"%s\" cannot be written to a "
                                                   "dictionary file.\n",
                     shown);
      free(shown);
      return RENDER_FAILED;
   }
   std::string value = DictionaryValueText(e);
   if (!Unicode_IsBufferValid(value.data(), (ssize_t)value.size(), DICTIONARY_ENCODING_UTF8)) {
      // No encoding can carry bytes that are not text; the file would not load.
      char *shown = Unicode_EscapeBuffer(value.data(), (ssize_t)value.size());
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.badEncodedOutput) "Value \"%s\" for variable \"%s\" "
                                                            "is not valid in the \"%s\" "
                                                            "encoding.\n",
                     shown, e->name, "UTF-8");
      free(shown);
      DictionaryWipe(&value);
      return RENDER_FAILED;
   }
   char *encoded = NULL;
   if (dict->encoding != DICTIONARY_ENCODING_UTF8 && !value.empty()) {
      encoded = Unicode_GetAllocBytes(value.c_str(), dict->encoding, NULL);
      if (encoded == NULL) {
         MsgList_Append(msgs,
                        MSGID(msg.dictionary.badEncodedOutput) "Value \"%s\" for variable \"%s\" "
                                                               "is not valid in the \"%s\" "
                                                               "encoding.\n",
                        value.c_str(), e->name, Unicode_EncodingEnumToName(dict->encoding));
         DictionaryWipe(&value);
         return RENDER_NEEDS_UPGRADE;
      }
   }
   std::string line;
   DictLL_MarshalLine(&line, e->name, encoded != NULL ? encoded : value.c_str());
   DictionaryFreeText(encoded);
   DictionaryWipe(&value);
   char *text = Util_SafeStrdup(line.c_str());
   if (e->line != NULL) {
      DictionarySetLineText(dict, e->line, text, line.size());
   } else {
      DictionaryFreeText(e->ownLine);
      e->ownLine = text;
   }
   out->Append(line);
   DictionaryWipe(&line);
   return RENDER_OK;
}

// Writes an entry once: its kept text (may be NULL) when unchanged, else
// rendered afresh. FALSE when rendering failed (*result says so); a value
// that needs the upgrade to UTF-8 is noted in *result.
Bool DictionaryWriteEntry(Dictionary *dict, DictionaryEntry *e, const char *kept, size_t keptLength,
                          DictionaryText *out, RenderResult *result, MsgList **msgs)
{
   if (!e->modified && kept != NULL) {
      out->Append(kept, keptLength);
   } else {
      RenderResult r = DictionaryRenderEntry(dict, e, out, msgs);
      if (r != RENDER_OK) {
         *result = r;
      }
      if (r == RENDER_FAILED) {
         return FALSE;
      }
   }
   e->written = TRUE;
   return TRUE;
}

RenderResult DictionaryRender(Dictionary *dict, DictionaryText *out, MsgList **msgs)
{
   RenderResult result = RENDER_OK;
   out->Wipe();
   // Room for every kept line and about 64 bytes per entry rendered afresh,
   // so a large file is rendered without regrowing.
   size_t estimate = 64 + dict->lineBytes;
   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (e->modified || e->line == NULL) {
         estimate += 64;
      }
      e->written = e->isDefault;
   }
   out->Reserve(estimate);
   if (dict->encoding == DICTIONARY_ENCODING_UNKNOWN) {
      dict->encoding = Unicode_GetCurrentEncoding();
   }

   DictionaryLine *line = DictionaryFirstLine(dict);
   for (; line != NULL && line->text[0] == '#'; line = DictionaryNextLine(dict, line)) {
      out->Append(line->text, line->length);
   }

   const char *encName = Unicode_EncodingEnumToName(dict->encoding);
   std::string encLine;
   DictLL_MarshalLine(&encLine, ".encoding", encName != NULL ? encName : "UTF-8");
   out->Append(encLine);

   for (; line != NULL; line = DictionaryNextLine(dict, line)) {
      DictionaryEntry *e = line->entry;
      if (e == NULL) {
         out->Append(line->text, line->length);
         continue;
      }
      if (!e->written &&
          !DictionaryWriteEntry(dict, e, line->text, line->length, out, &result, msgs)) {
         return result;
      }
   }

   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (!e->written &&
          !DictionaryWriteEntry(dict, e, e->ownLine, e->ownLine != NULL ? strlen(e->ownLine) : 0,
                                out, &result, msgs)) {
         return result;
      }
   }
   return result;
}

void DictionaryPostAndFree(MsgList *msgs)
{
   if (msgs != NULL) {
      Msg_AppendMsgList(msgs);
      MsgList_Free(msgs);
   }
}

// Writes text into an open file from its start and cuts it to that length.
Bool DictionaryWriteOneFile(int fd, const char *fileName, const char *text, size_t len,
                            MsgList **msgs)
{
   int dupFd = dup(fd);
   FILE *stream = dupFd < 0 ? NULL : fdopen(dupFd, "r+");
   if (stream == NULL) {
      int err = errno;
      if (dupFd >= 0) {
         close(dupFd);
      }
      MsgList_Append(msgs,
                     "@&!*@*@(msg.dictionary.writefile .descToStream)An error occurred while "
                     "converting the descriptor of file \"%s\" while it is open: %s.\n",
                     fileName, strerror(err));
      return FALSE;
   }
   Bool ok = FALSE;
   if (fseeko(stream, 0, SEEK_SET) != 0) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.writefile.seek) "An error occurred while seeking within "
                                                          "configuration file \"%s\":%s.\n",
                     fileName, strerror(errno));
   } else if (fwrite(text, 1, len, stream) != len) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.writefile.write) "An error occurred while writing "
                                                           "configuration file \"%s\": %s.\n",
                     fileName, strerror(errno));
   } else if (ftruncate(fd, (off_t)len) != 0) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.writefile.truncate) "An error occurred while truncating "
                                                              "configuration file \"%s\":%s.\n",
                     fileName, strerror(errno));
   } else if (fflush(stream) != 0) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.writefile.flush) "An error occurred while flushing "
                                                           "configuration file \"%s\": %s.\n",
                     fileName, strerror(errno));
   } else if (fsync(fd) != 0) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.writefile.sync) "An error occurred while syncing "
                                                          "configuration file \"%s\": %s.\n",
                     fileName, strerror(errno));
   } else {
      ok = TRUE;
   }
   // Whatever a failed flush left in the buffer must not reach the file later.
   int saved = errno;
   if (!ok) {
      setvbuf(stream, NULL, _IONBF, 0);
   }
   fclose(stream);
   errno = saved;
   return ok;
}

// A file beside the target, created exclusively with the target's mode,
// owner and group. Returns its descriptor, or -1 when that is impossible.
int DictionaryCreateTempFile(int targetFd, const std::string &tempName)
{
   struct stat st;
   if (fstat(targetFd, &st) != 0) {
      return -1;
   }
   int fd = open(tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
   if (fd < 0) {
      return -1;
   }
   // The rename must not hand the file to another owner or widen its mode.
   if ((fchown(fd, st.st_uid, st.st_gid) != 0 &&
        (st.st_uid != geteuid() || st.st_gid != getegid())) ||
       fchmod(fd, st.st_mode & 07777) != 0) {
      close(fd);
      unlink(tempName.c_str());
      return -1;
   }
   return fd;
}

Bool DictionaryWriteFd(Dictionary *dict, int *fd, const char *pathName, MsgList **msgs)
{
   char *text = NULL;
   size_t size = 0;
   if (!Dictionary_WriteToBuffer(dict, &text, &size)) {
      MsgList_Append(msgs, MSGID(msg.dictionary.writefile.export) "An error occurred while "
                                                                  "exporting a dictionary to a "
                                                                  "buffer.\n");
      return FALSE;
   }
   size_t len = size - 1;
   Bool ok;
   // Replacing a symbolic link would cut it off from the file it names.
   std::string target = pathName;
   struct stat lst;
   if (lstat(pathName, &lst) == 0 && S_ISLNK(lst.st_mode)) {
      char *real = realpath(pathName, NULL);
      if (real != NULL) {
         target = real;
         free(real);
      }
   }
   pathName = target.c_str();
   std::string tempName = target + "~";
   int tempFd = DictionaryCreateTempFile(*fd, tempName);
   if (tempFd < 0) {
      ok = DictionaryWriteOneFile(*fd, pathName, text, len, msgs);
   } else if (!DictionaryWriteOneFile(tempFd, tempName.c_str(), text, len, msgs)) {
      close(tempFd);
      unlink(tempName.c_str());
      ok = FALSE;
   } else if (rename(tempName.c_str(), pathName) != 0) {
      close(tempFd);
      unlink(tempName.c_str());
      ok = DictionaryWriteOneFile(*fd, pathName, text, len, msgs);
   } else {
      // The descriptor follows the file now at the target's name.
      close(*fd);
      *fd = tempFd;
      ok = TRUE;
   }
   if (ok) {
      for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
           e = DictionaryNextEntry(dict, e)) {
         e->modified = FALSE;
      }
      dict->dirty = FALSE;
   }
   memset(text, 0, size);
   free(text);
   return ok;
}

} // namespace

Bool Dictionary_WriteToBuffer(Dictionary *dict, char **text, size_t *size)
{
   DictionaryText out;
   MsgList *msgs = NULL;
   RenderResult r = DictionaryRender(dict, &out, &msgs);
   if (r == RENDER_NEEDS_UPGRADE) {
      MsgList_Log(msgs);
      Log("%s: upgrading encoding from %s to %s\n", __func__,
          Unicode_EncodingEnumToName(dict->encoding), "UTF-8");
      if (Dictionary_ChangeEncoding(dict, DICTIONARY_ENCODING_UTF8)) {
         MsgList_Free(msgs);
         msgs = NULL;
         r = DictionaryRender(dict, &out, &msgs);
      }
   }
   if (r != RENDER_OK) {
      DictionaryPostAndFree(msgs);
      out.Wipe();
      *text = NULL;
      *size = 0;
      return FALSE;
   }
   MsgList_Free(msgs);
   *size = out.length + 1;
   *text = out.Release();
   return TRUE;
}

Bool Dictionary_WriteFd(Dictionary *dict, int *fd, const char *pathName, MsgList **msgs)
{
   return DictionaryWriteFd(dict, fd, pathName, msgs);
}

Bool Dictionary_Write(Dictionary *dict, const char *pathName)
{
   MsgList *msgs = NULL;
   struct stat st;
   mode_t mode = stat(pathName, &st) == 0 ? (st.st_mode & 07777) : 0754;
   int fd = open(pathName, O_RDWR | O_CREAT | O_CLOEXEC, mode);
   if (fd < 0) {
      int err = errno;
      if (err == ENAMETOOLONG) {
         MsgList_Append(&msgs, MSGID(msg.dictionary.nameTooLong) "%s", strerror(err));
      } else if (err == EPERM || err == EACCES || err == EROFS) {
         MsgList_Append(&msgs,
                        MSGID(msg.dictionary.permissions) "Access to \"%s\" failed due to file "
                                                          "system permissions issues\n",
                        pathName);
      } else {
         MsgList_Append(&msgs,
                        MSGID(msg.dictionary.open) "Cannot open configuration file \"%s\": %s.\n",
                        pathName, strerror(err));
      }
      DictionaryPostAndFree(msgs);
      return FALSE;
   }
   Bool ok = DictionaryWriteFd(dict, &fd, pathName, &msgs);
   if (close(fd) != 0) {
      MsgList_Append(&msgs,
                     MSGID(msg.dictionary.close) "An error occurred while closing configuration "
                                                 "file \"%s\": %s.\n",
                     pathName, strerror(errno));
      ok = FALSE;
   }
   DictionaryPostAndFree(msgs);
   return ok;
}

Bool Dictionary_ChangeEncoding(Dictionary *dict, int32 encoding)
{
   encoding = Unicode_ResolveEncoding(encoding);
   if (encoding < 0 || !Unicode_IsEncodingSupported(encoding)) {
      return FALSE;
   }
   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (DictionaryIsTextType(e->type) && e->value.text != NULL &&
          !Unicode_CanGetBytesWithEncoding(e->value.text, encoding)) {
         return FALSE;
      }
   }
   if (encoding != dict->encoding) {
      for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
           e = DictionaryNextEntry(dict, e)) {
         if (DictionaryIsTextType(e->type) && e->value.text != NULL) {
            e->modified = TRUE;
            dict->dirty = TRUE;
         }
      }
   }
   dict->encoding = encoding;
   return TRUE;
}

Bool Dictionary_AddShebang(Dictionary *dict, const char *interpreter)
{
   DictionaryLine *first = DictionaryFirstLine(dict);
   if (first != NULL && strncmp(first->text, "#!", 2) == 0) {
      return FALSE;
   }
   std::string text = "#!";
   text += interpreter;
   DictionaryPrependLine(dict, text.data(), text.size(), NULL);
   dict->dirty = TRUE;
   return TRUE;
}

Bool Dictionary_MakeExecutable(const char *pathName)
{
   struct stat st;
   if (stat(pathName, &st) != 0) {
      Log("%s: cannot stat configuration file %s: %s\n", __func__, pathName, strerror(errno));
      return FALSE;
   }
   mode_t mode = st.st_mode & 07777;
   if (chmod(pathName, mode | ((mode >> 2) & 0111)) != 0) {
      Log("%s: cannot change mode of file %s: %s\n", __func__, pathName, strerror(errno));
      return FALSE;
   }
   return TRUE;
}
