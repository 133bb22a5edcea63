// The dictionary core: entries, the case-insensitive index, remembered
// defaults, typed lookup and store, and the formatted accessors.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/log/log.h"
#include "lib/misc/util.h"
#include "lib/panic/panic.h"
#include "lib/user/dictionaryInt.h"

#define PANIC_SOURCE "vela/lib/user/dictionary_core"

// Results for absent names: none / 0 / FALSE / 0.0, TRUE, and -1.
static const DictionaryValue dictZero = {};
static const int32 dictTrue = 1;
static const int32 dictMinusOne = -1;

/* ---- Texts ------------------------------------------------------------- */

void DictionaryFreeText(char *text)
{
   if (text != NULL) {
      int savedErrno = errno;
      // explicit_bzero is never dropped as a dead store, and unlike a
      // volatile byte loop it runs at memset speed.
      explicit_bzero(text, strlen(text));
      free(text);
      errno = savedErrno;
   }
}

/* ---- Index ------------------------------------------------------------- */

static inline unsigned char DictionaryLower(unsigned char c)
{
   return c >= 'A' && c <= 'Z' ? (unsigned char)(c + ('a' - 'A')) : c;
}

// FNV-1a over the bytes, folded to lower case unless names are exact.
uint32 DictionaryHashName(const Dictionary *dict, const char *name)
{
   uint32 h = 2166136261u;
   const unsigned char *p = (const unsigned char *)name;
   if (dict->caseSensitive) {
      for (; *p != '\0'; p++) {
         h = (h ^ *p) * 16777619u;
      }
   } else {
      for (; *p != '\0'; p++) {
         h = (h ^ DictionaryLower(*p)) * 16777619u;
      }
   }
   return h;
}

static Bool DictionaryNamesEqual(const Dictionary *dict, const char *a, const char *b)
{
   if (dict->caseSensitive) {
      return strcmp(a, b) == 0;
   }
   const unsigned char *x = (const unsigned char *)a;
   const unsigned char *y = (const unsigned char *)b;
   for (; *x != '\0'; x++, y++) {
      if (DictionaryLower(*x) != DictionaryLower(*y)) {
         return FALSE;
      }
   }
   return *y == '\0';
}

static Bool DictionaryHasPrefixNoCase(const char *name, const char *prefix)
{
   const unsigned char *x = (const unsigned char *)name;
   const unsigned char *y = (const unsigned char *)prefix;
   for (; *y != '\0'; x++, y++) {
      if (DictionaryLower(*x) != DictionaryLower(*y)) {
         return FALSE;
      }
   }
   return TRUE;
}

static void DictionaryIndexInsert(Dictionary *dict, DictionaryEntry *e)
{
   DictionaryEntry **bucket = &dict->buckets[e->hash & (dict->numBuckets - 1)];
   e->hashNext = *bucket;
   *bucket = e;
}

// Doubles the buckets once there are more entries than buckets, so lookups
// stay short in large dictionaries.
static void DictionaryIndexGrow(Dictionary *dict)
{
   if (dict->numEntries <= dict->numBuckets || dict->numBuckets >= (1u << 30)) {
      return;
   }
   DictionaryEntry **old = dict->buckets;
   uint32 oldCount = dict->numBuckets;
   dict->numBuckets *= 2;
   dict->buckets = (DictionaryEntry **)Util_SafeCalloc(dict->numBuckets, sizeof *old);
   for (uint32 i = 0; i < oldCount; i++) {
      DictionaryEntry *e = old[i];
      while (e != NULL) {
         DictionaryEntry *next = e->hashNext;
         DictionaryIndexInsert(dict, e);
         e = next;
      }
   }
   free(old);
}

static void DictionaryIndexRemove(Dictionary *dict, DictionaryEntry *e)
{
   DictionaryEntry **link = &dict->buckets[e->hash & (dict->numBuckets - 1)];
   while (*link != NULL && *link != e) {
      link = &(*link)->hashNext;
   }
   if (*link == e) {
      *link = e->hashNext;
   }
   e->hashNext = NULL;
}

