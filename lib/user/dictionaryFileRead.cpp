// Reading dictionary files and buffers: the line handling, metavariables,
// encoding declarations, the byte-order mark and the default encoding.
#include <errno.h>
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
#include "lib/user/dictionaryInt.h"
#include "lib/user/msg.h"

namespace {

const int kMaxDuplicates = 100;
const char kStdinName[] = "<stdin>";

enum {
   PARSE_OK = 0,        // go on
   PARSE_DUPLICATE = 1, // go on, but the load fails at the end
   PARSE_FATAL = 2,     // stop at once
};

const char *DictionaryEncodingName(int32 encoding)
{
   const char *name = Unicode_EncodingEnumToName(encoding);
   return name != NULL ? name : "unknown";
}

char *DictionaryEscape(const char *text)
{
   return Unicode_EscapeBuffer(text, -1);
}

Bool DictionaryIsASCII(const char *text)
{
   for (const unsigned char *p = (const unsigned char *)text; *p != '\0'; p++) {
      if (*p >= 0x80) {
         return FALSE;
      }
   }
   return TRUE;
}

// Appends a complaint in its variant: without a file name, with one but no
// line, or with both. The file name and the line number come before the
// texts a, b and c; a format ignores those it does not use.
void DictionaryComplain(const Dictionary *dict, MsgList **msgs, const char *noFile,
                        const char *noLine, const char *full, const char *a = NULL,
                        const char *b = NULL, const char *c = NULL)
{
   if (dict->fileName == NULL) {
      MsgList_Append(msgs, noFile, a, b, c);
   } else if (dict->lineNumber < 1) {
      MsgList_Append(msgs, noLine, dict->fileName, a, b, c);
   } else {
      MsgList_Append(msgs, full, dict->fileName, dict->lineNumber, a, b, c);
   }
}

void DictionaryComplainSyntax(const Dictionary *dict, MsgList **msgs)
{
   DictionaryComplain(dict, msgs, MSGID(msg.dictionary.read.syntaxErrorNoFile) "Syntax error.\n",
                      MSGID(msg.dictionary.read.syntaxErrorNoLine) "File \"%s\": Syntax error.\n",
                      MSGID(msg.dictionary.read.syntaxError) "File \"%s\" line %d: Syntax "
                                                             "error.\n");
}

void DictionaryComplainDefined(const Dictionary *dict, const char *name, MsgList **msgs)
{
   DictionaryComplain(dict, msgs,
                      MSGID(msg.dictionary.alreadyDefinedNoFile) "Variable \"%s\" is already "
                                                                 "defined.\n",
                      "@&!*@*@(msg.dictionary .alreadyDefinedNoLine)"
                      "File \"%s\": Variable \"%s\" is already defined.\n",
                      MSGID(msg.dictionary.alreadyDefined) "File \"%s\" line %d: Variable \"%s\" "
                                                           "is already defined.\n",
                      name);
}

void DictionaryComplainBadInput(const Dictionary *dict, const char *name, const char *value,
                                int32 encoding, MsgList **msgs)
{
   char *shown = DictionaryEscape(value);
   DictionaryComplain(dict, msgs,
                      MSGID(msg.dictionary.badEncodedInputNoFile) "Value \"%s\" for variable "
                                                                  "\"%s\" is not valid in "
                                                                  "encoding \"%s\".\n",
                      MSGID(msg.dictionary.badEncodedInputNoLine) "File \"%s\": Value \"%s\" for "
                                                                  "variable \"%s\" is not valid "
                                                                  "in encoding \"%s\".\n",
                      MSGID(msg.dictionary.badEncodedInput) "File \"%s\" line %d: Value \"%s\" "
                                                            "for variable \"%s\" is not valid in "
                                                            "encoding \"%s\".\n",
                      shown, name, DictionaryEncodingName(encoding));
   DictionaryFreeText(shown);
}

void DictionaryComplainUnknownEncoding(const Dictionary *dict, const char *encName, MsgList **msgs)
{
   DictionaryComplain(dict, msgs,
                      MSGID(msg.dictionary.unknownEncodingNoFile) "Character encoding \"%s\" is "
                                                                  "not supported.\n",
                      MSGID(msg.dictionary.unknownEncodingNoLine) "File \"%s\": Character "
                                                                  "encoding \"%s\" is not "
                                                                  "supported.\n",
                      MSGID(msg.dictionary.unknownEncoding) "File \"%s\" (line %d) specifies a "
                                                            "character encoding (%s) that is not "
                                                            "supported.\n",
                      encName);
}

void DictionaryComplainHasEncoding(const Dictionary *dict, MsgList **msgs)
{
   DictionaryComplain(dict, msgs,
                      MSGID(msg.dictionary.hasEncodingNoFile) "The dictionary already has "
                                                              "encoding \"%s\".\n",
                      MSGID(msg.dictionary.hasEncodingNoLine) "File \"%s\" already has encoding "
                                                              "\"%s\".\n",
                      MSGID(msg.dictionary.hasEncoding) "File \"%s\" (line %d) already has "
                                                        "encoding \"%s\".\n",
                      DictionaryEncodingName(dict->encoding));
}

// Records an encoding and brings every text value read so far to UTF-8.
Bool DictionarySetEncoding(Dictionary *dict, int32 encoding, MsgList **msgs)
{
   encoding = Unicode_ResolveEncoding(encoding);
   if (dict->encoding != DICTIONARY_ENCODING_UNKNOWN) {
      if (dict->encoding != encoding) {
         DictionaryComplainHasEncoding(dict, msgs);
         return FALSE;
      }
      // The values are UTF-8 already; converting them again would garble them.
      return TRUE;
   }
   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (DictionaryIsTextType(e->type) && e->value.text != NULL &&
          !Unicode_IsBufferValid(e->value.text, -1, encoding)) {
         DictionaryComplainBadInput(dict, e->name, e->value.text, encoding, msgs);
         return FALSE;
      }
   }
   if (encoding != DICTIONARY_ENCODING_UTF8 && encoding != DICTIONARY_ENCODING_ASCII) {
      for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
           e = DictionaryNextEntry(dict, e)) {
         if (DictionaryIsTextType(e->type) && e->value.text != NULL) {
            char *utf8 = Unicode_AllocWithLength(e->value.text, -1, encoding);
            if (utf8 == NULL) {
               DictionaryComplainBadInput(dict, e->name, e->value.text, encoding, msgs);
               return FALSE;
            }
            DictionaryFreeText(e->value.text);
            e->value.text = utf8;
         }
      }
   }
   dict->encoding = encoding;
   return TRUE;
}

