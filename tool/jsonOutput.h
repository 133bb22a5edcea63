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

/// One record of each map as a JSON object. Ports are in host byte order,
/// unknown codes and indexes get a null name.
nlohmann::json LabelPortJson(const LabelPortRecord &r);
nlohmann::json WorkerPortJson(const WorkerPortRecord &r);
nlohmann::json FwdErrJson(const FwdErrRecord &r);
/// "index" (null when the map has no key), "name", "values" per CPU
/// position and their "total" (a float only if the sum exceeds 64 bits).
nlohmann::json FwdStatsJson(const FwdStatsRecord &r);
nlohmann::json ErrLogJson(const ErrLogRecord &r);

/// Error-log records ordered as the text listing orders them: byte-wise by
/// ErrLogKeyText, a later record replacing an earlier one with the same text.
using ErrLogListingMap = std::map<std::string, ErrLogRecord>;

/// {"map": name, "records": [...]}.
nlohmann::json MapDocument(const std::string &mapName, nlohmann::json records);
/// {"maps": [names...]}.
nlohmann::json MapListDocument(const std::vector<std::string> &names);

/// Writes `doc` on one line and a newline, then flushes. Returns 0, or -1
/// when the stream failed (the stream's state tells, errno may say why).
int WriteJsonDocument(std::ostream &out, const nlohmann::json &doc);

/// Called once per record of a walk with the map's info record and the
/// bytes the walk holds (the key size from the info record, the value size
/// of the walk's buffer, per CPU for a per-CPU map).
using RecordVisitor = std::function<void(const struct bpf_map_info &, const RecordBytes &)>;

/// Walks map `name` of `registry` (maps open) and hands every record to
/// `visit`. Returns the walk's result: 0 at the end of the map, -1 when the
/// map has no descriptor or a buffer could not be allocated, otherwise a
/// negated errno. Shared with the metrics output.
int WalkRecords(BpfMapRegistry &registry, const std::string &name, const RecordVisitor &visit);

/// Writes "fwdmaps: <map>: <why>" for a failed walk (result of WalkRecords).
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

/// Walks map `name` of `registry` (whose maps are open) and writes its
/// document to `out`; reasons for failures go to `err` as
/// "fwdmaps: <what>: <why>". For bpf_fwd_err_log the records are deleted
/// from the map only after the document was written and flushed.
/// Returns the exit status: 0; 1 when the walk failed part way (the records
/// read so far are still written), the output failed (nothing is deleted) or
/// a deletion failed; 2 for a name that is not a map.
int WriteJsonMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out,
                 std::ostream &err);