DictionaryEntry *DictionaryFindEntry(const Dictionary *dict, const char *name)
{
   return DictionaryFindEntryHashed(dict, name, DictionaryHashName(dict, name));
}

DictionaryEntry *DictionaryFindEntryHashed(const Dictionary *dict, const char *name, uint32 h)
{
   for (DictionaryEntry *e = dict->buckets[h & (dict->numBuckets - 1)]; e != NULL;
        e = e->hashNext) {
      if (e->hash == h && DictionaryNamesEqual(dict, e->name, name)) {
         return e;
      }
   }
   return NULL;
}

/* ---- Lists ------------------------------------------------------------- */

static void DictionaryListInit(DictionaryListItem *head)
{
   head->next = head->prev = head;
}

static void DictionaryListInsertBefore(DictionaryListItem *where, DictionaryListItem *item)
{
   item->next = where;
   item->prev = where->prev;
   where->prev->next = item;
   where->prev = item;
}

static void DictionaryListUnlink(DictionaryListItem *item)
{
   item->prev->next = item->next;
   item->next->prev = item->prev;
   item->next = item->prev = item;
}

/* ---- Entries ----------------------------------------------------------- */

static void DictionaryCheckType(DictionaryValueType type)
{
   if (type > DICT_INT64) {
      NOT_REACHED();
   }
}

static void DictionaryInitLine(Dictionary *dict, DictionaryLine *line, const char *text,
                               size_t length, DictionaryEntry *entry);

// Makes an entry; with a line text, the line lives in the same allocation
// (after the name) and is appended: one block per line read.
static DictionaryEntry *DictionaryNewEntry(Dictionary *dict, const char *name, size_t nameLength,
                                           uint32 hash, DictionaryValueType type,
                                           DictionaryValue value, const char *text, size_t length)
{
   type &= DICT_TYPE_MASK;
   DictionaryCheckType(type);
   const size_t align = alignof(DictionaryLine);
   size_t lineOffset = (sizeof(DictionaryEntry) + nameLength + 1 + align - 1) / align * align;
   if (text != NULL) {
      length = strnlen(text, length);
   }
   size_t size = text != NULL ? lineOffset + sizeof(DictionaryLine) + length + 2
                              : sizeof(DictionaryEntry) + nameLength + 1;
   DictionaryEntry *e = (DictionaryEntry *)Util_SafeCalloc(1, size);
   memcpy(e->nameText, name, nameLength);
   e->name = e->nameText;
   e->type = type;
   e->value = value;
   e->hash = hash;
   DictionaryListInsertBefore(&dict->entries, &e->links);
   dict->numEntries++;
   DictionaryIndexGrow(dict);
   DictionaryIndexInsert(dict, e);
   if (text != NULL) {
      DictionaryLine *line = (DictionaryLine *)((char *)e + lineOffset);
      DictionaryInitLine(dict, line, text, length, e);
      line->inEntry = TRUE;
      DictionaryListInsertBefore(&dict->lines, &line->links);
   }
   return e;
}

DictionaryEntry *DictionaryCreateEntryHashed(Dictionary *dict, const char *name, size_t nameLength,
                                             uint32 hash, DictionaryValueType type,
                                             DictionaryValue value)
{
   return DictionaryNewEntry(dict, name, nameLength, hash, type, value, NULL, 0);
}

DictionaryEntry *DictionaryCreateEntryWithLine(Dictionary *dict, const char *name,
                                               size_t nameLength, uint32 hash,
                                               DictionaryValue value, const char *text,
                                               size_t length)
{
   return DictionaryNewEntry(dict, name, nameLength, hash, DICT_ANY, value, text, length);
}

DictionaryEntry *DictionaryCreateEntry(Dictionary *dict, const char *name, DictionaryValueType type,
                                       const DictionaryValue *value)
{
   DictionaryValue copy = value != NULL ? *value : dictZero;
   type &= DICT_TYPE_MASK;
   if (DictionaryIsTextType(type)) {
      copy.text = Util_SafeStrdup(copy.text);
   }
   return DictionaryCreateEntryHashed(dict, name, strlen(name), DictionaryHashName(dict, name),
                                      type, copy);
}

