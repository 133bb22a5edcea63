/// The dictionary: a keyed store of typed configuration values together with
/// the lines of the file it was read from, so it can be written back with
/// comments, order and untouched lines kept.
///
/// Names are compared and hashed without regard to ASCII letter case (unless
/// created case-sensitive). The dictionary owns every name, value text, line
/// text and cache, and wipes each with zero bytes before freeing it. Pointers
/// returned by lookups point into the entry (or to a constant), are not to be
/// freed, and stay valid until the entry is changed, removed or the
/// dictionary cleared. A dictionary has no lock: keep it to one thread or
/// serialise access from outside.
#ifndef LIB_USER_DICTIONARY_H
#define LIB_USER_DICTIONARY_H

#include <stdarg.h>
#include <stdio.h>

#include "lib/misc/basicTypes.h"
#include "lib/misc/msgList.h"

/// Value types. Flag bits above the low 12 bits of a type argument are
/// ignored; a type above DICT_INT64 is a program error (panic).
typedef uint32 DictionaryValueType;
#define DICT_ANY 0      ///< Untyped text, as read from a file: char *.
#define DICT_STRING 1   ///< String: char * (may be NULL).
#define DICT_BOOL 2     ///< Bool, one byte 0 or 1.
#define DICT_LONG 3     ///< int32.
#define DICT_DOUBLE 4   ///< double.
#define DICT_TRISTATE 5 ///< int32: 0 FALSE, 1 TRUE, -1 default.
#define DICT_INT64 6    ///< int64.
#define DICT_TYPE_MASK 0xFFFu

typedef struct Dictionary Dictionary;
typedef struct DictionaryEntry DictionaryEntry; ///< Opaque outside lib/user.

/// Called by Dictionary_Iterate with the name, the value's text form, the
/// running index from 0 and the caller's data.
typedef void (*DictionaryIterateFn)(const char *name, const char *value, int index, void *data);

/* ---- Value parsing --------------------------------------------------- */

/// Boolean words, any letter case: "", "true", "t", "yes", "y", "on", "1"
/// are TRUE; "false", "f", "no", "n", "off", "0" are FALSE. Anything else
/// (and NULL) gives 0 and sets *invalid (when invalid is not NULL).
Bool Dictionary_ParseBool(const char *text, Bool *invalid);
/// The boolean words give 0 or 1; "default", "dontcare" and "auto" give -1;
/// anything else gives 0 with *invalid set (when invalid is not NULL).
int32 Dictionary_ParseTriState(const char *text, Bool *invalid);

/* ---- Core operations --------------------------------------------------- */

/// An empty dictionary: 512 buckets, case-insensitive names, encoding not
/// yet known, not dirty. Never NULL (allocation failure panics).
Dictionary *Dictionary_Create(void);
/// numBuckets: 0 for 512, else a power of two (the index grows with the
/// entry count); caseSensitive: compare names exactly.
Dictionary *Dictionary_CreateEx(uint32 numBuckets, Bool caseSensitive);
/// Clears and frees; accepts NULL.
void Dictionary_Free(Dictionary *dict);
/// Removes every entry and line, wiping texts; the encoding goes back to
/// not known; the dirty flag stays as it was.
void Dictionary_Clear(Dictionary *dict);

/// Typed lookup. Returns a pointer to the value (see the type list above),
/// or to a constant for an absent name whose default is zero, a TRUE
/// boolean or a -1 integer. An absent name with another default becomes a
/// remembered default: an entry holding a copy of the default, found by
/// later lookups whatever their default. An untyped entry is converted to
/// the type, falling back to the default when its text does not parse.
const void *Dictionary_Get(Dictionary *dict, const void *defaultValue, DictionaryValueType type,
                           const char *name);
/// Dictionary_Get with complaints about unparsable text put on msgs.
const void *Dictionary_GetEx(Dictionary *dict, const void *defaultValue, DictionaryValueType type,
                             const char *name, MsgList **msgs);
/// TRUE when any entry, remembered default included, has the name.
Bool Dictionary_IsDefined(Dictionary *dict, const char *name);
/// TRUE when no entry has the name or it is a remembered default.
Bool Dictionary_NotSet(Dictionary *dict, const char *name);
/// Typed store of the value at valuePtr (for texts, a pointer to the char *).
/// Storing a text (DICT_ANY) onto a typed entry parses it as that type;
/// complaints go to msgs (may be NULL).
void Dictionary_Set(Dictionary *dict, const void *valuePtr, DictionaryValueType type,
                    const char *name, MsgList **msgs);
