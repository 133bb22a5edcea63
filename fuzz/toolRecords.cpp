// The tool's decoders and parsers on arbitrary bytes: records of any size
// handed over by the walk, raw error-log lines and possible-CPU files. What
// is decoded must read back whole from every form the tool writes: JSON
// documents and metrics samples, unnamed codes, keyless records and totals
// beyond 64 bits included.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bpfproxy/bpfSyscall.h"
#include "tool/jsonOutput.h"
#include "tool/metricsOutput.h"
#include "tool/records.h"

namespace {

void Check(bool ok)
{
   if (!ok) {
      __builtin_trap();
   }
}

template <typename T> T Load(const std::vector<uint8_t> &bytes, size_t offset)
{
   T v;
   memcpy(&v, bytes.data() + offset, sizeof v);
   return v;
}

// The document as a reader parses it from the line the tool writes.
JsonValue ReadBack(const JsonValue &doc)
{
   std::ostringstream out;
   Check(WriteJsonDocument(out, doc) == 0);
   std::string line = out.str();
   Check(!line.empty() && line.find('\n') == line.size() - 1);
   return JsonValue::parse(line);
}

// The values of the samples (lines that are not comments) of an exposition,
// in order; a sample is a name, optional labels and a decimal value, never a
// time stamp.
std::vector<unsigned __int128> SampleValues(const std::string &text)
{
   std::vector<unsigned __int128> values;
   std::istringstream in(text);
   for (std::string line; std::getline(in, line);) {
      if (line[0] == '#') {
         continue;
      }
      size_t space = line.rfind(' ');
      Check(space != std::string::npos && line.find(' ', line.rfind('}') + 1) == space);
      unsigned __int128 v = 0;
      Check(space + 1 < line.size());
      for (size_t i = space + 1; i < line.size(); i++) {
         Check(line[i] >= '0' && line[i] <= '9');
         v = v * 10 + static_cast<unsigned>(line[i] - '0');
      }
      values.push_back(v);
   }
   return values;
}

void CheckStats(const std::vector<uint8_t> &key, const std::vector<uint8_t> &value,
                uint32_t elemSize, int cpus)
{
   // Slots of the element size rounded up to 8 bytes, one per CPU; no index
   // without a key, no counters without an element size.
   const size_t slot = (elemSize + 7) / 8 * 8;
   const bool fits = (key.empty() || key.size() >= 4) &&
                     (elemSize == 0 || (elemSize >= 8 && value.size() >= slot * cpus));
   FwdStatsRecord stats;
   RecordBytes rec{key.data(), key.size(), value.data(), value.size()};
   Check(DecodeFwdStats(rec, elemSize, cpus, &stats) == fits);
   if (!fits) {
      return;
   }
   Check(stats.hasIndex == !key.empty() && (key.empty() || stats.index == Load<uint32_t>(key, 0)));
   Check(stats.perCpu.size() == (elemSize == 0 ? 0u : static_cast<size_t>(cpus)));
   unsigned __int128 sum = 0;
   for (size_t i = 0; i < stats.perCpu.size(); i++) {
      Check(stats.perCpu[i] == Load<uint64_t>(value, slot * i));
      sum += stats.perCpu[i];
   }
   FormatFwdStats(stats);

   JsonValue doc = ReadBack(FwdStatsJson(stats));
   Check(doc["index"].is_null() == !stats.hasIndex && doc["values"] == JsonValue(stats.perCpu));
   Check(doc["name"].is_null() == (!stats.hasIndex || FwdStatsLabel(stats.index) == nullptr));
   Check(sum > UINT64_MAX ? doc["total"] == static_cast<double>(sum)
                          : doc["total"] == static_cast<uint64_t>(sum));

   // Per CPU, then the exact sum; nothing for a record no counter names.
   std::vector<unsigned __int128> samples = SampleValues(FwdStatsMetrics({stats}));
   std::vector<unsigned __int128> expected;
   if (stats.hasIndex && FwdStatsLabel(stats.index) != nullptr && !stats.perCpu.empty()) {
      expected.assign(stats.perCpu.begin(), stats.perCpu.end());
      expected.push_back(sum);
   }
   Check(samples == expected);
}

void CheckErr(const FwdErrRecord &err)
{
   FormatFwdErr(err);
   JsonValue doc = ReadBack(FwdErrJson(err));
   Check(doc["code"] == err.code && doc["count"] == err.count);
   const char *name = FwdErrName(err.code);
   Check(name != nullptr ? doc["name"] == name : doc["name"].is_null());
   std::vector<unsigned __int128> samples = SampleValues(FwdErrMetrics({err}));
   Check(name != nullptr ? samples == std::vector<unsigned __int128>{err.count} : samples.empty());
}

// The collection gauges: the time in seconds with exactly three decimals,
// cut rather than rounded, and the success as 1 or 0; no time stamps.
void CheckCollection(const std::vector<uint8_t> &value)
{
   if (value.size() < 16) {
      return;
   }
   struct timespec when = {};
   when.tv_sec = static_cast<time_t>(Load<uint64_t>(value, 0) & INT64_MAX);
   when.tv_nsec = static_cast<long>(Load<uint64_t>(value, 8) % 1000000000);
   const bool success = value[0] & 1;
   std::string text = CollectionMetrics(success, when);
   const std::string name = "\nfwdmaps_last_collection_timestamp_seconds ";
   size_t at = text.find(name);
   Check(at != std::string::npos);
   long long seconds = -1;
   int point = 0, end = 0;
   unsigned millis = 0;
   Check(sscanf(text.c_str() + at + name.size(), "%lld%n.%3u%n", &seconds, &point, &millis, &end) ==
         2);
   Check(seconds == when.tv_sec && millis == when.tv_nsec / 1000000 && end == point + 4 &&
         text[at + name.size() + end] == '\n');
   const std::string rest = text.substr(at + name.size() + end + 1);
   Check(SampleValues(rest) == std::vector<unsigned __int128>{success ? 1u : 0u});
}

// --key text: a label is one to eight hexadecimal digits of either case
// after an optional 0x, a port decimal digits only up to 65535, leading
// zeros allowed; anything else is refused.
void CheckKeys(const std::string &text)
{
   const size_t start = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 2 : 0;
   const std::string digits = text.substr(start);
   const bool hex = !digits.empty() && digits.size() <= 8 &&
                    digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
   uint32_t label = 0;
   Check(ParseLabelKey(text, &label) == hex);
   Check(!hex || label == strtoul(digits.c_str(), nullptr, 16));

   const size_t first = text.find_first_not_of('0');
   const std::string significant = first == std::string::npos ? "0" : text.substr(first);
   const bool decimal = !text.empty() && significant.size() <= 5 &&
                        text.find_first_not_of("0123456789") == std::string::npos &&
                        strtoul(significant.c_str(), nullptr, 10) <= UINT16_MAX;
   uint16_t port = 0;
   Check(ParsePortKey(text, &port) == decimal);
   Check(!decimal || port == strtoul(significant.c_str(), nullptr, 10));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size < 2) {
      return 0;
   }
   // First byte: key size; the rest, cut there, is key and value. Copies
   // make the buffers exactly as large as claimed, so ASan sees any overread.
   size_t keySize = data[0] % 24;
   const uint8_t *rest = data + 1;
   size_t restSize = size - 1;
   if (keySize > restSize) {
      keySize = restSize;
   }
   std::vector<uint8_t> key(rest, rest + keySize);
   std::vector<uint8_t> value(rest + keySize, rest + restSize);
   RecordBytes rec{key.data(), key.size(), value.data(), value.size()};

