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

namespace {

const int kStatusOk = 0;
const int kStatusFailed = 1;
const int kStatusUsage = 2;
const int kStatusOpenFailed = 255;

// Standard output; lines are held and written in blocks unless it is a
// terminal. A process that ends through exit() still gets its output out.
BlockOutputBuf *gStdoutBuf;

void FlushStdoutAtExit()
{
   if (gStdoutBuf != nullptr) {
      gStdoutBuf->Flush();
   }
}

// Flushes standard output and says on standard error when it did not take
// everything. Returns false then.
bool FinishOutput(std::ostream &out)
{
   out.flush();
   if (gStdoutBuf->Flush() && out.good()) {
      return true;
   }
   int err = gStdoutBuf->Errno();
   std::cerr << "fwdmaps: standard output: " << (err != 0 ? strerror(err) : "write failed")
             << std::endl;
   return false;
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
      // Only the text form carries this line; JSON and metrics readers get
      // an empty standard output and the status.
      if (options.format == OutputFormat::Text) {
         out << "bpf open map failed" << std::endl;
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

   static BlockOutputBuf stdoutBuf(STDOUT_FILENO, !isatty(STDOUT_FILENO));
   gStdoutBuf = &stdoutBuf;
   atexit(FlushStdoutAtExit);
   std::ostream out(&stdoutBuf);

   ToolOptions options = ParseToolOptions(argc, argv);
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

   int status;
   {
      BpfMapRegistry registry;
      status = RunTool(registry, options, out);
   }
   return status;
}