/// Stores "name=value" as text: the name is the text before the first "=",
/// the value the rest (empty without "="). With failIfDefined an existing
/// name is complained about and left alone; returns FALSE then.
Bool Dictionary_SetFromString(Dictionary *dict, const char *text, Bool failIfDefined,
                              MsgList **msgs);
/// Removes the entry (and its file line); TRUE when one was removed.
Bool Dictionary_Unset(Dictionary *dict, const char *name);
/// Removes every entry whose name starts with prefix (any case); TRUE when
/// at least one was removed.
Bool Dictionary_UnsetPrefix(Dictionary *dict, const char *prefix);
/// TRUE when an entry name starts with prefix (any case).
Bool Dictionary_HasPrefix(Dictionary *dict, const char *prefix);
/// The value as text ("TRUE"/"FALSE", "%d", "%g", "DEFAULT", "%ld"), or NULL
/// when absent. Points into the entry.
const char *Dictionary_GetAsString(Dictionary *dict, const char *name);
/// Looks the name up as a string (remembering defaultText) and returns the
/// matching entry of choices (NULL-terminated, compared ignoring case) or
/// defaultText, complaining on msgs about a value that is not a choice.
const char *Dictionary_GetEnum(Dictionary *dict, const char *defaultText, const char **choices,
                               const char *name, MsgList **msgs);
/// Calls fn for each entry in creation order (remembered defaults only with
/// includeDefaults); returns the number of calls.
int Dictionary_Iterate(Dictionary *dict, DictionaryIterateFn fn, void *data, Bool includeDefaults);
/// The number of real entries (remembered defaults excluded).
uint32 Dictionary_Count(const Dictionary *dict);
/// The dirty flag, or TRUE when any entry is modified.
Bool Dictionary_IsDirty(const Dictionary *dict);
void Dictionary_MarkDirty(Dictionary *dict);
/// Marks the entry modified (and no longer a remembered default) and the
/// dictionary dirty. Returns the entry, or NULL when absent.
DictionaryEntry *Dictionary_MarkModified(Dictionary *dict, const char *name);
/// Logs every real entry at level 5 as DICT name = "value".
void Dictionary_Log(Dictionary *dict);

/* ---- Accessors with a formatted name ------------------------------------
 * The name is formatted into 1024 bytes (longer names are cut) and the core
 * operation runs without a message list. */

/// An owned copy (free) of the string value, or NULL when it is NULL.
char *Dictionary_GetString(Dictionary *dict, const char *defaultText, const char *fmt, ...)
    PRINTF_DECL(3, 4);
/// The boolean value; the default when absent. Never records a default.
Bool Dictionary_GetBool(Dictionary *dict, Bool defaultValue, const char *fmt, ...)
    PRINTF_DECL(3, 4);
int32 Dictionary_GetLong(Dictionary *dict, int32 defaultValue, const char *fmt, ...)
    PRINTF_DECL(3, 4);
int64 Dictionary_GetInt64(Dictionary *dict, int64 defaultValue, const char *fmt, ...)
    PRINTF_DECL(3, 4);
double Dictionary_GetDouble(Dictionary *dict, double defaultValue, const char *fmt, ...)
    PRINTF_DECL(3, 4);
void Dictionary_SetText(Dictionary *dict, const char *text, const char *fmt, ...) PRINTF_DECL(3, 4);
void Dictionary_SetString(Dictionary *dict, const char *text, const char *fmt, ...)
    PRINTF_DECL(3, 4);
void Dictionary_SetBool(Dictionary *dict, Bool value, const char *fmt, ...) PRINTF_DECL(3, 4);
void Dictionary_SetLong(Dictionary *dict, int32 value, const char *fmt, ...) PRINTF_DECL(3, 4);
void Dictionary_SetInt64(Dictionary *dict, int64 value, const char *fmt, ...) PRINTF_DECL(3, 4);
void Dictionary_SetDouble(Dictionary *dict, double value, const char *fmt, ...) PRINTF_DECL(3, 4);
Bool Dictionary_UnsetFormatted(Dictionary *dict, const char *fmt, ...) PRINTF_DECL(2, 3);
/// An owned copy (free) of the Dictionary_GetEnum result, or NULL.
char *Dictionary_GetEnumFormatted(Dictionary *dict, const char *defaultText, const char **choices,
                                  const char *fmt, ...) PRINTF_DECL(4, 5);

