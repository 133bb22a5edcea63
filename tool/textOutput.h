/// The tool's fixed text form: the list of map names, one printer per map
/// on the record formatters of records.h, and the sorted error-log listing.
#ifndef TOOL_TEXTOUTPUT_H
#define TOOL_TEXTOUTPUT_H

#include <ostream>
#include <string>

#include "bpfproxy/bpfMapRegistry.h"
#include "tool/mapDump.h"

/// "list all maps: ", each name and a tab, then a newline.
void ListMaps(const BpfMapRegistry &registry, std::ostream &out);

/// Prints map `name` of `registry` (maps open) on `out`, record by record,
/// each line ended with std::endl; the error log is listed sorted after the
/// whole map was read, and its listed records are deleted once `finish`
/// pushed the listing out. Reasons go to `err`. Returns the exit status
/// (MapDump::Finish), or kStatusUsage for a name that is not a map.
int WriteTextMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish);

#endif
