/// Internals of the dictionary shared by its core, value parsing and the
/// file reader and writer. Not for use outside lib/user.
#ifndef LIB_USER_DICTIONARYINT_H
#define LIB_USER_DICTIONARYINT_H

#include "lib/user/dictionary.h"

/// Encoding codes of the Unicode layer as the dictionary records them.
#define DICTIONARY_ENCODING_UNKNOWN (-2) ///< Not yet known.
#define DICTIONARY_ENCODING_DEFAULT (-1) ///< The process default.
#define DICTIONARY_ENCODING_UTF8 0
#define DICTIONARY_ENCODING_ASCII 7

#define DICTIONARY_DEFAULT_BUCKETS 512
/// Formatted names are cut to fit this buffer.
#define DICTIONARY_NAME_MAX 1024

/// Links of a circular doubly linked list. The list head is a sentinel held
/// in the Dictionary; a record's links are its first field.
typedef struct DictionaryListItem
{
   struct DictionaryListItem *next;
   struct DictionaryListItem *prev;
} DictionaryListItem;

/// An entry's 8-byte value, interpreted by its type.
typedef union DictionaryValue {
   char *text;      ///< DICT_ANY, DICT_STRING (owned; may be NULL for DICT_STRING).
   Bool boolValue;  ///< DICT_BOOL.
   int32 longValue; ///< DICT_LONG, DICT_TRISTATE.
   double doubleValue;
   int64 int64Value;
} DictionaryValue;

typedef struct DictionaryLine DictionaryLine;

struct DictionaryEntry
{
   DictionaryListItem links; ///< Creation order.
   DictionaryValue value;
   char *name; ///< Points at nameText.
   DictionaryValueType type;
   Bool modified;        ///< Differs from the file: render afresh when written.
   Bool written;         ///< Scratch flag of the writer.
   Bool isDefault;       ///< A remembered default: never counted nor written.
   char *textForm;       ///< Owned cache of Dictionary_GetAsString for non-texts.
   DictionaryLine *line; ///< The line the entry was read from, or NULL.
   char *ownLine;        ///< Owned rendered line when there is no line.
   /* Index. */
   DictionaryEntry *hashNext;
   uint32 hash;
   char nameText[]; ///< The name lives in the entry's own allocation.
};

struct DictionaryLine
{
   DictionaryListItem links; ///< File order.
   DictionaryEntry *entry;   ///< Entry defined on this line, or NULL.
   char *text;               ///< The whole line ending in "\n": keptText or owned.
   size_t length;            ///< strlen(text).
   Bool inEntry;             ///< Allocated with its entry, and freed with it.
   char keptText[];          ///< The line as read, in the record's own allocation.
};

struct Dictionary
{
   DictionaryListItem entries; ///< DictionaryEntry, creation order.
   DictionaryListItem lines;   ///< DictionaryLine, file order.
   char *fileName;             ///< Owned, only while a file is read.
   int32 lineNumber;           ///< Line being read, 0 outside reading.
   DictionaryEntry **buckets;  ///< Index, numBuckets (a power of two).
   uint32 numBuckets;
   Bool caseSensitive;
   uint32 numEntries; ///< All entries, remembered defaults included.
   int32 encoding;    ///< DICTIONARY_ENCODING_*, or another code.
   Bool dirty;
   size_t lineBytes; ///< The lengths of all lines' texts added up.
};

/* ---- Iteration --------------------------------------------------------- */

/// First entry in creation order, or NULL.
static inline DictionaryEntry *DictionaryFirstEntry(const Dictionary *dict)
{
   return dict->entries.next == &dict->entries ? NULL : (DictionaryEntry *)dict->entries.next;
}

/// The entry after e, or NULL.
static inline DictionaryEntry *DictionaryNextEntry(const Dictionary *dict, const DictionaryEntry *e)
{
   return e->links.next == &dict->entries ? NULL : (DictionaryEntry *)e->links.next;
}

/// First line in file order, or NULL.
static inline DictionaryLine *DictionaryFirstLine(const Dictionary *dict)
{
   return dict->lines.next == &dict->lines ? NULL : (DictionaryLine *)dict->lines.next;
}

