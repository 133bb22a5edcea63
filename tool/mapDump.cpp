#include "tool/mapDump.h"

#include <string.h>

#include <algorithm>
#include <sstream>
#include <utility>

#include "bpfproxy/bpfSyscall.h"

MapDump::MapDump(BpfMapRegistry &registry, std::ostream &err) : mRegistry(registry), mErr(err) {}

int MapDump::Walk(const std::string &name, std::ostream &os, const MapRecordPrinter &printer)
{
   // The registry holds the printer only for this walk: the printer may
   // refer to things that do not outlive it.
   mRegistry.SetPrinter(name, printer);
   mWalkCpus = 0;
   int rc = mRegistry.DumpMap(os, name);
   mWalkCpus = -1;
   mRegistry.SetPrinter(name, nullptr);
   if (rc != 0) {
      mErr << "fwdmaps: " << name << ": map walk failed: " << strerror(-rc) << std::endl;
      mStatus = kStatusFailed;
   }
   return rc;
}

int MapDump::Walk(const std::string &name, const RecordVisitor &visit)
{
   std::ostringstream unused;
   return Walk(name, unused,
               [&visit](std::ostream &, const struct bpf_map_info &info, const void *key,
                        const void *value, uint64_t valueBufLen) {
                  visit(info, RecordBytes{key, info.key_size, value, valueBufLen});
               });
}

bool MapDump::Decoded(bool decoded, const char *mapName, const struct bpf_map_info &info,
                      uint64_t needKey, uint64_t needValue)
{
   if (decoded || !mShortWarned.insert(mapName).second) {
      return decoded;
   }
   mErr << "fwdmaps: " << mapName << ": skipping records shorter than " << needKey
        << "-byte key and " << needValue << "-byte value (map has " << info.key_size
        << "-byte key and " << info.value_size << "-byte value)" << std::endl;
   return false;
}

bool MapDump::Decode(const struct bpf_map_info &info, const RecordBytes &bytes,
                     LabelPortRecord *out)
{
   return Decoded(DecodeLabelPort(bytes, out), kLabelPortMapName, info, kLabelPortKeyBytes,
                  kLabelPortValueBytes);
}

bool MapDump::Decode(const struct bpf_map_info &info, const RecordBytes &bytes,
                     WorkerPortRecord *out)
{
   return Decoded(DecodeWorkerPort(bytes, out), kWorkerPortMapName, info, kWorkerPortKeyBytes,
                  kWorkerPortValueBytes);
}

bool MapDump::Decode(const struct bpf_map_info &info, const RecordBytes &bytes, FwdErrRecord *out)
{
   return Decoded(DecodeFwdErr(bytes, out), kFwdErrMapName, info, kFwdErrKeyBytes,
                  kFwdErrValueBytes);
}

bool MapDump::Decode(const struct bpf_map_info &info, const RecordBytes &bytes, FwdStatsRecord *out)
{
   int cpus = mWalkCpus;
   if (cpus < 1) {
      cpus = get_possible_cpus();
      if (cpus < 1) {
         PossibleCpusFatal(cpus);
      }
      if (mWalkCpus == 0) {
         mWalkCpus = cpus; // one count for all the records of the walk
      }
   }
   // Every CPU's slot holds at least the 8-byte counter.
   return Decoded(DecodeFwdStats(bytes, info.value_size, cpus, out), kFwdStatsMapName, info,
                  info.key_size == 0 ? 0 : kFwdStatsKeyBytes,
                  PerCpuValueBytes(std::max(info.value_size, kFwdStatsCounterBytes), cpus));
}

bool MapDump::Decode(const struct bpf_map_info &info, const RecordBytes &bytes, ErrLogRecord *out)
{
   return Decoded(DecodeErrLog(bytes, out), kFwdErrLogMapName, info, kErrLogKeyBytes,
                  kErrLogValueBytes);
}

int MapDump::CollectErrLog(ErrLogListing *listing)
{
   // The keys belong to this listing alone.
   mErrLogListed = true;
   mErrLogKeys.clear();
   mErrLogKeyIndex.clear();
   std::stringstream raw;
   int rc = Walk(kFwdErrLogMapName, raw,
                 [this](std::ostream &os, const struct bpf_map_info &info, const void *key,
                        const void *value, uint64_t valueBufLen) {
                    ErrLogRecord r;
                    if (!Decode(info, RecordBytes{key, info.key_size, value, valueBufLen}, &r)) {
                       return;
                    }
                    os << FormatErrLogRaw(r);
                    // The listing keeps the later of two records with the same
                    // key text; the earlier one is not shown, so it must stay.
                    const unsigned char *k = static_cast<const unsigned char *>(key);
                    std::vector<unsigned char> bytes(k, k + info.key_size);
                    auto known = mErrLogKeyIndex.emplace(ErrLogKeyText(r), mErrLogKeys.size());
                    if (known.second) {
                       mErrLogKeys.push_back(std::move(bytes));
                    } else {
                       mErrLogKeys[known.first->second] = std::move(bytes);
                    }
                 });
   ReadErrLogListing(raw, listing);
   return rc;
}

int MapDump::DeleteListedErrLog()
{
   if (mErrLogKeys.empty()) {
      return 0;
   }
   const uint32_t keySize = static_cast<uint32_t>(mErrLogKeys[0].size());
   std::vector<unsigned char> keys;
   keys.reserve(keySize * mErrLogKeys.size());
   for (const std::vector<unsigned char> &key : mErrLogKeys) {
      keys.insert(keys.end(), key.begin(), key.end());
   }
   mErrLogKeys.clear();
   mErrLogKeyIndex.clear();
   return static_cast<int>(mRegistry.DeleteMapElems(
       kFwdErrLogMapName, keys.data(), keySize, keys.size() / keySize, [this](size_t, int rc) {
          mErr << "delete log file failed. ret: " << rc << " map name: " << kFwdErrLogMapName
               << std::endl;
       }));
}

int MapDump::Finish(std::ostream &out, const OutputFinisher &finish)
{
   if (!finish(out)) {
      if (mErrLogListed) {
         mErr << "fwdmaps: " << kFwdErrLogMapName << ": no record deleted" << std::endl;
      }
      return kStatusFailed;
   }
   if (mErrLogListed && DeleteListedErrLog() != 0) {
      mStatus = kStatusFailed;
   }
   return mStatus;
}
