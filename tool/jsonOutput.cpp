#include "tool/jsonOutput.h"

#include <utility>

#include "tool/errLogListing.h"

using json = JsonValue;

namespace {

json NameOrNull(const char *name)
{
   return name != nullptr ? json(name) : json(nullptr);
}

json StatsName(uint32_t index)
{
   std::string name = FwdStatsName(index);
   return name.empty() ? json(nullptr) : json(name);
}

// A map's records, each decoded as a `Record` and shown with `toJson`.
template <typename Record>
json Records(MapDump &dump, const std::string &name, json (*toJson)(const Record &))
{
   json records = json::array();
   dump.WalkDecoded<Record>(name, [&](const Record &r) { records.push_back(toJson(r)); });
   return records;
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
   doc["values"] = r.perCpu;
   doc["total"] = CounterTotalJson(FwdStatsTotal(r));
   return doc;
}

json CounterTotalJson(unsigned __int128 total)
{
   if (total <= UINT64_MAX) {
      return static_cast<uint64_t>(total);
   }
   return static_cast<double>(total);
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

int WriteJsonMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish)
{
   MapDump dump(registry, err);
   json records;
   if (name == kLabelPortMapName) {
      records = Records(dump, name, LabelPortJson);
   } else if (name == kWorkerPortMapName) {
      records = Records(dump, name, WorkerPortJson);
   } else if (name == kFwdErrMapName) {
      records = Records(dump, name, FwdErrJson);
   } else if (name == kFwdStatsMapName) {
      records = Records(dump, name, FwdStatsJson);
   } else if (name == kFwdErrLogMapName) {
      ErrLogListing listing;
      dump.CollectErrLog(&listing);
      records = json::array();
      for (const auto &entry : listing) {
         records.push_back(ErrLogJson(entry.second));
      }
   } else {
      err << "fwdmaps: " << name << ": no such map" << std::endl;
      return kStatusUsage;
   }
   WriteJsonDocument(out, MapDocument(name, std::move(records)));
   return dump.Finish(out, finish);
}
