/// The dictionary line syntax: name = "value" lines, comments and the "|"
/// escapes, read from buffers and streams and rendered back.
#ifndef LIB_DICT_DICTLL_H
#define LIB_DICT_DICTLL_H

#include <stdio.h>

#include <string>

#include "lib/misc/basicTypes.h"

/// DictLL_ReadLine results.
enum {
   DICTLL_READ_ERROR = 0, ///< the stream failed; errno says why
   DICTLL_READ_EOF = 1,   ///< no more lines
   DICTLL_READ_LINE = 2,  ///< a line was read
};

/// Parses the first line of buf[0, bufSize) (up to the first '\n' or the end).
/// Always sets *line to an owned copy of the line without its newline. Sets
/// *name and *value to owned texts (value with escapes undone) when the line
/// is an assignment, else to NULL. Returns the position after the line's
/// newline (buf + bufSize for a last line without one), or NULL with all
/// three outputs NULL when bufSize is 0. Release the texts with free.
const char *DictLL_UnmarshalLine(const char *buf, size_t bufSize, char **line, char **name,
                                 char **value);

/// Parses line[0, length) (no terminator) alone: sets *name and *value to
/// owned texts and returns TRUE for an assignment; NULL and FALSE otherwise.
Bool DictLL_ParseLine(const char *line, size_t length, char **name, char **value);

/// Where the parts of an assignment lie within its line.
typedef struct DictLLSpans
{
   size_t nameStart, nameLength;
   size_t valueStart, valueLength; ///< The raw value: quotes off, escapes kept.
} DictLLSpans;

/// As DictLL_ParseLine, but copies nothing: fills *spans and returns TRUE for
/// an assignment, FALSE otherwise.
Bool DictLL_ScanLine(const char *line, size_t length, DictLLSpans *spans);

/// An owned copy of raw[0, length) with the "|" escapes undone (a "|"
/// without two hex digits stays). Release it with free.
char *DictLL_UnescapeValue(const char *raw, size_t length);

/// Reads one line from stream. A line ends at "\n", "\r\n", a lone "\r" or
/// the end of the stream; the terminator is not part of it and there is no
/// length limit. Outputs as for DictLL_UnmarshalLine (all NULL unless a line
/// was read). Returns DICTLL_READ_LINE, DICTLL_READ_EOF or DICTLL_READ_ERROR.
int DictLL_ReadLine(FILE *stream, char **line, char **name, char **value);

/// Appends one rendered line to *output: name = "escaped value" and a
/// newline, or, with a NULL name, the value unchanged and a newline.
/// A NULL value counts as empty. Returns TRUE.
Bool DictLL_MarshalLine(std::string *output, const char *name, const char *value);

/// Writes the line DictLL_MarshalLine renders to stream. Returns TRUE when all
/// of it was written; FALSE with errno set otherwise.
Bool DictLL_WriteLine(FILE *stream, const char *name, const char *value);

/// Consumes a UTF-8 byte-order mark (EF BB BF) at the start of stream and
/// returns TRUE; otherwise leaves the stream at its start and returns FALSE.
/// Standard input is never examined (FALSE).
Bool DictLL_ReadUTF8BOM(FILE *stream);

#endif
