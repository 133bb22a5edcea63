#include "tool/options.h"

#include <cstring>

#ifndef FWDMAPS_VERSION
// Set by the build from the project version; this only keeps a bare compile working.
#define FWDMAPS_VERSION "0.0.0"
#endif

namespace {

const char kUsage[] =
    "Usage: fwdmaps [OPTION]... [MAP]\n"
    "Print the records of one of the BPF forwarding proxy's pinned maps.\n"
    "Without MAP, list the map names.\n"
    "\n"
    "Maps:\n"
    "  label_port_map   label to port table (label in hexadecimal)\n"
    "  worker_port_map  ports of the bound workers\n"
    "  bpf_fwd_stats    byte counters per CPU: rx, rx end, tx, tx end\n"
    "  bpf_fwd_err      forwarding error counters by kind\n"
    "  bpf_fwd_err_log  connection error log, sorted; printing it empties it\n"
    "\n"
    "Options (before MAP; arguments after MAP are ignored):\n"
    "  -j, --json        print one JSON document\n"
    "      --prometheus  print bpf_fwd_stats and bpf_fwd_err (both when no MAP)\n"
    "                    in the Prometheus text exposition format\n"
    "  -o, --output FILE write the output to FILE instead of standard output;\n"
    "                    FILE is replaced whole once the output is complete and\n"
    "                    keeps its old content when it cannot be written\n"
    "  -h, --help        print this help and exit\n"
    "      --version     print the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0    success\n"
    "  1    a map walk, the output (FILE) or an error-log deletion failed\n"
    "  2    usage error: unknown option or map name\n"
    "  255  the pinned maps could not be opened, or the possible-CPU count is invalid\n"
    "\n"
    "Configuration:\n"
    "  BpfProxy.FsPath (default \"/sys/fs/bpf/\") in /etc/keltria/config or\n"
    "  ~/.keltria/config; maps are opened at <BpfProxy.FsPath>/tc/globals/<MAP>.\n"
    "\n"
    "See fwdmaps(1) for the output forms and the JSON schema.\n";

ToolOptions UsageError(std::string reason)
{
   ToolOptions options;
   options.action = ToolAction::UsageError;
   options.error = std::move(reason);
   return options;
}

} // namespace

ToolOptions ParseToolOptions(int argc, const char *const argv[])
{
   ToolOptions options;
   bool json = false;
   bool prometheus = false;
   int i = 1;

   for (; i < argc; i++) {
      const char *arg = argv[i];
      if (arg[0] != '-') {
         break;
      }
      if (std::strcmp(arg, "--") == 0) {
         i++;
         break;
      }
      if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
         options.action = ToolAction::Help;
         return options;
      }
      if (std::strcmp(arg, "--version") == 0) {
         options.action = ToolAction::Version;
         return options;
      }
      if (std::strcmp(arg, "-j") == 0 || std::strcmp(arg, "--json") == 0) {
         json = true;
      } else if (std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--output") == 0) {
         if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            return UsageError(std::string("option '") + arg + "' needs a file name");
         }
         options.outputPath = argv[++i];
      } else if (std::strncmp(arg, "--output=", 9) == 0) {
         if (arg[9] == '\0') {
            return UsageError("option '--output' needs a file name");
         }
         options.outputPath = arg + 9;
      } else if (std::strcmp(arg, "--prometheus") == 0) {
         prometheus = true;
      } else {
         return UsageError(std::string("unknown option '") + arg + "'");
      }
   }

   if (json && prometheus) {
      return UsageError("--json and --prometheus cannot be used together");
   }
   options.format = json         ? OutputFormat::Json
                    : prometheus ? OutputFormat::Prometheus
                                 : OutputFormat::Text;
   if (i < argc) {
      options.haveMap = true;
      options.mapName = argv[i];
   }
   return options;
}

void PrintUsage(std::ostream &out)
{
   out << kUsage;
   out.flush();
}

const char *ToolVersion()
{
   return FWDMAPS_VERSION;
}

void PrintVersion(std::ostream &out)
{
   out << "fwdmaps " << ToolVersion() << "\n";
   out.flush();
}

std::string CheckFormatForMap(OutputFormat format, const std::string &mapName)
{
   if (format == OutputFormat::Prometheus && mapName != "bpf_fwd_stats" &&
       mapName != "bpf_fwd_err") {
      return "--prometheus shows only bpf_fwd_stats and bpf_fwd_err, not '" + mapName + "'";
   }
   return "";
}
