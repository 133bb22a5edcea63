/// --key: the one record of a port map under one key, read with a single
/// BPF_MAP_LOOKUP_ELEM rather than a walk, for maps too large to print.
#ifndef TOOL_KEYLOOKUP_H
#define TOOL_KEYLOOKUP_H

#include <ostream>
#include <string>

#include "bpfproxy/bpfMapRegistry.h"
#include "tool/mapDump.h"

/// Looks up `keyText` (CheckOptionsForMap accepted it) in map `name`,
/// label_port_map or worker_port_map, of `registry` (maps open) and writes
/// the record as the map's listing does, or with `json` as the map's
/// document holding that record alone; `finish` pushes it out. A key the
/// map does not hold is said on `err` as "fwdmaps: label 0x2a: not in
/// label_port_map" (or "port 8080" for worker ports) with nothing on `out`.
/// Returns kStatusOk, kStatusFailed for an absent key, a failed look-up or
/// output, or kStatusUsage for a map or key it does not take.
int WriteKeyRecord(BpfMapRegistry &registry, const std::string &name, const std::string &keyText,
                   bool json, std::ostream &out, std::ostream &err, const OutputFinisher &finish);

#endif
