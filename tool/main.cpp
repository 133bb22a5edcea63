// fwdmaps: lists the proxy's pinned maps, or prints the records of one.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "lib/config/preference.h"
#include "tool/blockOutput.h"
#include "tool/errLogListing.h"
#include "tool/jsonOutput.h"
#include "tool/metricsOutput.h"
#include "tool/options.h"
#include "tool/outputTarget.h"

namespace {

const int kStatusOk = 0;
const int kStatusFailed = 1;
const int kStatusUsage = 2;
const int kStatusOpenFailed = 255;

// Standard output or the file of -o. A static, so that a process ending
// through exit() still flushes standard output and removes an unfinished
// temporary file.
OutputTarget *gOutput;

// Puts the output in its place (for -o, renames the file over the old one)
// and says on standard error when it could not. Returns false then.
bool FinishOutput(std::ostream &)
{
   return gOutput->Finish();
}

void ListMaps(const BpfMapRegistry &registry, std::ostream &out)
{
   out << "list all maps: ";
   for (const std::string &name : registry.GetMapNames()) {
      out << name << "\t";
   }
   out << std::endl;
}

void ReportUnknownMap(const BpfMapRegistry &registry, const std::string &name)
{
   std::cerr << "fwdmaps: unknown map \"" << name << "\": known maps are";
   const char *sep = " ";
   for (const std::string &known : registry.GetMapNames()) {
      std::cerr << sep << known;
      sep = ", ";
   }
   std::cerr << std::endl;
}

// OpenAllMaps stops at the first failure and records its negated errno.
void ReportOpenFailure(const BpfMapRegistry &registry)
{
   for (const std::string &name : registry.GetMapNames()) {
      int fd = registry.GetMapFd(name);
      if (fd < 0) {
         std::cerr << "fwdmaps: " << registry.BuildPinPath(name) << ": "
                   << strerror(fd == -1 ? EPERM : -fd) << std::endl;
         return;
      }
   }
}

void ReportWalkFailure(const std::string &name, int rc)
{
   std::cerr << "fwdmaps: " << name << ": map walk failed: " << strerror(-rc) << std::endl;
}

// The error log is walked without deleting anything; records leave the map
// only after the whole listing reached standard output.
int PrintErrLog(BpfMapRegistry &registry, std::ostream &out)
{
   std::stringstream raw;
   int rc = registry.DumpMap(raw, kFwdErrLogMapName);

   ErrLogListing listing;
   ReadErrLogListing(raw, &listing);
   WriteErrLogListing(out, listing);
   int status = kStatusOk;
   if (rc != 0) {
      ReportWalkFailure(kFwdErrLogMapName, rc);
      status = kStatusFailed;
   }
   if (!FinishOutput(out)) {
      std::cerr << "fwdmaps: " << kFwdErrLogMapName << ": no record deleted" << std::endl;
      return kStatusFailed;
   }
   if (registry.DeleteListedErrLogRecords(std::cerr) != 0) {
      status = kStatusFailed;
   }
   return status;
}

int PrintMap(BpfMapRegistry &registry, const std::string &name, std::ostream &out)
{
   int rc = registry.DumpMap(out, name);
   int status = kStatusOk;
   if (rc != 0) {
      ReportWalkFailure(name, rc);
      status = kStatusFailed;
   }
   if (!FinishOutput(out)) {
      status = kStatusFailed;
   }
   return status;
}

int RunTool(BpfMapRegistry &registry, const ToolOptions &options, std::ostream &out)
{
   if (!options.haveMap && options.format == OutputFormat::Text) {
      ListMaps(registry, out);
      return FinishOutput(out) ? kStatusOk : kStatusFailed;
   }
   if (!options.haveMap && options.format == OutputFormat::Json) {
      WriteJsonDocument(out, MapListDocument(registry.GetMapNames()));
      return FinishOutput(out) ? kStatusOk : kStatusFailed;
   }
   // Further arguments are ignored. Without a map, --prometheus shows both
   // counter maps.
   const std::string name = options.mapName;
   if (options.haveMap) {
      std::vector<std::string> names = registry.GetMapNames();
      if (std::find(names.begin(), names.end(), name) == names.end()) {
         ReportUnknownMap(registry, name);
         return kStatusUsage;
      }
      std::string unsupported = CheckFormatForMap(options.format, name);
      if (!unsupported.empty()) {
         std::cerr << "fwdmaps: " << unsupported << std::endl;
         return kStatusUsage;
      }
   }
   if (registry.OpenAllMaps() != 0) {
      // Only the text form carries this line; JSON readers get no output
      // and the status, metrics readers the failed collection.
      if (options.format == OutputFormat::Text) {
         out << "bpf open map failed" << std::endl;
         FinishOutput(out);
      } else if (options.format == OutputFormat::Prometheus) {
         out << CollectionMetrics(false, CollectionTime());
         FinishOutput(out);
      }
      ReportOpenFailure(registry);
      return kStatusOpenFailed;
   }
   if (options.format == OutputFormat::Json) {
      return WriteJsonMap(registry, name, out, std::cerr, FinishOutput);
   }
   if (options.format == OutputFormat::Prometheus) {
      std::vector<std::string> counters{kFwdStatsMapName, kFwdErrMapName};
      if (options.haveMap) {
         counters = {name};
      }
      return WriteMetrics(registry, counters, out, std::cerr, FinishOutput);
   }
   if (name == kFwdErrLogMapName) {
      return PrintErrLog(registry, out);
   }
   return PrintMap(registry, name, out);
}

} // namespace

int main(int argc, char **argv)
{
   Preference_Init();
   atexit(Preference_Exit);

   ToolOptions options = ParseToolOptions(argc, argv);
   // Help and version always go to standard output.
   static OutputTarget output(options.action == ToolAction::Run ? options.outputPath : "",
                              std::cerr);
   gOutput = &output;
   std::ostream &out = output.Stream();
   switch (options.action) {
   case ToolAction::Help:
      PrintUsage(out);
      return FinishOutput(out) ? kStatusOk : kStatusFailed;
   case ToolAction::Version:
      PrintVersion(out);
      return FinishOutput(out) ? kStatusOk : kStatusFailed;
   case ToolAction::UsageError:
      std::cerr << "fwdmaps: " << options.error << "; try 'fwdmaps --help'" << std::endl;
      return kUsageStatus;
   case ToolAction::Run:
      break;
   }
   if (!output.Open()) {
      return kStatusFailed;
   }

   int status;
   {
      BpfMapRegistry registry;
      status = RunTool(registry, options, out);
   }
   return status;
}
