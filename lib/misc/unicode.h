/// The Unicode layer: encoding names and codes, validation, conversion to
/// and from UTF-8 and display escaping. UTF-8 and US-ASCII are handled
/// directly; every other encoding goes through ICU's converters, which are
/// loaded only on first use.
#ifndef LIB_MISC_UNICODE_H
#define LIB_MISC_UNICODE_H

#include <sys/types.h>

#include "lib/misc/basicTypes.h"

/// An encoding code. Non-negative codes name encodings; the fixed ones below
/// never change, others are handed out as names are first looked up.
typedef int32 StringEncoding;

#define STRING_ENCODING_UNKNOWN (-2) ///< no encoding (not yet known, or no such name)
#define STRING_ENCODING_DEFAULT (-1) ///< the code set of the current locale
#define STRING_ENCODING_UTF8 0
#define STRING_ENCODING_UTF16_LE 1
#define STRING_ENCODING_UTF16_BE 2
#define STRING_ENCODING_UTF16 3
#define STRING_ENCODING_UTF32_LE 4
#define STRING_ENCODING_UTF32_BE 5
#define STRING_ENCODING_UTF32 6
#define STRING_ENCODING_US_ASCII 7
#define STRING_ENCODING_ISO_8859_1 8

/// The code for an encoding name: IANA names and their aliases, compared as
/// ICU compares them (letter case, "-" and "_" do not matter). Returns
/// STRING_ENCODING_UNKNOWN when no encoding has that name.
StringEncoding Unicode_EncodingNameToEnum(const char *name);

/// TRUE when texts can be validated and converted in this encoding
/// (STRING_ENCODING_DEFAULT is resolved first).
Bool Unicode_IsEncodingSupported(StringEncoding encoding);

/// TRUE when the encoding writes the printable ASCII characters, tab and
/// the line ends as the single ASCII bytes, so that line-based text with
/// ASCII syntax can carry it (UTF-8, ISO-8859-x; not UTF-16 or EBCDIC).
Bool Unicode_IsEncodingAsciiCompatible(StringEncoding encoding);

/// The preferred (MIME, else IANA) name of an encoding, e.g. "UTF-8",
/// "US-ASCII", "ISO-8859-1"; STRING_ENCODING_DEFAULT is resolved first.
/// Returns a static text, or NULL for a code that names nothing.
const char *Unicode_EncodingEnumToName(StringEncoding encoding);

/// The name of the current locale's code set (LC_CTYPE) as the C library
/// gives it, e.g. "UTF-8" or "ANSI_X3.4-1968" for the C locale. Static text.
const char *Unicode_GetCurrentCodeSetName(void);

/// The encoding of the current locale's code set (LC_CTYPE); US-ASCII for
/// the C locale, and for a code set no converter knows.
StringEncoding Unicode_GetCurrentEncoding(void);

/// STRING_ENCODING_DEFAULT becomes the current encoding; others stay.
StringEncoding Unicode_ResolveEncoding(StringEncoding encoding);

/// TRUE when buf[0, length) is a valid byte sequence in the encoding. A
/// length of -1 means up to the first NUL byte.
Bool Unicode_IsBufferValid(const void *buf, ssize_t length, StringEncoding encoding);

/// Converts buf[0, length) from the encoding to a NUL-terminated UTF-8 text
/// owned by the caller (release with free). Returns NULL when the bytes are
/// not valid in the encoding or it is not supported.
char *Unicode_AllocWithLength(const void *buf, ssize_t length, StringEncoding encoding);

/// TRUE when every character of the UTF-8 text can be represented in the
/// encoding (FALSE also for text that is not valid UTF-8).
Bool Unicode_CanGetBytesWithEncoding(const char *utf8, StringEncoding encoding);

/// Converts a NUL-terminated UTF-8 text into the encoding. Returns the bytes,
/// NUL-terminated (NUL units for wide encodings) and owned by the caller,
/// with their count (without the terminator) in *length when it is not NULL;
/// NULL when a character cannot be represented or the text is not UTF-8.
char *Unicode_GetAllocBytes(const char *utf8, StringEncoding encoding, size_t *length);

/// Renders bytes for display: 0x00-0x1F, "\" and 0x7F-0xFF become "\x" and two
/// uppercase hex digits; other bytes stay. A length of -1 means up to the
/// first NUL. Returns a text owned by the caller (release with free).
char *Unicode_EscapeBuffer(const void *buf, ssize_t length);

#endif