void DictionaryFreeValue(DictionaryEntry *e)
{
   if (DictionaryIsTextType(e->type)) {
      DictionaryFreeText(e->value.text);
      e->value.text = NULL;
   }
   DictionaryFreeText(e->textForm);
   e->textForm = NULL;
}

static void DictionaryFreeEntry(Dictionary *dict, DictionaryEntry *e)
{
   if (e->line != NULL) {
      // Its line may share the allocation; it must not outlive the entry.
      DictionaryRemoveLine(dict, e->line);
   }
   DictionaryFreeValue(e);
   explicit_bzero(e->nameText, strlen(e->nameText));
   DictionaryFreeText(e->ownLine);
   free(e);
}

void DictionaryRemoveEntry(Dictionary *dict, DictionaryEntry *e)
{
   if (!e->isDefault) {
      dict->dirty = TRUE;
   }
   DictionaryIndexRemove(dict, e);
   DictionaryListUnlink(&e->links);
   if (e->line != NULL) {
      DictionaryRemoveLine(dict, e->line);
   }
   dict->numEntries--;
   DictionaryFreeEntry(dict, e);
}

/* ---- Lines ------------------------------------------------------------- */

// Fills a line record whose keptText has room for length + 2 bytes; the
// length is already cut at a NUL byte.
static void DictionaryInitLine(Dictionary *dict, DictionaryLine *line, const char *text,
                               size_t length, DictionaryEntry *entry)
{
   memcpy(line->keptText, text, length);
   line->keptText[length] = '\n';
   line->keptText[length + 1] = '\0';
   line->text = line->keptText;
   line->length = length + 1;
   line->inEntry = FALSE;
   line->entry = entry;
   if (entry != NULL) {
      entry->line = line;
   }
   dict->lineBytes += line->length;
}

// The record and its text in one allocation.
static DictionaryLine *DictionaryNewLine(Dictionary *dict, const char *text, size_t length,
                                         DictionaryEntry *entry)
{
   length = strnlen(text, length);
   DictionaryLine *line = (DictionaryLine *)Util_SafeMalloc(sizeof *line + length + 2);
   DictionaryInitLine(dict, line, text, length, entry);
   return line;
}

DictionaryLine *DictionaryAppendLine(Dictionary *dict, const char *text, size_t length,
                                     DictionaryEntry *entry)
{
   DictionaryLine *line = DictionaryNewLine(dict, text, length, entry);
   DictionaryListInsertBefore(&dict->lines, &line->links);
   return line;
}

DictionaryLine *DictionaryPrependLine(Dictionary *dict, const char *text, size_t length,
                                      DictionaryEntry *entry)
{
   DictionaryLine *line = DictionaryNewLine(dict, text, length, entry);
   DictionaryListInsertBefore(dict->lines.next, &line->links);
   return line;
}

void DictionaryRemoveLine(Dictionary *dict, DictionaryLine *line)
{
   DictionaryListUnlink(&line->links);
   if (line->entry != NULL && line->entry->line == line) {
      line->entry->line = NULL;
   }
   DictionarySetLineText(dict, line, NULL, 0);
   if (!line->inEntry) {
      free(line);
   }
}

void DictionarySetLineText(Dictionary *dict, DictionaryLine *line, char *text, size_t length)
{
   dict->lineBytes = dict->lineBytes - line->length + length;
   if (line->text == line->keptText) {
      explicit_bzero(line->keptText, line->length);
   } else {
      DictionaryFreeText(line->text);
   }
   line->text = text;
   line->length = length;
}

/* ---- Life cycle -------------------------------------------------------- */

