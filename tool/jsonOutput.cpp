#include "tool/jsonOutput.h"

#include <string.h>

#include <cerrno>
#include <iostream>
#include <sstream>

#include "bpfproxy/bpfMapRegistry.h"
#include "bpfproxy/bpfSyscall.h"
#include "tool/errLogListing.h"

using json = JsonValue;

namespace {

json NameOrNull(const char *name)
{
   return name != nullptr ? json(name) : json(nullptr);
}

// The counter labels end in ": " for the text form; the name is the words.
json StatsName(uint32_t index)
{
   const char *label = FwdStatsLabel(index);
   if (label == nullptr) {
      return nullptr;
   }
   std::string name(label);
   while (!name.empty() && (name.back() == ' ' || name.back() == ':')) {
      name.pop_back();
   }
   return name;
}

json StatsDocument(BpfMapRegistry &registry, std::ostream &err, int *rc)
{
   json records = json::array();
   ShortRecordWarner warner(err);
   *rc = WalkRecords(registry, kFwdStatsMapName,
                     [&](const struct bpf_map_info &info, const RecordBytes &bytes) {
                        FwdStatsRecord r;
                        if (DecodeStatsRecord(info, bytes, warner, &r)) {
                           records.push_back(FwdStatsJson(r));
                        }
                     });
   return MapDocument(kFwdStatsMapName, std::move(records));
}

template <typename Record>
json SimpleDocument(BpfMapRegistry &registry, const char *name, std::ostream &err,
                    bool (*decode)(const RecordBytes &, Record *), json (*toJson)(const Record &),
                    uint32_t needKey, uint32_t needValue, int *rc)
{
   json records = json::array();
   ShortRecordWarner warner(err);
   *rc =
       WalkRecords(registry, name, [&](const struct bpf_map_info &info, const RecordBytes &bytes) {
          Record r;
          if (!decode(bytes, &r)) {
             warner.Warn(name, info, needKey, needValue);
             return;
          }
          records.push_back(toJson(r));
       });
   return MapDocument(name, std::move(records));
}

// The error log is collected exactly as the text listing collects it: the
// registry's printer writes the raw lines and remembers the keys it printed,
// which DeleteListedErrLogRecords deletes once the output is safe.
json ErrLogDocument(BpfMapRegistry &registry, int *rc)
{
   std::stringstream raw;
   *rc = registry.DumpMap(raw, kFwdErrLogMapName);

   ErrLogListing listing;
   ReadErrLogListing(raw, &listing);
   json records = json::array();
   for (const auto &entry : listing) {
      records.push_back(ErrLogJson(entry.second));
   }
   return MapDocument(kFwdErrLogMapName, std::move(records));
}

} // namespace

json LabelPortJson(const LabelPortRecord &r)
{
   return json{{"label", r.label}, {"port", r.port}};
}

json WorkerPortJson(const WorkerPortRecord &r)
{
   return json{{"port", r.port}};
}

json FwdErrJson(const FwdErrRecord &r)
{
   return json{{"code", r.code}, {"name", NameOrNull(FwdErrName(r.code))}, {"count", r.count}};
}

json FwdStatsJson(const FwdStatsRecord &r)
{
   json doc;
   doc["index"] = r.hasIndex ? json(r.index) : json(nullptr);
   doc["name"] = r.hasIndex ? StatsName(r.index) : json(nullptr);
   unsigned __int128 total = 0;
   for (uint64_t v : r.perCpu) {
      total += v;
   }
   doc["values"] = r.perCpu;
   if (total <= UINT64_MAX) {
      doc["total"] = static_cast<uint64_t>(total);
   } else {
      doc["total"] = static_cast<double>(total);
   }
   return doc;
}

json ErrLogJson(const ErrLogRecord &r)
{
   return json{{"time_ns", r.timeNs},  {"extra_id", r.extraId}, {"ip_ver", r.ipv4 ? 4 : 6},
               {"sip", r.sip},         {"dip", r.dip},          {"err", r.err},
               {"l4proto", r.l4proto}, {"sport", r.sport},      {"dport", r.dport}};
}

json MapDocument(const std::string &mapName, json records)
{
   return json{{"map", mapName}, {"records", std::move(records)}};
}

