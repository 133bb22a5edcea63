// fwdmaps: lists the proxy's pinned maps, prints the records of one, watches one or
// looks up one record.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "lib/config/preference.h"
#include "tool/jsonOutput.h"
#include "tool/keyLookup.h"
#include "tool/mapDump.h"
#include "tool/metricsOutput.h"
#include "tool/options.h"
#include "tool/outputTarget.h"
#include "tool/textOutput.h"
#include "tool/watch.h"

namespace {

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

int RunTool(BpfMapRegistry &registry, const ToolOptions &options, OutputTarget &output)
{
   std::ostream &out = output.Stream();
   // For -o, finishing renames the file into place; only then may the
   // error log's listed records go.
   const OutputFinisher finish = [&output](std::ostream &) { return output.Finish(); };
   // Further arguments are ignored. Without a map, --prometheus shows both
   // counter maps.
   const std::string name = options.mapName;
   if (options.haveMap) {
      std::vector<std::string> names = registry.GetMapNames();
      if (std::find(names.begin(), names.end(), name) == names.end()) {
         ReportUnknownMap(registry, name);
         return kStatusUsage;
      }
      std::string unsupported = CheckOptionsForMap(options);
      if (!unsupported.empty()) {
         std::cerr << "fwdmaps: " << unsupported << std::endl;
         return kStatusUsage;
      }
   }
   // A usage error leaves the file of -o alone: nothing is created before
   // the command line is known to be good.
   if (!output.Open()) {
      return kStatusFailed;
   }
   if (!options.haveMap && options.format == OutputFormat::Text) {
      ListMaps(registry, out);
      return finish(out) ? kStatusOk : kStatusFailed;
   }
   if (!options.haveMap && options.format == OutputFormat::Json) {
      WriteJsonDocument(out, MapListDocument(registry.GetMapNames()));
      return finish(out) ? kStatusOk : kStatusFailed;
   }
   if (registry.OpenAllMaps() != 0) {
      // Only the text form carries this line; JSON readers get no output
      // and the status, metrics readers the failed collection.
      if (options.format == OutputFormat::Text) {
         out << "bpf open map failed" << std::endl;
         finish(out);
      } else if (options.format == OutputFormat::Prometheus) {
         out << CollectionMetrics(false, CollectionTime());
         finish(out);
      }
      ReportOpenFailure(registry);
      return kStatusOpenFailed;
   }
   const bool json = options.format == OutputFormat::Json;
   if (options.watch) {
      const WatchForm form = json                    ? WatchForm::Json
                             : isatty(STDOUT_FILENO) ? WatchForm::Screen
                                                     : WatchForm::Lines;
      return RunWatch(registry, name, form, options.watchSeconds, options.watchCount, out,
                      std::cerr, finish);
   }
   if (options.haveKey) {
      return WriteKeyRecord(registry, name, options.key, json, out, std::cerr, finish);
   }
   if (json) {
      return WriteJsonMap(registry, name, out, std::cerr, finish);
   }
   if (options.format == OutputFormat::Prometheus) {
      std::vector<std::string> counters{kFwdStatsMapName, kFwdErrMapName};
      if (options.haveMap) {
         counters = {name};
      }
      return WriteMetrics(registry, counters, out, std::cerr, finish);
   }
   return WriteTextMap(registry, name, out, std::cerr, finish);
}

} // namespace

int main(int argc, char **argv)
{
   Preference_Init();
   atexit(Preference_Exit);

   ToolOptions options = ParseToolOptions(argc, argv);
   // Standard output, or the file of -o; help and version always go to
   // standard output. A static, so that a process ending through exit()
   // still flushes standard output and removes an unfinished temporary file.
   static OutputTarget output(options.action == ToolAction::Run ? options.outputPath : "",
                              std::cerr);
   std::ostream &out = output.Stream();
   switch (options.action) {
   case ToolAction::Help:
      PrintUsage(out);
      return output.Finish() ? kStatusOk : kStatusFailed;
   case ToolAction::Version:
      PrintVersion(out);
      return output.Finish() ? kStatusOk : kStatusFailed;
   case ToolAction::UsageError:
      std::cerr << "fwdmaps: " << options.error << "; try 'fwdmaps --help'" << std::endl;
      return kStatusUsage;
   case ToolAction::Run:
      break;
   }

   int status;
   {
      BpfMapRegistry registry;
      status = RunTool(registry, options, output);
   }
   return status;
}