Dictionary *Dictionary_CreateEx(uint32 numBuckets, Bool caseSensitive)
{
   if (numBuckets == 0) {
      numBuckets = DICTIONARY_DEFAULT_BUCKETS;
   }
   VERIFY((numBuckets & (numBuckets - 1)) == 0 && numBuckets <= (1u << 30));
   Dictionary *dict = (Dictionary *)Util_SafeCalloc(1, sizeof *dict);
   DictionaryListInit(&dict->entries);
   DictionaryListInit(&dict->lines);
   dict->numBuckets = numBuckets;
   dict->buckets = (DictionaryEntry **)Util_SafeCalloc(numBuckets, sizeof *dict->buckets);
   dict->caseSensitive = caseSensitive;
   dict->encoding = DICTIONARY_ENCODING_UNKNOWN;
   return dict;
}

Dictionary *Dictionary_Create(void)
{
   return Dictionary_CreateEx(0, FALSE);
}

void Dictionary_Clear(Dictionary *dict)
{
   while (dict->lines.next != &dict->lines) {
      DictionaryRemoveLine(dict, (DictionaryLine *)dict->lines.next);
   }
   while (dict->entries.next != &dict->entries) {
      DictionaryEntry *e = (DictionaryEntry *)dict->entries.next;
      DictionaryListUnlink(&e->links);
      DictionaryFreeEntry(dict, e);
   }
   memset(dict->buckets, 0, dict->numBuckets * sizeof *dict->buckets);
   dict->numEntries = 0;
   dict->encoding = DICTIONARY_ENCODING_UNKNOWN;
}

void Dictionary_Free(Dictionary *dict)
{
   if (dict == NULL) {
      return;
   }
   Dictionary_Clear(dict);
   DictionaryFreeText(dict->fileName);
   free(dict->buckets);
   free(dict);
}

/* ---- Lookup ------------------------------------------------------------ */

static Bool DictionaryIsZeroDefault(const void *def, DictionaryValueType type)
{
   if (def == NULL) {
      return TRUE;
   }
   switch (type) {
   case DICT_ANY:
   case DICT_STRING:
      return *(char *const *)def == NULL;
   case DICT_BOOL:
      return *(const Bool *)def == 0;
   case DICT_LONG:
   case DICT_TRISTATE:
      return *(const int32 *)def == 0;
   case DICT_DOUBLE:
      return *(const double *)def == 0.0;
   case DICT_INT64:
      return *(const int64 *)def == 0;
   default:
      NOT_REACHED();
   }
}

static DictionaryValue DictionaryReadValue(const void *ptr, DictionaryValueType type)
{
   DictionaryValue v = dictZero;
   if (ptr == NULL) {
      return v;
   }
   switch (type) {
   case DICT_ANY:
   case DICT_STRING:
      v.text = *(char *const *)ptr;
      break;
   case DICT_BOOL:
      v.boolValue = *(const Bool *)ptr != 0;
      break;
   case DICT_LONG:
   case DICT_TRISTATE:
      v.longValue = *(const int32 *)ptr;
      break;
   case DICT_DOUBLE:
      v.doubleValue = *(const double *)ptr;
      break;
   case DICT_INT64:
      v.int64Value = *(const int64 *)ptr;
      break;
   default:
      NOT_REACHED();
   }
   return v;
}

// Formats a non-text value into buf (32 bytes).
static const char *DictionaryFormatValue(const DictionaryEntry *e, char *buf, size_t size)
{
   switch (e->type) {
   case DICT_ANY:
   case DICT_STRING:
      return e->value.text;
   case DICT_BOOL:
      return e->value.boolValue ? "TRUE" : "FALSE";
   case DICT_LONG:
      snprintf(buf, size, "%d", e->value.longValue);
      return buf;
   case DICT_DOUBLE:
      snprintf(buf, size, "%g", e->value.doubleValue);
      return buf;
   case DICT_TRISTATE:
      switch (e->value.longValue) {
      case 0:
         return "FALSE";
      case 1:
         return "TRUE";
      case -1:
         return "DEFAULT";
      default:
         NOT_REACHED();
      }
   case DICT_INT64:
      snprintf(buf, size, "%ld", (long)e->value.int64Value);
      return buf;
   default:
      NOT_REACHED();
   }
}

