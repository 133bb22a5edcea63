/*
 * JSON output of fwdmaps: one document per run, built on the same record
 * decoders as the text form. The schema is documented in fwdmaps(1) and is
 * stable: fields may be added, none removed or changed in meaning.
 */
#pragma once

#include <linux/bpf.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tool/records.h"

class BpfMapRegistry;

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

/// {"map": name, "records": [...]}.
JsonValue MapDocument(const std::string &mapName, JsonValue records);
/// {"maps": [names...]}.
JsonValue MapListDocument(const std::vector<std::string> &names);

/// Writes `doc` on one line and a newline. Returns 0, or -1 when the stream
/// has failed.
int WriteJsonDocument(std::ostream &out, const JsonValue &doc);

/// Called once per record of a walk with the map's info record and the
/// bytes the walk holds (the key size from the info record, the value size
/// of the walk's buffer, per CPU for a per-CPU map).
using RecordVisitor = std::function<void(const struct bpf_map_info &, const RecordBytes &)>;

/// Walks map `name` of `registry` (maps open) and hands every record to
/// `visit`. Returns the walk's result: 0 at the end of the map, -1 when the
/// map has no descriptor or a buffer could not be allocated, otherwise a
/// negated errno. Shared with the metrics output.
int WalkRecords(BpfMapRegistry &registry, const std::string &name, const RecordVisitor &visit);

/// Writes "fwdmaps: <map>: map walk failed: <why>" for a failed walk.
void ReportWalkFailure(std::ostream &err, const std::string &name, int rc);

/// Warns once per map on `err` that records shorter than the layout needs
/// were skipped, as the text printers do.
class ShortRecordWarner
{
 public:
   explicit ShortRecordWarner(std::ostream &err) : mErr(err) {}
   void Warn(const std::string &name, const struct bpf_map_info &info, uint64_t needKey,
             uint64_t needValue);

 private:
   std::ostream &mErr;
   bool mWarned = false;
};

/// Decodes one bpf_fwd_stats record as the text printer does, reading the
/// possible-CPU count afresh (a count below 1 ends the process with 255).
/// A record too short for the count is skipped with `warner`: false.
bool DecodeStatsRecord(const struct bpf_map_info &info, const RecordBytes &bytes,
                       ShortRecordWarner &warner, FwdStatsRecord *out);

/// Pushes everything written to `out` to its device. Returns true when all
/// of it got there; otherwise says why on standard error and returns false.
using OutputFinisher = std::function<bool(std::ostream &out)>;

/// Flushes `out` and checks its state; the finisher for plain streams.
bool FinishStream(std::ostream &out);

/// Walks map `name` of `registry` (whose maps are open) and writes its
/// document to `out`, finished with `finish`; reasons for failures go to
/// `err` as "fwdmaps: <what>: <why>". The error log is collected as the text
/// listing collects it, and its records are deleted from the map only after
/// `finish` succeeded, through the registry's deletion path.
/// Returns the exit status: 0; 1 when the walk failed part way (the records
/// read so far are still written), the output failed (nothing is deleted) or
/// a deletion failed; 2 for a name that is not a map.
int WriteJsonMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish = FinishStream);
