/// The one path of every output form through the maps: the walk, records
/// too short for their layout, a failed walk, the output finished before any
/// error-log record is deleted, and the exit status. The text, JSON and
/// metrics forms are printers on top of it. Not thread safe.
#ifndef TOOL_MAPDUMP_H
#define TOOL_MAPDUMP_H

#include <linux/bpf.h>

#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "tool/errLogListing.h"
#include "tool/records.h"

/// Exit statuses of fwdmaps.
constexpr int kStatusOk = 0;
constexpr int kStatusFailed = 1;       ///< a walk, the output or an error-log deletion failed
constexpr int kStatusUsage = 2;        ///< unknown option or map name
constexpr int kStatusOpenFailed = 255; ///< the maps could not be opened

/// Pushes everything written to `out` to its place (OutputTarget::Finish
/// for a run). Returns true when all of it got there; otherwise has said
/// why and returns false.
using OutputFinisher = std::function<bool(std::ostream &out)>;

/// Called once per record with the map's info record and the bytes the walk
/// holds (the key size from the info record, the value size of the walk's
/// buffer, per CPU for a per-CPU map).
using RecordVisitor = std::function<void(const struct bpf_map_info &, const RecordBytes &)>;

/// One run's dump of a registry whose maps are open.
class MapDump
{
 public:
   /// Reasons for failures and warnings go to `err` as "fwdmaps: <what>: <why>".
   MapDump(BpfMapRegistry &registry, std::ostream &err);
   MapDump(const MapDump &) = delete;
   MapDump &operator=(const MapDump &) = delete;

   /// Walks map `name` with `printer`, which the registry holds for the walk,
   /// into `os`. A failed walk is reported and fails the run. Returns the
   /// walk's result (BpfMapRegistry::DumpMap).
   int Walk(const std::string &name, std::ostream &os, const MapRecordPrinter &printer);
   /// The same, handing each record's bytes to `visit`.
   int Walk(const std::string &name, const RecordVisitor &visit);
   /// The same, handing each record that decodes as a `Record` (Decode
   /// below) to `use`.
   template <typename Record>
   int WalkDecoded(const std::string &name, const std::function<void(const Record &)> &use)
   {
      return Walk(name, [this, &use](const struct bpf_map_info &info, const RecordBytes &bytes) {
         Record r;
         if (Decode(info, bytes, &r)) {
            use(r);
         }
      });
   }

   /// The decoders of records.h, with the short-record warning: a record
   /// shorter than its layout is refused (false) and the first one of each
   /// map is named on `err`. The statistics read the possible-CPU count
   /// once per walk, at its first record (afresh on each call outside a
   /// walk); a count below 1 ends the process with 255.
   bool Decode(const struct bpf_map_info &info, const RecordBytes &bytes, LabelPortRecord *out);
   bool Decode(const struct bpf_map_info &info, const RecordBytes &bytes, WorkerPortRecord *out);
   bool Decode(const struct bpf_map_info &info, const RecordBytes &bytes, FwdErrRecord *out);
   bool Decode(const struct bpf_map_info &info, const RecordBytes &bytes, FwdStatsRecord *out);
   bool Decode(const struct bpf_map_info &info, const RecordBytes &bytes, ErrLogRecord *out);

   /// Walks the error log into `listing`: raw lines read back, ordered by
   /// their key text. Deletes nothing; remembers the key of every record the
   /// listing shows (of two with the same key text, the later). Returns the
   /// walk's result.
   int CollectErrLog(ErrLogListing *listing);

   /// Finishes the output with `finish`. After CollectErrLog, deletes the
   /// listed records only when that succeeded ("no record deleted"
   /// otherwise), each failed deletion named on `err`. Returns kStatusOk, or
   /// kStatusFailed when a walk, the output or a deletion failed.
   int Finish(std::ostream &out, const OutputFinisher &finish);

 private:
   /// Returns `decoded`; names the first short record of each map.
   bool Decoded(bool decoded, const char *mapName, const struct bpf_map_info &info,
                uint64_t needKey, uint64_t needValue);
   /// Deletes the remembered error-log keys; returns the failed count.
   int DeleteListedErrLog();

   BpfMapRegistry &mRegistry;
   std::ostream &mErr;
   int mStatus = kStatusOk;
   /// The possible-CPU count of the walk under way: 0 until its first
   /// statistics record read it, -1 outside a walk.
   int mWalkCpus = -1;
   std::set<std::string> mShortWarned;
   bool mErrLogListed = false;
   std::vector<std::vector<unsigned char>> mErrLogKeys;
   /// Key text ("<time_ns>:<extra_id>") -> position in mErrLogKeys.
   std::map<std::string, size_t> mErrLogKeyIndex;
};

#endif