   LabelPortRecord label;
   if (DecodeLabelPort(rec, &label)) {
      char want[64];
      snprintf(want, sizeof want, "label :0x%" PRIx32 "\tport : %" PRIu16 "\n", label.label,
               label.port);
      if (FormatLabelPort(label) != want) {
         __builtin_trap(); // the hand-made digits must be printf's, byte for byte
      }
   }
   WorkerPortRecord worker;
   if (DecodeWorkerPort(rec, &worker)) {
      FormatWorkerPort(worker);
   }
   FwdErrRecord err;
   if (DecodeFwdErr(rec, &err)) {
      CheckErr(err);
   }
   CheckStats(key, value, data[0] % 24, 1 + data[size - 1] % 8);
   CheckCollection(value);
   ErrLogRecord log;
   if (DecodeErrLog(rec, &log)) {
      std::string raw = FormatErrLogRaw(log);
      raw.pop_back();
      ErrLogRecord back;
      if (!ParseErrLogRaw(raw, &back) || FormatErrLogEntry(back) != FormatErrLogEntry(log)) {
         __builtin_trap(); // a raw line must read back as the record it came from
      }
   }

   std::string text(reinterpret_cast<const char *>(data), size);
   ErrLogRecord parsed;
   if (ParseErrLogRaw(text, &parsed)) {
      FormatErrLogEntry(parsed);
   }
   std::istringstream cpus(text);
   CountPossibleCpus(cpus);
   CheckKeys(text);
   return 0;
}