/// The line after l, or NULL.
static inline DictionaryLine *DictionaryNextLine(const Dictionary *dict, const DictionaryLine *l)
{
   return l->links.next == &dict->lines ? NULL : (DictionaryLine *)l->links.next;
}

/// TRUE for the types whose value is a text.
static inline Bool DictionaryIsTextType(DictionaryValueType type)
{
   return type == DICT_ANY || type == DICT_STRING;
}

/* ---- Texts ------------------------------------------------------------- */

/// Overwrites a text with zero bytes and frees it; keeps errno; accepts NULL.
void DictionaryFreeText(char *text);

/* ---- Entries ----------------------------------------------------------- */

/// The index hash of name under the dictionary's case rule.
uint32 DictionaryHashName(const Dictionary *dict, const char *name);
/// The entry with the name (per the dictionary's case rule), or NULL.
DictionaryEntry *DictionaryFindEntry(const Dictionary *dict, const char *name);
/// As DictionaryFindEntry, with hash = DictionaryHashName(dict, name).
DictionaryEntry *DictionaryFindEntryHashed(const Dictionary *dict, const char *name, uint32 hash);
/// Creates an entry with copies of name and, for text types, of the text in
/// *value; appends it to the entry list and the index and counts it. The
/// flags start FALSE.
DictionaryEntry *DictionaryCreateEntry(Dictionary *dict, const char *name, DictionaryValueType type,
                                       const DictionaryValue *value);
/// As DictionaryCreateEntry, but with the name's hash (DictionaryHashName)
/// and length given, and taking over the text of value.
DictionaryEntry *DictionaryCreateEntryHashed(Dictionary *dict, const char *name, size_t nameLength,
                                             uint32 hash, DictionaryValueType type,
                                             DictionaryValue value);
/// As DictionaryCreateEntryHashed for an untyped entry read from a line: the
/// line (as DictionaryAppendLine makes it) shares the entry's allocation and
/// is appended to the lines.
DictionaryEntry *DictionaryCreateEntryWithLine(Dictionary *dict, const char *name,
                                               size_t nameLength, uint32 hash,
                                               DictionaryValue value, const char *text,
                                               size_t length);
/// Takes the entry out of the index and the list, removes its line, wipes
/// and frees it; the dirty flag is set unless it was a remembered default.
void DictionaryRemoveEntry(Dictionary *dict, DictionaryEntry *e);
/// Wipes and frees the entry's value text (text types) and its text form.
void DictionaryFreeValue(DictionaryEntry *e);

/* ---- Lines ------------------------------------------------------------- */

/// Appends a line holding a copy of text[0, length) (cut at a NUL byte) and
/// a "\n"; links entry (may be NULL) to it.
DictionaryLine *DictionaryAppendLine(Dictionary *dict, const char *text, size_t length,
                                     DictionaryEntry *entry);
/// Inserts such a line first.
DictionaryLine *DictionaryPrependLine(Dictionary *dict, const char *text, size_t length,
                                      DictionaryEntry *entry);
/// Replaces the line's text with text (owned, ending in "\n") of the length.
void DictionarySetLineText(Dictionary *dict, DictionaryLine *line, char *text, size_t length);
/// Unlinks and frees a line, wiping its text; its entry forgets it.
void DictionaryRemoveLine(Dictionary *dict, DictionaryLine *line);

/* ---- Value conversion -------------------------------------------------- */

/// Converts text to the type (low 12 bits) into *out. For text types *out
/// gets the text pointer itself (not a copy). When the text does not parse
/// (or is out of range) the fallback is *defaultValue when given, else
/// FALSE / 0 / 0.0, and a complaint naming the text, the name and the
/// fallback goes to msgs (may be NULL). Returns FALSE when the fallback was
/// used.
Bool DictionaryConvertValue(const char *name, const char *text, DictionaryValueType type,
                            const void *defaultValue, DictionaryValue *out, MsgList **msgs);
/// Converts an untyped entry in place to type; its text is wiped and freed
/// unless the new type is DICT_STRING, which keeps it as the value.
void DictionaryConvertEntry(DictionaryEntry *e, DictionaryValueType type, const void *defaultValue,
                            MsgList **msgs);

#endif
