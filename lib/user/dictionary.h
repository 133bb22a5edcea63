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
/// anything else gives 0 with *invalid set. invalid is required.
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

/* ==== End of reading and writing files ================================== */

#endif
