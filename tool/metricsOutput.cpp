#include "tool/metricsOutput.h"

#include <stdio.h>

namespace {

// Label values are fixed words today; escape anyway so a future name can
// never break the exposition format.
std::string EscapeLabel(const std::string &value)
{
   std::string out;
   for (char c : value) {
      if (c == '\\' || c == '"') {
         out += '\\';
         out += c;
      } else if (c == '\n') {
         out += "\\n";
      } else {
         out += c;
      }
   }
   return out;
}

// "rx end bytes: " -> "rx_end".
std::string CounterLabel(uint32_t index)
{
   std::string label = FwdStatsLabel(index);
   const std::string suffix = " bytes: ";
   if (label.size() >= suffix.size() &&
       label.compare(label.size() - suffix.size(), suffix.size(), suffix) == 0) {
      label.erase(label.size() - suffix.size());
   }
   for (char &c : label) {
      if (c == ' ') {
         c = '_';
      }
   }
   return label;
}

void Family(std::string &out, const char *name, const char *help, const char *type = "counter")
{
   out += "# HELP ";
   out += name;
   out += ' ';
   out += help;
   out += "\n# TYPE ";
   out += name;
   out += ' ';
   out += type;
   out += '\n';
}

} // namespace

std::string FwdStatsMetrics(const std::vector<FwdStatsRecord> &records)
{
   std::string out;
   Family(out, "bpf_fwd_stats_bytes_total", "Bytes counted by the forwarding proxy, per CPU.");
   for (const FwdStatsRecord &r : records) {
      if (!r.hasIndex || FwdStatsLabel(r.index) == nullptr) {
         continue;
      }
      std::string counter = EscapeLabel(CounterLabel(r.index));
      for (size_t cpu = 0; cpu < r.perCpu.size(); cpu++) {
         out += "bpf_fwd_stats_bytes_total{counter=\"" + counter + "\",cpu=\"" +
                std::to_string(cpu) + "\"} " + std::to_string(r.perCpu[cpu]) + "\n";
      }
   }
   Family(out, "bpf_fwd_stats_all_cpus_bytes_total",
          "Bytes counted by the forwarding proxy, all CPUs.");
   for (const FwdStatsRecord &r : records) {
      if (!r.hasIndex || FwdStatsLabel(r.index) == nullptr || r.perCpu.empty()) {
         continue;
      }
      out += "bpf_fwd_stats_all_cpus_bytes_total{counter=\"" + EscapeLabel(CounterLabel(r.index)) +
             "\"} " + DecimalText(FwdStatsTotal(r)) + "\n";
   }
   return out;
}

std::string FwdErrMetrics(const std::vector<FwdErrRecord> &records)
{
   std::string out;
   Family(out, "bpf_fwd_err_total", "Forwarding errors counted by the proxy, by kind.");
   for (const FwdErrRecord &r : records) {
      const char *name = FwdErrName(r.code);
      if (name == nullptr) {
         continue;
      }
      out += "bpf_fwd_err_total{code=\"" + std::to_string(r.code) + "\",error=\"" +
             EscapeLabel(name) + "\"} " + std::to_string(r.count) + "\n";
   }
   return out;
}

int WriteMetrics(BpfMapRegistry &registry, const std::vector<std::string> &names, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish)
{
   MapDump dump(registry, err);
   std::string text;
   bool complete = true;
   for (const std::string &name : names) {
      if (name == kFwdStatsMapName) {
         std::vector<FwdStatsRecord> records;
         complete &= dump.WalkDecoded<FwdStatsRecord>(
                         name, [&](const FwdStatsRecord &r) { records.push_back(r); }) == 0;
         text += FwdStatsMetrics(records);
      } else if (name == kFwdErrMapName) {
         std::vector<FwdErrRecord> records;
         complete &= dump.WalkDecoded<FwdErrRecord>(
                         name, [&](const FwdErrRecord &r) { records.push_back(r); }) == 0;
         text += FwdErrMetrics(records);
      } else {
         err << "fwdmaps: " << name << ": not offered with --prometheus" << std::endl;
         return kStatusUsage;
      }
   }
   text += CollectionMetrics(complete, CollectionTime());
   out << text;
   return dump.Finish(out, finish);
}

std::string CollectionMetrics(bool success, const struct timespec &when)
{
   std::string out;
   Family(out, "fwdmaps_last_collection_timestamp_seconds",
          "When fwdmaps last read the proxy's counters, in seconds since the epoch.", "gauge");
   char stamp[48];
   snprintf(stamp, sizeof stamp, "%lld.%03ld", static_cast<long long>(when.tv_sec),
            when.tv_nsec / 1000000);
   out += "fwdmaps_last_collection_timestamp_seconds ";
   out += stamp;
   out += '\n';
   Family(out, "fwdmaps_last_collection_success",
          "1 when fwdmaps last read every counter map whole, 0 when it could not.", "gauge");
   out += "fwdmaps_last_collection_success ";
   out += success ? "1\n" : "0\n";
   return out;
}

struct timespec CollectionTime()
{
   struct timespec now = {};
   clock_gettime(CLOCK_REALTIME, &now);
   return now;
}