Bool DictionarySetEncodingFromName(Dictionary *dict, const char *encName, MsgList **msgs)
{
   StringEncoding encoding = Unicode_EncodingNameToEnum(encName);
   // The line syntax itself is ASCII: an encoding that writes it otherwise
   // (UTF-16, EBCDIC) would garble every value it decodes.
   if (encoding == STRING_ENCODING_UNKNOWN || !Unicode_IsEncodingSupported(encoding) ||
       !Unicode_IsEncodingAsciiCompatible(encoding)) {
      DictionaryComplainUnknownEncoding(dict, encName, msgs);
      return FALSE;
   }
   return DictionarySetEncoding(dict, encoding, msgs);
}

Bool DictionaryIsEncodingDeclaration(const char *name, size_t length)
{
   // Every declaration ends in "encoding"; most names are rejected by that.
   static const char suffix[] = "encoding";
   const size_t suffixLength = sizeof suffix - 1;
   if (length < suffixLength + 1 || strcasecmp(name + length - suffixLength, suffix) != 0) {
      return FALSE;
   }
   static const char *const names[] = {".encoding", "config.encoding", "preferences.encoding",
                                       "lmlist.encoding", "snapshot.encoding"};
   for (const char *n : names) {
      if (strcasecmp(name, n) == 0) {
         return TRUE;
      }
   }
   return FALSE;
}

// The name of an assignment line, NUL-terminated: on the stack unless long.
class DictionaryLineName
{
 public:
   DictionaryLineName(const char *text, size_t length)
       : mLength(length),
         mText(length < sizeof mShort ? mShort : (char *)Util_SafeMalloc(length + 1))
   {
      memcpy(mText, text, length);
      mText[length] = '\0';
   }
   ~DictionaryLineName()
   {
      if (mText != mShort) {
         DictionaryFreeText(mText);
      }
   }
   DictionaryLineName(const DictionaryLineName &) = delete;
   DictionaryLineName &operator=(const DictionaryLineName &) = delete;
   const char *Get() const { return mText; }
   size_t Length() const { return mLength; }

