#include "tool/textOutput.h"

#include <string>

#include "tool/blockOutput.h"
#include "tool/errLogListing.h"
#include "tool/records.h"

namespace {

// Writes `text` line by line, each with std::endl, so a terminal sees every
// line as it comes.
void WriteLines(std::ostream &os, const std::string &text)
{
   if (!text.empty() && text.find('\n') == text.size() - 1) {
      os.write(text.data(), static_cast<std::streamsize>(text.size()));
      os.flush();
      return;
   }
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

template <typename Record>
int PrintRecords(MapDump &dump, const std::string &name, std::ostream &out,
                 std::string (*format)(const Record &))
{
   return dump.Walk(
       name, out,
       [&dump, format](std::ostream &os, const struct bpf_map_info &info, const void *key,
                       const void *value, uint64_t valueBufLen) {
          Record r;
          if (dump.Decode(info, RecordBytes{key, info.key_size, value, valueBufLen}, &r)) {
             WriteLines(os, format(r));
          }
       });
}

// label_port_map may hold a million records: its lines are formatted in
// place and go straight into the block output when the stream has one.
int PrintLabelPorts(MapDump &dump, std::ostream &out)
{
   BlockOutputBuf *block = dynamic_cast<BlockOutputBuf *>(out.rdbuf());
   return dump.Walk(kLabelPortMapName, out,
                    [&dump, block](std::ostream &os, const struct bpf_map_info &info,
                                   const void *key, const void *value, uint64_t valueBufLen) {
                       LabelPortRecord r;
                       if (!dump.Decode(info, RecordBytes{key, info.key_size, value, valueBufLen},
                                        &r)) {
                          return;
                       }
                       char line[kLabelPortLineMax];
                       size_t len = FormatLabelPortLine(r, line);
                       if (block != nullptr) {
                          block->PutLine(line, len);
                       } else {
                          os.write(line, static_cast<std::streamsize>(len));
                          os.flush();
                       }
                    });
}

} // namespace

void ListMaps(const BpfMapRegistry &registry, std::ostream &out)
{
   out << "list all maps: ";
   for (const std::string &name : registry.GetMapNames()) {
      out << name << "\t";
   }
   out << std::endl;
}

int WriteTextMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish)
{
   MapDump dump(registry, err);
   if (name == kLabelPortMapName) {
      PrintLabelPorts(dump, out);
   } else if (name == kWorkerPortMapName) {
      PrintRecords(dump, name, out, FormatWorkerPort);
   } else if (name == kFwdStatsMapName) {
      PrintRecords(dump, name, out, FormatFwdStats);
   } else if (name == kFwdErrMapName) {
      PrintRecords(dump, name, out, FormatFwdErr);
   } else if (name == kFwdErrLogMapName) {
      ErrLogListing listing;
      dump.CollectErrLog(&listing);
      WriteErrLogListing(out, listing);
   } else {
      err << "fwdmaps: " << name << ": no such map" << std::endl;
      return kStatusUsage;
   }
   return dump.Finish(out, finish);
}
