// The tool's decoders and parsers on arbitrary bytes: records of any size
// handed over by the walk, raw error-log lines and possible-CPU files.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bpfproxy/bpfSyscall.h"
#include "tool/records.h"

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
      FormatFwdErr(err);
   }
   FwdStatsRecord stats;
   if (DecodeFwdStats(rec, data[0] % 24, 1 + data[size - 1] % 8, &stats)) {
      FormatFwdStats(stats);
   }
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
   return 0;
}
