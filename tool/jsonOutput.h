/// JSON output of fwdmaps: one document per run, built on the same record
/// decoders as the text form. The schema is documented in fwdmaps(1) and is
/// stable: fields may be added, none removed or changed in meaning.
#ifndef TOOL_JSONOUTPUT_H
#define TOOL_JSONOUTPUT_H

#include <linux/bpf.h>

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bpfproxy/bpfMapRegistry.h"
#include "tool/mapDump.h"
#include "tool/records.h"

/// Objects keep their fields in the documented order, for readers' eyes.
using JsonValue = nlohmann::ordered_json;

/// One record of each map as a JSON object. Ports are in host byte order,
/// unknown codes and indexes get a null name.
JsonValue LabelPortJson(const LabelPortRecord &r);
JsonValue WorkerPortJson(const WorkerPortRecord &r);
JsonValue FwdErrJson(const FwdErrRecord &r);
/// "index" (null when the map has no key), "name", "values" per CPU
/// position and their "total" (a float only if the sum exceeds 64 bits).
JsonValue FwdStatsJson(const FwdStatsRecord &r);
JsonValue ErrLogJson(const ErrLogRecord &r);

/// A sum of counters: an exact integer, or a float only when it exceeds 64
/// bits.
JsonValue CounterTotalJson(unsigned __int128 total);

/// {"map": name, "records": [...]}.
JsonValue MapDocument(const std::string &mapName, JsonValue records);
/// {"maps": [names...]}.
JsonValue MapListDocument(const std::vector<std::string> &names);

/// Writes `doc` on one line and a newline. Returns 0, or -1 when the stream
/// has failed.
int WriteJsonDocument(std::ostream &out, const JsonValue &doc);

/// Walks map `name` of `registry` (whose maps are open) and writes its
/// document to `out`, finished with `finish`; reasons for failures go to
/// `err` as "fwdmaps: <what>: <why>". The error log is collected as the text
/// listing collects it, and its records are deleted from the map only after
/// `finish` succeeded.
/// Returns the exit status (MapDump::Finish; the records read before a walk
/// failed are still written), or kStatusUsage for a name that is not a map.
int WriteJsonMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish);

#endif