static const char *DictionaryCacheTextForm(DictionaryEntry *e)
{
   char buf[32];
   const char *text = DictionaryFormatValue(e, buf, sizeof buf);
   if (DictionaryIsTextType(e->type)) {
      return text;
   }
   DictionaryFreeText(e->textForm);
   e->textForm = Util_SafeStrdup(text);
   return e->textForm;
}

const void *Dictionary_GetEx(Dictionary *dict, const void *defaultValue, DictionaryValueType type,
                             const char *name, MsgList **msgs)
{
   type &= DICT_TYPE_MASK;
   DictionaryCheckType(type);
   DictionaryEntry *e = DictionaryFindEntry(dict, name);
   if (e == NULL) {
      if (DictionaryIsZeroDefault(defaultValue, type)) {
         return &dictZero;
      }
      if (type == DICT_BOOL && *(const Bool *)defaultValue) {
         return &dictTrue;
      }
      if ((type == DICT_LONG || type == DICT_TRISTATE) && *(const int32 *)defaultValue == -1) {
         return &dictMinusOne;
      }
      DictionaryValue v = DictionaryReadValue(defaultValue, type);
      e = DictionaryCreateEntry(dict, name, type, &v);
      e->isDefault = TRUE;
      return &e->value;
   }
   if (e->type == DICT_ANY && type != DICT_ANY) {
      DictionaryConvertEntry(e, type, defaultValue, msgs);
   }
   if (e->type == type || type == DICT_ANY ||
       (DictionaryIsTextType(e->type) && DictionaryIsTextType(type))) {
      return &e->value;
   }
   // One name read as two types is a caller's mistake; never hand out a
   // value slot that the caller would misread.
   Warning("%s: variable \"%s\" has type %u, not %u.\n", "Dictionary_Get", e->name, e->type, type);
   if (DictionaryIsTextType(type)) {
      DictionaryCacheTextForm(e);
      return &e->textForm;
   }
   return defaultValue != NULL ? defaultValue : &dictZero;
}

const void *Dictionary_Get(Dictionary *dict, const void *defaultValue, DictionaryValueType type,
                           const char *name)
{
   return Dictionary_GetEx(dict, defaultValue, type, name, NULL);
}

Bool Dictionary_IsDefined(Dictionary *dict, const char *name)
{
   return DictionaryFindEntry(dict, name) != NULL;
}

Bool Dictionary_NotSet(Dictionary *dict, const char *name)
{
   DictionaryEntry *e = DictionaryFindEntry(dict, name);
   return e == NULL || e->isDefault;
}

/* ---- Store ------------------------------------------------------------- */

// Stores v (of the entry's type; a text is copied) into an existing entry,
// applying the change rules to the flags.
static void DictionaryStoreValue(Dictionary *dict, DictionaryEntry *e, DictionaryValue v)
{
   Bool equal;
   Bool replace = FALSE;

   switch (e->type) {
   case DICT_ANY:
   case DICT_STRING: {
      const char *oldText = e->value.text;
      if (oldText == NULL || v.text == NULL) {
         const char *other = oldText == NULL ? v.text : oldText;
         // Missing and empty differ in storage only.
         equal = other == NULL || *other == '\0';
         replace = oldText != v.text;
      } else {
         equal = strcmp(oldText, v.text) == 0;
      }
      break;
   }
   case DICT_BOOL:
      equal = (e->value.boolValue != 0) == (v.boolValue != 0);
      break;
   case DICT_LONG:
   case DICT_TRISTATE:
      equal = e->value.longValue == v.longValue;
      break;
   case DICT_DOUBLE:
      equal = e->value.doubleValue == v.doubleValue;
      break;
   case DICT_INT64:
      equal = e->value.int64Value == v.int64Value;
      break;
   default:
      NOT_REACHED();
   }

   if (!equal || replace) {
      if (DictionaryIsTextType(e->type)) {
         DictionaryFreeText(e->value.text);
         e->value.text = Util_SafeStrdup(v.text);
      } else {
         e->value = v;
      }
   }
   if (equal) {
      e->isDefault = FALSE;
      if (e->modified) {
         dict->dirty = TRUE;
      }
   } else {
      e->modified = TRUE;
      e->isDefault = FALSE;
      dict->dirty = TRUE;
   }
}