 private:
   size_t mLength;
   char mShort[128];
   char *mText;
};

// Handles an assignment line; the value (owned) is taken over or freed.
int DictionaryParseAssignment(Dictionary *dict, const char *line, size_t length,
                              const DictionaryLineName &lineName, char *value, MsgList **msgs)
{
   const char *name = lineName.Get();
   int result = PARSE_OK;
   if (DictionaryIsEncodingDeclaration(name, lineName.Length())) {
      result = DictionarySetEncodingFromName(dict, value, msgs) ? PARSE_OK : PARSE_DUPLICATE;
      goto done;
   }

   if (name[0] == '.') {
      char *shown = DictionaryEscape(name);
      Log("%s: \"%s\" line %d: unrecognized metavariable \"%s\"\n", "DictionaryParseReadLine",
          dict->fileName != NULL ? dict->fileName : "", dict->lineNumber, shown);
      DictionaryFreeText(shown);
      goto done;
   }

   {
      // One hash serves the duplicate check and the insertion.
      uint32 hash = DictionaryHashName(dict, name);
      DictionaryEntry *existing = DictionaryFindEntryHashed(dict, name, hash);
      if (existing != NULL && existing->isDefault) {
         // A remembered default is no definition; the file's value replaces it.
         DictionaryRemoveEntry(dict, existing);
         existing = NULL;
      }
      if (existing != NULL) {
         DictionaryComplainDefined(dict, name, msgs);
         DictionaryAppendLine(dict, line, length, NULL);
         result = PARSE_DUPLICATE;
         goto done;
      }

      if (!DictionaryIsASCII(name)) {
         char *shown = DictionaryEscape(name);
         MsgList_Append(msgs,
                        MSGID(msg.dictionary.nameNotASCII) "File \"%s\" line %d: Variable \"%s\" "
                                                           "is not valid ASCII.\n",
                        dict->fileName != NULL ? dict->fileName : "", dict->lineNumber, shown);
         DictionaryFreeText(shown);
         result = PARSE_FATAL;
         goto done;
      }

      DictionaryValue v;
      if (dict->encoding == DICTIONARY_ENCODING_UNKNOWN) {
         v.text = value;
      } else if (!Unicode_IsBufferValid(value, -1, dict->encoding)) {
         DictionaryComplainBadInput(dict, name, value, dict->encoding, msgs);
         result = PARSE_FATAL;
         goto done;
      } else if (dict->encoding == DICTIONARY_ENCODING_UTF8 ||
                 dict->encoding == DICTIONARY_ENCODING_ASCII) {
         v.text = value;
      } else {
         v.text = Unicode_AllocWithLength(value, -1, dict->encoding);
         if (v.text == NULL) {
            DictionaryComplainBadInput(dict, name, value, dict->encoding, msgs);
            result = PARSE_FATAL;
            goto done;
         }
         DictionaryFreeText(value);
      }
      // The entry takes the value over.
      DictionaryCreateEntryWithLine(dict, name, lineName.Length(), hash, v, line, length);
      return PARSE_OK;
   }

done:
   DictionaryFreeText(value);
   return result;
}

// Handles one line (line[0, length), no terminator) read from a file or a
// buffer.
int DictionaryParseReadLine(Dictionary *dict, const char *line, size_t length, MsgList **msgs)
{
   dict->lineNumber++;

   DictLLSpans spans;
   if (!DictLL_ScanLine(line, length, &spans)) {
      size_t i = 0;
      while (i < length && (line[i] == ' ' || line[i] == '\t')) {
         i++;
      }
      if (i == length || line[i] == '#') {
         DictionaryAppendLine(dict, line, length, NULL);
         return PARSE_OK;
      }
      char *shown = Unicode_EscapeBuffer(line, (ssize_t)length);
      Log("%s: syntax error with line, \"%s\".\n", __func__, shown);
      DictionaryFreeText(shown);
      DictionaryComplainSyntax(dict, msgs);
      return PARSE_FATAL;
   }
   DictionaryLineName name(line + spans.nameStart, spans.nameLength);
   return DictionaryParseAssignment(
       dict, line, length, name, DictLL_UnescapeValue(line + spans.valueStart, spans.valueLength),
       msgs);
}

