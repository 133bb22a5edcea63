// The registry's record printers: decode with the size checks of
// records.h, then write the text form. Every line ends with std::endl, so
// the stream decides when bytes leave the process.
#include <ostream>
#include <utility>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "tool/records.h"

namespace {

RecordBytes BytesOf(const struct bpf_map_info &info, const void *key, const void *value)
{
   return RecordBytes{key, info.key_size, value, info.value_size};
}

// Writes `text` line by line, each with std::endl.
void WriteLines(std::ostream &os, const std::string &text)
{
   size_t start = 0;
   while (start < text.size()) {
      size_t nl = text.find('\n', start);
      if (nl == std::string::npos) {
         nl = text.size();
      }
      os.write(text.data() + start, static_cast<std::streamsize>(nl - start));
      os << std::endl;
      start = nl + 1;
   }
}

} // namespace

void BpfMapRegistry::printLabelPortMap(std::ostream &os, const struct bpf_map_info &info,
                                       const void *key, const void *value)
{
   LabelPortRecord r;
   if (!DecodeLabelPort(BytesOf(info, key, value), &r)) {
      WarnShortRecord(kLabelPortMapName, info, kLabelPortKeyBytes, kLabelPortValueBytes);
      return;
   }
   // Written with stream manipulators so the stream is left in decimal.
   os << "label :0x" << std::hex << r.label << "\t"
      << "port : " << std::dec << r.port << std::endl;
}

void BpfMapRegistry::printWorkerPortMap(std::ostream &os, const struct bpf_map_info &info,
                                        const void *key, const void *value)
{
   WorkerPortRecord r;
   if (!DecodeWorkerPort(BytesOf(info, key, value), &r)) {
      WarnShortRecord(kWorkerPortMapName, info, kWorkerPortKeyBytes, kWorkerPortValueBytes);
      return;
   }
   os << "worker bind port: " << std::dec << r.port << std::endl;
}

void BpfMapRegistry::printFwdErr(std::ostream &os, const struct bpf_map_info &info, const void *key,
                                 const void *value)
{
   FwdErrRecord r;
   if (!DecodeFwdErr(BytesOf(info, key, value), &r)) {
      WarnShortRecord(kFwdErrMapName, info, kFwdErrKeyBytes, kFwdErrValueBytes);
      return;
   }
   WriteLines(os, FormatFwdErr(r));
}

void BpfMapRegistry::printFwdStats(std::ostream &os, const struct bpf_map_info &info,
                                   const void *key, const void *value)
{
   int cpus = get_possible_cpus();
   if (cpus < 1) {
      PossibleCpusFatal(cpus);
   }
   // Outside a walk nobody vouches for the value buffer: read no counters.
   RecordBytes bytes{key, info.key_size, value, mValueBufLen};
   FwdStatsRecord r;
   if (!DecodeFwdStats(bytes, info.value_size, cpus, &r)) {
      uint64_t slot = ((static_cast<uint64_t>(info.value_size) + 7) / 8) * 8;
      WarnShortRecord(kFwdStatsMapName, info, info.key_size == 0 ? 0 : kFwdStatsKeyBytes,
                      (slot < kFwdStatsCounterBytes ? kFwdStatsCounterBytes : slot) * cpus);
      return;
   }
   WriteLines(os, FormatFwdStats(r));
}

void BpfMapRegistry::printFwdErrLog(std::ostream &os, const struct bpf_map_info &info,
                                    const void *key, const void *value)
{
   ErrLogRecord r;
   if (!DecodeErrLog(BytesOf(info, key, value), &r)) {
      WarnShortRecord(kFwdErrLogMapName, info, kErrLogKeyBytes, kErrLogValueBytes);
      return;
   }
   WriteLines(os, FormatErrLogRaw(r));
   // The listing keeps the later of two records with the same key text;
   // the earlier one is not shown, so it must stay in the map.
   const unsigned char *k = static_cast<const unsigned char *>(key);
   std::vector<unsigned char> bytes(k, k + info.key_size);
   auto known = mErrLogKeyIndex.emplace(ErrLogKeyText(r), mErrLogKeys.size());
   if (known.second) {
      mErrLogKeys.push_back(std::move(bytes));
   } else {
      mErrLogKeys[known.first->second] = std::move(bytes);
   }
}