void Dictionary_Set(Dictionary *dict, const void *valuePtr, DictionaryValueType type,
                    const char *name, MsgList **msgs)
{
   type &= DICT_TYPE_MASK;
   DictionaryCheckType(type);
   DictionaryValue v = DictionaryReadValue(valuePtr, type);
   uint32 hash = DictionaryHashName(dict, name);
   DictionaryEntry *e = DictionaryFindEntryHashed(dict, name, hash);

   if (e == NULL) {
      if (DictionaryIsTextType(type)) {
         v.text = Util_SafeStrdup(v.text);
      }
      e = DictionaryCreateEntryHashed(dict, name, strlen(name), hash, type, v);
      e->modified = TRUE;
      dict->dirty = TRUE;
      return;
   }
   if (type != DICT_ANY && e->type == DICT_ANY) {
      DictionaryConvertEntry(e, type, NULL, msgs);
   }
   if (type == DICT_ANY && !DictionaryIsTextType(e->type)) {
      DictionaryConvertValue(e->name, v.text, e->type, NULL, &v, msgs);
   } else if (type != e->type && !(DictionaryIsTextType(type) && DictionaryIsTextType(e->type))) {
      // A store of another type replaces the value and the type outright.
      Warning("%s: variable \"%s\" changes type from %u to %u.\n", "Dictionary_Set", e->name,
              e->type, type);
      DictionaryFreeValue(e);
      e->type = type;
      e->value = DictionaryIsTextType(type) ? dictZero : v;
      if (DictionaryIsTextType(type)) {
         e->value.text = Util_SafeStrdup(v.text);
      }
      e->modified = TRUE;
      e->isDefault = FALSE;
      dict->dirty = TRUE;
      return;
   }
   DictionaryStoreValue(dict, e, v);
}

Bool Dictionary_SetFromString(Dictionary *dict, const char *text, Bool failIfDefined,
                              MsgList **msgs)
{
   const char *eq = strchr(text, '=');
   size_t nameLen = eq != NULL ? (size_t)(eq - text) : strlen(text);
   const char *value = eq != NULL ? eq + 1 : "";
   char *name = (char *)Util_SafeCalloc(1, nameLen + 1);
   memcpy(name, text, nameLen);

   uint32 hash = DictionaryHashName(dict, name);
   DictionaryEntry *e = DictionaryFindEntryHashed(dict, name, hash);
   if (e != NULL) {
      if (failIfDefined) {
         MsgList_Append(msgs,
                        MSGID(msg.dictionary.alreadyDefined.string) "Variable \"%s\" is already "
                                                                    "defined.\n",
                        name);
         DictionaryFreeText(name);
         return FALSE;
      }
      Dictionary_Set(dict, &value, DICT_ANY, name, msgs);
      if (e->modified) {
         dict->dirty = TRUE;
      }
      DictionaryFreeText(name);
      return TRUE;
   }
   DictionaryValue v;
   v.text = Util_SafeStrdup(value);
   e = DictionaryCreateEntryHashed(dict, name, nameLen, hash, DICT_ANY, v);
   DictionaryFreeText(name);
   e->modified = TRUE;
   dict->dirty = TRUE;
   return TRUE;
}

/* ---- Removal ----------------------------------------------------------- */

Bool Dictionary_Unset(Dictionary *dict, const char *name)
{
   DictionaryEntry *e = DictionaryFindEntry(dict, name);
   if (e == NULL) {
      return FALSE;
   }
   DictionaryRemoveEntry(dict, e);
   return TRUE;
}