// The end of a load: a declared encoding stands; otherwise the byte-order
// mark, then the default encoding decides.
Bool DictionaryFinishEncoding(Dictionary *dict, Bool hadBOM, int32 defaultEncoding, MsgList **msgs)
{
   if (dict->encoding != DICTIONARY_ENCODING_UNKNOWN) {
      return TRUE;
   }
   if (hadBOM && Unicode_ResolveEncoding(defaultEncoding) != DICTIONARY_ENCODING_UTF8) {
      MsgList *scratch = NULL;
      Bool ok = DictionarySetEncoding(dict, DICTIONARY_ENCODING_UTF8, &scratch);
      MsgList_Free(scratch);
      if (ok) {
         return TRUE;
      }
   }
   if (DictionarySetEncoding(dict, defaultEncoding, msgs)) {
      return TRUE;
   }
   if (dict->fileName == NULL) {
      MsgList_Append(msgs, MSGID(msg.dictionary.badDefaultEncodingNoFile) "Failed to decode the "
                                                                          "dictionary in the "
                                                                          "default character "
                                                                          "encoding.\n");
   } else {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.badDefaultEncoding) "An error occurred while decoding "
                                                              "file \"%s\" using the default "
                                                              "character encoding.\n",
                     dict->fileName);
   }
   return FALSE;
}

// Lines and their results as they are handled, for files and buffers alike.
struct DictionaryLineState
{
   Dictionary *dict;
   MsgList **msgs;
   Bool limitDuplicates; // files stop after 100 duplicates; buffers do not
   int duplicates;
   Bool failed; // fail at the end
};

// Handles a line; FALSE means stop reading (the load fails).
Bool DictionaryHandleLine(DictionaryLineState *st, const char *line, size_t length)
{
   int parsed = DictionaryParseReadLine(st->dict, line, length, st->msgs);
   if (parsed == PARSE_FATAL) {
      return FALSE;
   }
   if (parsed == PARSE_DUPLICATE) {
      st->failed = TRUE;
      if (st->limitDuplicates && ++st->duplicates > kMaxDuplicates) {
         Log("%s: \"%s\" line %d: too many duplicate entries in dictionary, quitting.\n",
             "DictionaryReadLines", st->dict->fileName, st->dict->lineNumber);
         return FALSE;
      }
   }
   return TRUE;
}

// Splits text[*pos, size) into lines ending at "\n", "\r\n" or a lone "\r",
// handling each complete one. Without atEnd, a trailing "\r" and a last
// unterminated line wait for more text. Returns FALSE when reading stops.
Bool DictionaryHandleLines(DictionaryLineState *st, const char *text, size_t size, size_t *pos,
                           Bool atEnd)
{
   size_t p = *pos;
   while (p < size) {
      // Two vectorised searches beat one byte loop on long files.
      const char *nl = (const char *)memchr(text + p, '\n', size - p);
      size_t lineEnd = nl != NULL ? (size_t)(nl - text) : size;
      const char *cr = (const char *)memchr(text + p, '\r', lineEnd - p);
      size_t eol = cr != NULL ? (size_t)(cr - text) : lineEnd;
      size_t next;
      if (eol == size) {
         if (!atEnd) {
            break;
         }
         next = size;
      } else if (text[eol] == '\r') {
         if (eol + 1 == size && !atEnd) {
            break;
         }
         next = eol + 1 < size && text[eol + 1] == '\n' ? eol + 2 : eol + 1;
      } else {
         next = eol + 1;
      }
      Bool go = DictionaryHandleLine(st, text + p, eol - p);
      p = next;
      if (!go) {
         *pos = p;
         return FALSE;
      }
   }
   *pos = p;
   return TRUE;
}

