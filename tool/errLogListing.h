/// The connection error log as it is listed: raw lines read back, ordered
/// by the byte-wise order of their "<time_ns>:<extra_id>" text.
#ifndef TOOL_ERRLOGLISTING_H
#define TOOL_ERRLOGLISTING_H

#include <cstddef>
#include <istream>
#include <map>
#include <ostream>
#include <string>

#include "tool/records.h"

/// Key text -> record; std::string's ordering is the listing order.
using ErrLogListing = std::map<std::string, ErrLogRecord>;

/// Reads raw lines from `in` until it is exhausted, storing each record
/// under its key text (a later line replaces an earlier one with the same
/// text). Returns the number of lines that were not raw records.
size_t ReadErrLogListing(std::istream &in, ErrLogListing *listing);

/// Writes one labelled line per entry in key order, each with std::endl.
void WriteErrLogListing(std::ostream &os, const ErrLogListing &listing);

#endif