Bool Dictionary_UnsetPrefix(Dictionary *dict, const char *prefix)
{
   Bool removed = FALSE;
   DictionaryEntry *e = DictionaryFirstEntry(dict);
   while (e != NULL) {
      DictionaryEntry *next = DictionaryNextEntry(dict, e);
      if (DictionaryHasPrefixNoCase(e->name, prefix)) {
         DictionaryRemoveEntry(dict, e);
         removed = TRUE;
      }
      e = next;
   }
   return removed;
}

Bool Dictionary_HasPrefix(Dictionary *dict, const char *prefix)
{
   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (DictionaryHasPrefixNoCase(e->name, prefix)) {
         return TRUE;
      }
   }
   return FALSE;
}

/* ---- Text forms, enumerations, iteration ------------------------------- */

const char *Dictionary_GetAsString(Dictionary *dict, const char *name)
{
   DictionaryEntry *e = DictionaryFindEntry(dict, name);
   return e == NULL ? NULL : DictionaryCacheTextForm(e);
}

static const char *DictionaryGetEnumInternal(Dictionary *dict, const char *defaultText,
                                             const char **choices, const char *name, MsgList **msgs)
{
   const char *value =
       *(const char *const *)Dictionary_GetEx(dict, &defaultText, DICT_STRING, name, msgs);
   if (value == NULL) {
      return NULL;
   }
   for (const char **c = choices; c != NULL && *c != NULL; c++) {
      if (strlen(*c) == strlen(value) && DictionaryHasPrefixNoCase(*c, value)) {
         return *c;
      }
   }
   if (*value == '\0') {
      return defaultText;
   }
   if (defaultText != NULL) {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.notEnum) "Value \"%s\" for variable \"%s\" is not a "
                                                   "valid value. Using value \"%s\".\n",
                     value, name, defaultText);
   } else {
      MsgList_Append(msgs,
                     MSGID(msg.dictionary.notEnumAndNoDefault) "Value \"%s\" for variable "
                                                               "\"%s\" is not a valid value.\n",
                     value, name);
   }
   return defaultText;
}

const char *Dictionary_GetEnum(Dictionary *dict, const char *defaultText, const char **choices,
                               const char *name, MsgList **msgs)
{
   return DictionaryGetEnumInternal(dict, defaultText, choices, name, msgs);
}

int Dictionary_Iterate(Dictionary *dict, DictionaryIterateFn fn, void *data, Bool includeDefaults)
{
   int count = 0;
   char buf[32];
   DictionaryEntry *e = DictionaryFirstEntry(dict);
   while (e != NULL) {
      // The callback may remove the entry it is given.
      DictionaryEntry *next = DictionaryNextEntry(dict, e);
      if (!e->isDefault || includeDefaults) {
         const char *text = DictionaryFormatValue(e, buf, sizeof buf);
         fn(e->name, text == NULL ? "" : text, count, data);
         count++;
      }
      e = next;
   }
   return count;
}

uint32 Dictionary_Count(const Dictionary *dict)
{
   uint32 count = 0;
   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (!e->isDefault) {
         count++;
      }
   }
   return count;
}

Bool Dictionary_IsDirty(const Dictionary *dict)
{
   if (dict->dirty) {
      return TRUE;
   }
   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (e->modified) {
         return TRUE;
      }
   }
   return FALSE;
}

void Dictionary_MarkDirty(Dictionary *dict)
{
   dict->dirty = TRUE;
}

DictionaryEntry *Dictionary_MarkModified(Dictionary *dict, const char *name)
{
   DictionaryEntry *e = DictionaryFindEntry(dict, name);
   if (e != NULL) {
      e->modified = TRUE;
      e->isDefault = FALSE;
      dict->dirty = TRUE;
   }
   return e;
}