Bool DictionaryReadLines(Dictionary *dict, FILE *stream, int32 defaultEncoding, MsgList **msgs)
{
   DictionaryLineState st = {dict, msgs, TRUE, 0, FALSE};
   dict->lineNumber = 0;
   Bool hadBOM = DictLL_ReadUTF8BOM(stream);

   // Read in blocks and split in memory: much faster than a byte at a time,
   // with no limit on the length of a line. The buffer stays small enough to
   // come from the heap; it grows only for a line longer than itself.
   size_t cap = 32768;
   char *buf = (char *)Util_SafeMalloc(cap);
   size_t len = 0;
   Bool ok = TRUE;
   for (;;) {
      if (len == cap) {
         // A line fills the buffer: double it, wiping the old one.
         char *grown = (char *)Util_SafeMalloc(cap * 2);
         memcpy(grown, buf, len);
         explicit_bzero(buf, cap);
         free(buf);
         buf = grown;
         cap *= 2;
      }
      size_t n = fread(buf + len, 1, cap - len, stream);
      len += n;
      Bool failed = ferror(stream) != 0;
      Bool atEnd = n == 0 || failed || feof(stream);
      size_t pos = 0;
      if (!DictionaryHandleLines(&st, buf, len, &pos, atEnd && !failed)) {
         ok = FALSE;
         break;
      }
      memmove(buf, buf + pos, len - pos);
      len -= pos;
      if (failed) {
         int err = errno;
         MsgList_Append(msgs, MSGID(msg.dictionary.read.readError) "File \"%s\" line %d: %s.\n",
                        dict->fileName, dict->lineNumber, strerror(err));
         ok = FALSE;
         break;
      }
      if (atEnd) {
         break;
      }
   }
   // The buffer may hold secrets.
   explicit_bzero(buf, cap);
   free(buf);
   dict->lineNumber = 0;
   if (!ok || st.failed) {
      return FALSE;
   }
   return DictionaryFinishEncoding(dict, hadBOM, defaultEncoding, msgs);
}

// Reads stream with shownName as the file name in complaints.
Bool DictionaryReadNamed(Dictionary *dict, FILE *stream, const char *shownName,
                         int32 defaultEncoding, MsgList **msgs)
{
   DictionaryFreeText(dict->fileName);
   dict->fileName = Util_SafeStrdup(shownName);
   Bool ok = DictionaryReadLines(dict, stream, defaultEncoding, msgs);
   DictionaryFreeText(dict->fileName);
   dict->fileName = NULL;
   dict->lineNumber = 0;
   return ok;
}

void DictionaryPost(MsgList *msgs)
{
   if (msgs != NULL) {
      Msg_AppendMsgList(msgs);
      MsgList_Free(msgs);
   }
}

} // namespace

Bool Dictionary_Load(Dictionary *dict, const char *pathName, Bool clearFirst, int32 defaultEncoding,
                     MsgList **msgs)
{
   if (pathName == NULL) {
      if (clearFirst) {
         Dictionary_Clear(dict);
      }
      return TRUE;
   }
   Bool isStdin = strcmp(pathName, "-") == 0;
   const char *shownName = isStdin ? kStdinName : pathName;
   FILE *stream = isStdin ? stdin : fopen(pathName, "re");
   if (stream == NULL) {
      int err = errno;
      Log("%s: Cannot open file \"%s\": %s.\n", "DictionaryLoad", shownName, strerror(err));
      MsgList_Append(msgs, MSGID(msg.dictionary.load.openFailed) "Cannot open file \"%s\": %s.\n",
                     shownName, strerror(err));
      return FALSE;
   }
   struct stat st;
   if (fstat(fileno(stream), &st) != 0) {
      int err = errno;
      Log("%s: Unable to get information about file \"%s\": %s.\n", "DictionaryLoad", shownName,
          strerror(err));
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.load.statFailed) "Unable to get information about file "
                                                           "\"%s\": %s.\n",
                     shownName, strerror(err));
      if (!isStdin) {
         fclose(stream);
      }
      return FALSE;
   }
   if (S_ISDIR(st.st_mode)) {
      Log("%s: \"%s\" is a directory.\n", "DictionaryLoad", shownName);
      MsgList_Append(msgs, MSGID(msg.dictionary.load.isDirectory) "\"%s\" is a directory.\n",
                     shownName);
      if (!isStdin) {
         fclose(stream);
      }
      return FALSE;
   }
   if (clearFirst) {
      Dictionary_Clear(dict);
   }
   Bool ok = DictionaryReadNamed(dict, stream, shownName, defaultEncoding, msgs);
   if (!isStdin) {
      fclose(stream);
   }
   return ok;
}