/* ==== Reading and writing files ==========================================
 * Declared by the file reader and writer (lib/user/dictionaryFile*.cpp). */

/* Encoding arguments are codes of the Unicode layer (lib/misc/unicode.h):
 * -1 the process default (the current locale's code set), 0 UTF-8. All
 * functions return TRUE on success; complaints go to msgs (may be NULL:
 * then they are dropped) or, for the forms without a list, are posted to
 * the user-message module (Msg_AppendMsgList). */

/// Reads the file at pathName ("-": standard input, "<stdin>" in complaints)
/// into dict, clearing it first when asked; a NULL path only clears. An
/// undeclared file is decoded with defaultEncoding (a UTF-8 byte-order mark
/// wins over a non-UTF-8 default). Fails on an unreadable file, a syntax
/// error, a name that is not ASCII, a bad or conflicting encoding, or
/// duplicate names (reported up to 100, then reading stops); entries stored
/// before a failure stay.
Bool Dictionary_Load(Dictionary *dict, const char *pathName, Bool clearFirst, int32 defaultEncoding,
                     MsgList **msgs);
/// Dictionary_Load, clearing first, in the process default; complaints posted.
Bool Dictionary_LoadAndClear(Dictionary *dict, const char *pathName);
/// Dictionary_Load, clearing first, in UTF-8 (message files); complaints posted.
Bool Dictionary_LoadUTF8AndClear(Dictionary *dict, const char *pathName);
/// Dictionary_Load, merging, in the process default; complaints posted.
Bool Dictionary_LoadAndMerge(Dictionary *dict, const char *pathName);
/// Clears dict and reads the open file fd from its start; leaves fd open
/// and at its start. pathName names it in complaints.
Bool Dictionary_LoadFd(Dictionary *dict, int fd, const char *pathName, int32 defaultEncoding,
                       MsgList **msgs);
/// Reads a NUL-terminated text (lines end as in files: "\n", "\r\n" or a
/// lone "\r"), clearing dict first unless appending. The text is not
/// changed. No byte-order mark and no limit on duplicates.
Bool Dictionary_LoadFromBuffer(Dictionary *dict, char *text, Bool append, int32 defaultEncoding,
                               MsgList **msgs);
/// Dictionary_LoadFromBuffer with the complaints posted and logged.
Bool Dictionary_LoadFromBufferAndPost(Dictionary *dict, char *text, Bool append,
                                      int32 defaultEncoding);
/// The encoding code of dict; -2 before one is known.
int32 Dictionary_GetEncoding(const Dictionary *dict);

/// Renders dict as file text: leading comments, an ".encoding" line, then
/// every kept line in order (untouched ones as read, changed entries
/// rendered afresh), then new entries in creation order. A value the
/// encoding cannot represent upgrades the dictionary to UTF-8. Returns the
/// NUL-terminated text in *text (owned by the caller, free) and its size
/// including the NUL in *size; FALSE (complaints posted) when an entry
/// cannot be written.
Bool Dictionary_WriteToBuffer(Dictionary *dict, char **text, size_t *size);
/// Saves dict to pathName: through pathName + "~" (created exclusively with
/// the target's mode, owner and group, then renamed over it), or in place
/// when that is impossible. A new file gets mode 0754 (less the umask).
/// Clears the modified and dirty flags on success. Complaints posted.
Bool Dictionary_Write(Dictionary *dict, const char *pathName);
/// The save through an open descriptor of pathName that Dictionary_Write
/// uses; after a rename *fd is replaced by a descriptor of the new file
/// (the old one is closed).
Bool Dictionary_WriteFd(Dictionary *dict, int *fd, const char *pathName, MsgList **msgs);
/// Sets the encoding used when writing; every text value is then rendered
/// afresh. FALSE, changing nothing, when a value cannot be represented or
/// the encoding is not supported.
Bool Dictionary_ChangeEncoding(Dictionary *dict, int32 encoding);
/// Puts "#!" + interpreter as the first line; FALSE when the first line
/// already begins with "#!".
Bool Dictionary_AddShebang(Dictionary *dict, const char *interpreter);
/// Adds to the file's mode each execute bit whose read bit is set; FALSE
/// (logged) when the file cannot be queried or changed.
Bool Dictionary_MakeExecutable(const char *pathName);

/* ==== End of reading and writing files ================================== */

#endif