void Dictionary_Log(Dictionary *dict)
{
   for (DictionaryEntry *e = DictionaryFirstEntry(dict); e != NULL;
        e = DictionaryNextEntry(dict, e)) {
      if (e->isDefault) {
         continue;
      }
      switch (e->type) {
      case DICT_ANY:
      case DICT_STRING:
         Log("DICT %25s = \"%s\"\n", e->name, e->value.text == NULL ? "" : e->value.text);
         break;
      case DICT_BOOL:
         Log("DICT %25s = \"%s\"\n", e->name, e->value.boolValue ? "TRUE" : "FALSE");
         break;
      case DICT_LONG:
      case DICT_TRISTATE:
         Log("DICT %25s = \"%i\"\n", e->name, e->value.longValue);
         break;
      case DICT_DOUBLE:
         Log("DICT %25s = \"%g\"\n", e->name, e->value.doubleValue);
         break;
      case DICT_INT64:
         Log("DICT %25s = \"%ld\"\n", e->name, (long)e->value.int64Value);
         break;
      default:
         Log("DICT %25s = <unknown parameter type>\n", e->name);
         break;
      }
   }
}

/* ---- Accessors with a formatted name ----------------------------------- */

#define DICTIONARY_FORMAT_NAME(buf, fmt) UTIL_FORMAT_VARARGS(buf, DICTIONARY_NAME_MAX, fmt)

char *Dictionary_GetString(Dictionary *dict, const char *defaultText, const char *fmt, ...)
{
   DICTIONARY_FORMAT_NAME(name, fmt);
   const char *value = *(const char *const *)Dictionary_Get(dict, &defaultText, DICT_STRING, name);
   return value == NULL ? NULL : Util_SafeStrdup(value);
}

Bool Dictionary_GetBool(Dictionary *dict, Bool defaultValue, const char *fmt, ...)
{
   DICTIONARY_FORMAT_NAME(name, fmt);
   if (DictionaryFindEntry(dict, name) == NULL) {
      return defaultValue;
   }
   return *(const Bool *)Dictionary_Get(dict, &defaultValue, DICT_BOOL, name);
}

int32 Dictionary_GetLong(Dictionary *dict, int32 defaultValue, const char *fmt, ...)
{
   DICTIONARY_FORMAT_NAME(name, fmt);
   return *(const int32 *)Dictionary_Get(dict, &defaultValue, DICT_LONG, name);
}

int64 Dictionary_GetInt64(Dictionary *dict, int64 defaultValue, const char *fmt, ...)
{
   DICTIONARY_FORMAT_NAME(name, fmt);
   return *(const int64 *)Dictionary_Get(dict, &defaultValue, DICT_INT64, name);
}

double Dictionary_GetDouble(Dictionary *dict, double defaultValue, const char *fmt, ...)
{
   DICTIONARY_FORMAT_NAME(name, fmt);
   return *(const double *)Dictionary_Get(dict, &defaultValue, DICT_DOUBLE, name);
}

// The setters differ only in the value's type: each formats the name and
// stores the value.
#define DICTIONARY_DEFINE_SETTER(Kind, Type, valueType)                                            \
   void Dictionary_Set##Kind(Dictionary *dict, Type value, const char *fmt, ...)                   \
   {                                                                                               \
      DICTIONARY_FORMAT_NAME(name, fmt);                                                           \
      Dictionary_Set(dict, &value, valueType, name, NULL);                                         \
   }

DICTIONARY_DEFINE_SETTER(Text, const char *, DICT_ANY)
DICTIONARY_DEFINE_SETTER(String, const char *, DICT_STRING)
DICTIONARY_DEFINE_SETTER(Bool, Bool, DICT_BOOL)
DICTIONARY_DEFINE_SETTER(Long, int32, DICT_LONG)
DICTIONARY_DEFINE_SETTER(Int64, int64, DICT_INT64)
DICTIONARY_DEFINE_SETTER(Double, double, DICT_DOUBLE)

Bool Dictionary_UnsetFormatted(Dictionary *dict, const char *fmt, ...)
{
   DICTIONARY_FORMAT_NAME(name, fmt);
   return Dictionary_Unset(dict, name);
}

char *Dictionary_GetEnumFormatted(Dictionary *dict, const char *defaultText, const char **choices,
                                  const char *fmt, ...)
{
   DICTIONARY_FORMAT_NAME(name, fmt);
   return Util_SafeStrdup(DictionaryGetEnumInternal(dict, defaultText, choices, name, NULL));
}