// The short forms: load, then post the complaints.
static Bool DictionaryLoadAndPost(Dictionary *dict, const char *pathName, Bool clearFirst,
                                  int32 defaultEncoding)
{
   MsgList *msgs = NULL;
   Bool ok = Dictionary_Load(dict, pathName, clearFirst, defaultEncoding, &msgs);
   DictionaryPost(msgs);
   return ok;
}

Bool Dictionary_LoadAndClear(Dictionary *dict, const char *pathName)
{
   return DictionaryLoadAndPost(dict, pathName, TRUE, DICTIONARY_ENCODING_DEFAULT);
}

Bool Dictionary_LoadUTF8AndClear(Dictionary *dict, const char *pathName)
{
   return DictionaryLoadAndPost(dict, pathName, TRUE, DICTIONARY_ENCODING_UTF8);
}

Bool Dictionary_LoadAndMerge(Dictionary *dict, const char *pathName)
{
   return DictionaryLoadAndPost(dict, pathName, FALSE, DICTIONARY_ENCODING_DEFAULT);
}

Bool Dictionary_LoadFd(Dictionary *dict, int fd, const char *pathName, int32 defaultEncoding,
                       MsgList **msgs)
{
   const char *shownName = pathName != NULL ? pathName : "";
   Dictionary_Clear(dict);
   if (lseek(fd, 0, SEEK_SET) == (off_t)-1) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.loadFile.seekFailed) "Cannot seek file \"%s\": %s.\n",
                     shownName, strerror(errno));
      return FALSE;
   }
   // The stream reads a duplicate, so closing it leaves the caller's descriptor open.
   int dupFd = dup(fd);
   FILE *stream = dupFd < 0 ? NULL : fdopen(dupFd, "r");
   if (stream == NULL) {
      int err = errno;
      if (dupFd >= 0) {
         close(dupFd);
      }
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.loadFileStream.failed) "Cannot open file stream \"%s\": "
                                                                 "%s.\n",
                     shownName, strerror(err));
      return FALSE;
   }
   Bool ok = DictionaryReadNamed(dict, stream, shownName, defaultEncoding, msgs);
   fclose(stream);
   if (lseek(fd, 0, SEEK_SET) == (off_t)-1) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.loadFile.seekFailed) "Cannot seek file \"%s\": %s.\n",
                     shownName, strerror(errno));
      return FALSE;
   }
   return ok;
}

Bool Dictionary_LoadFromBuffer(Dictionary *dict, char *text, Bool append, int32 defaultEncoding,
                               MsgList **msgs)
{
   if (!append) {
      Dictionary_Clear(dict);
   }
   if (text == NULL) {
      return TRUE;
   }
   // Lines end as in files, a lone "\r" included: a buffer that kept one
   // inside a line would save to a file that reads back as other lines.
   DictionaryLineState st = {dict, msgs, FALSE, 0, FALSE};
   dict->lineNumber = 0;
   size_t pos = 0;
   Bool ok = DictionaryHandleLines(&st, text, strlen(text), &pos, TRUE);
   dict->lineNumber = 0;
   if (!ok || st.failed) {
      return FALSE;
   }
   return DictionaryFinishEncoding(dict, FALSE, defaultEncoding, msgs);
}

Bool Dictionary_LoadFromBufferAndPost(Dictionary *dict, char *text, Bool append,
                                      int32 defaultEncoding)
{
   MsgList *msgs = NULL;
   Bool ok = Dictionary_LoadFromBuffer(dict, text, append, defaultEncoding, &msgs);
   if (msgs != NULL) {
      Msg_AppendMsgList(msgs);
      MsgList_Log(msgs);
      MsgList_Free(msgs);
   }
   return ok;
}

int32 Dictionary_GetEncoding(const Dictionary *dict)
{
   return dict->encoding;
}
