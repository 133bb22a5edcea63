#include "tool/keyLookup.h"

#include <arpa/inet.h>
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bpfproxy/bpfSyscall.h"
#include "tool/jsonOutput.h"
#include "tool/records.h"

namespace {

// A record too short for its layout; MapDump::Decode has named it.
const int kShortRecord = 1;

// Looks `key` up in map `name` and decodes the record as a `Record`. The
// buffers have the map's real sizes, whatever the layout expects, so the
// kernel never reads or writes past them. Returns 0, kShortRecord, or the
// look-up's negated errno.
template <typename Record>
int Lookup(BpfMapRegistry &registry, MapDump &dump, const std::string &name, const void *keyBytes,
           uint32_t keyLen, Record *out)
{
   struct bpf_map_info info;
   int rc = BpfMapGetInfo(registry.GetMapFd(name), &info);
   if (rc != 0) {
      return rc;
   }
   std::vector<unsigned char> key(std::max(info.key_size, keyLen));
   memcpy(key.data(), keyBytes, keyLen);
   std::vector<unsigned char> value(MapValueBufferBytes(info));
   rc = registry.LookupMapElem(name, key.data(), value.data());
   if (rc != 0) {
      return rc;
   }
   RecordBytes bytes{key.data(), info.key_size, value.data(), value.size()};
   return dump.Decode(info, bytes, out) ? 0 : kShortRecord;
}

} // namespace

int WriteKeyRecord(BpfMapRegistry &registry, const std::string &name, const std::string &keyText,
                   bool json, std::ostream &out, std::ostream &err, const OutputFinisher &finish)
{
   MapDump dump(registry, err);
   std::string what, text;
   JsonValue record;
   int rc;
   uint32_t label;
   uint16_t port;
   if (name == kLabelPortMapName && ParseLabelKey(keyText, &label)) {
      char shown[16];
      snprintf(shown, sizeof shown, "label 0x%x", label);
      what = shown;
      LabelPortRecord r;
      rc = Lookup(registry, dump, name, &label, sizeof label, &r);
      if (rc == 0) {
         text = FormatLabelPort(r);
         record = LabelPortJson(r);
      }
   } else if (name == kWorkerPortMapName && ParsePortKey(keyText, &port)) {
      what = "port " + std::to_string(port);
      uint16_t netPort = htons(port);
      WorkerPortRecord r;
      rc = Lookup(registry, dump, name, &netPort, sizeof netPort, &r);
      if (rc == 0) {
         text = FormatWorkerPort(r);
         record = WorkerPortJson(r);
      }
   } else {
      err << "fwdmaps: --key '" << keyText << "': no look-up in " << name << std::endl;
      return kStatusUsage;
   }
   if (rc == -ENOENT) {
      err << "fwdmaps: " << what << ": not in " << name << std::endl;
      return kStatusFailed;
   }
   if (rc == kShortRecord) {
      return kStatusFailed;
   }
   if (rc != 0) {
      err << "fwdmaps: " << name << ": look-up of " << what << " failed: " << strerror(-rc)
          << std::endl;
      return kStatusFailed;
   }
   if (json) {
      WriteJsonDocument(out, MapDocument(name, JsonValue::array({record})));
   } else {
      out << text;
   }
   return dump.Finish(out, finish);
}