json MapListDocument(const std::vector<std::string> &names)
{
   return json{{"maps", names}};
}

int WriteJsonDocument(std::ostream &out, const json &doc)
{
   out << doc.dump() << '\n';
   return out ? 0 : -1;
}

bool FinishStream(std::ostream &out)
{
   errno = 0;
   out.flush();
   if (out) {
      return true;
   }
   int e = errno;
   std::cerr << "fwdmaps: standard output: " << (e != 0 ? strerror(e) : "write failed")
             << std::endl;
   return false;
}

int WalkRecords(BpfMapRegistry &registry, const std::string &name, const RecordVisitor &visit)
{
   int fd = registry.GetMapFd(name);
   if (fd < 0) {
      return -1;
   }
   std::ostringstream unused;
   return MapWalk(
       fd,
       [&](std::ostream &, const struct bpf_map_info &info, const void *key, const void *value,
           uint64_t valueBufLen) {
          visit(info, RecordBytes{key, info.key_size, value, valueBufLen});
       },
       unused);
}

void ReportWalkFailure(std::ostream &err, const std::string &name, int rc)
{
   // Worded as the text form words it.
   err << "fwdmaps: " << name << ": map walk failed: " << strerror(-rc) << std::endl;
}

void ShortRecordWarner::Warn(const std::string &name, const struct bpf_map_info &info,
                             uint64_t needKey, uint64_t needValue)
{
   if (mWarned) {
      return;
   }
   mWarned = true;
   mErr << "fwdmaps: " << name << ": skipping records shorter than " << needKey << "-byte key and "
        << needValue << "-byte value (map has " << info.key_size << "-byte key and "
        << info.value_size << "-byte value)" << std::endl;
}

bool DecodeStatsRecord(const struct bpf_map_info &info, const RecordBytes &bytes,
                       ShortRecordWarner &warner, FwdStatsRecord *out)
{
   int cpus = get_possible_cpus();
   if (cpus < 1) {
      PossibleCpusFatal(cpus);
   }
   if (DecodeFwdStats(bytes, info.value_size, cpus, out)) {
      return true;
   }
   uint64_t slot = (static_cast<uint64_t>(info.value_size) + 7) / 8 * 8;
   if (slot < kFwdStatsCounterBytes) {
      slot = kFwdStatsCounterBytes;
   }
   warner.Warn(kFwdStatsMapName, info, info.key_size == 0 ? 0 : kFwdStatsKeyBytes,
               slot * static_cast<uint64_t>(cpus));
   return false;
}

int WriteJsonMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish)
{
   int rc = 0;
   json doc;
   if (name == kLabelPortMapName) {
      doc = SimpleDocument<LabelPortRecord>(registry, kLabelPortMapName, err, DecodeLabelPort,
                                            LabelPortJson, kLabelPortKeyBytes, kLabelPortValueBytes,
                                            &rc);
   } else if (name == kWorkerPortMapName) {
      doc = SimpleDocument<WorkerPortRecord>(registry, kWorkerPortMapName, err, DecodeWorkerPort,
                                             WorkerPortJson, kWorkerPortKeyBytes,
                                             kWorkerPortValueBytes, &rc);
   } else if (name == kFwdErrMapName) {
      doc = SimpleDocument<FwdErrRecord>(registry, kFwdErrMapName, err, DecodeFwdErr, FwdErrJson,
                                         kFwdErrKeyBytes, kFwdErrValueBytes, &rc);
   } else if (name == kFwdStatsMapName) {
      doc = StatsDocument(registry, err, &rc);
   } else if (name == kFwdErrLogMapName) {
      doc = ErrLogDocument(registry, &rc);
   } else {
      err << "fwdmaps: " << name << ": no such map" << std::endl;
      return 2;
   }

   int status = 0;
   if (rc != 0) {
      ReportWalkFailure(err, name, rc);
      status = 1;
   }
   WriteJsonDocument(out, doc);
   if (!finish(out)) {
      if (name == kFwdErrLogMapName) {
         err << "fwdmaps: " << kFwdErrLogMapName << ": no record deleted" << std::endl;
      }
      return 1;
   }
   if (name == kFwdErrLogMapName && registry.DeleteListedErrLogRecords(err) != 0) {
      status = 1;
   }
   return status;
}
