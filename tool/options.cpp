#include "tool/options.h"

#include <errno.h>
#include <stdlib.h>

#include <cstring>

#include "tool/records.h"

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
    "      --watch[=SECONDS]\n"
    "                    bpf_fwd_stats, bpf_fwd_err: every SECONDS (default 1,\n"
    "                    at least 0.1) show each counter's rate per second and\n"
    "                    total, until interrupted; bpf_fwd_err_log: print new\n"
    "                    records as they arrive, consuming them\n"
    "      --count N     with --watch: stop after N samples\n"
    "      --key KEY     print the one record of KEY: a hexadecimal label (0x2a\n"
    "                    or 2a) of label_port_map, a decimal port of\n"
    "                    worker_port_map\n"
    "  -h, --help        print this help and exit\n"
    "      --version     print the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0    success\n"
    "  1    a map walk, the output (FILE) or an error-log deletion failed, the\n"
    "       map holds no record of KEY, or the watched maps went away\n"
    "  2    usage error: unknown option or map name, an option the map does\n"
    "       not take, or a malformed KEY\n"
    "  255  the pinned maps could not be opened, or the possible-CPU count is invalid\n"
    "\n"
    "Configuration:\n"
    "  BpfProxy.FsPath (default \"/sys/fs/bpf/\") in /etc/keltria/config or\n"
    "  ~/.keltria/config; maps are opened at <BpfProxy.FsPath>/tc/globals/<MAP>.\n"
    "\n"
    "See fwdmaps(1) for the output forms and the JSON schema.\n";

// "1", "0.25", "2.": digits with at most one point; strtod alone would also
// take "inf", "nan" and hexadecimal.
bool ParseSeconds(const char *text, double *seconds)
{
   int digits = 0, points = 0;
   for (const char *c = text; *c != '\0'; c++) {
      digits += *c >= '0' && *c <= '9';
      points += *c == '.';
      if ((*c < '0' || *c > '9') && *c != '.') {
         return false;
      }
   }
   if (digits == 0 || points > 1) {
      return false;
   }
   *seconds = strtod(text, nullptr);
   return *seconds >= kMinWatchSeconds && *seconds <= kMaxWatchSeconds;
}

bool ParseCount(const char *text, long *count)
{
   char *end = nullptr;
   errno = 0;
   long v = text[0] >= '0' && text[0] <= '9' ? strtol(text, &end, 10) : 0;
   if (end == nullptr || *end != '\0' || errno != 0 || v < 1) {
      return false;
   }
   *count = v;
   return true;
}

// The value of option `arg` that takes one: "--name=value" or "--name" (or
// its short form) followed by the value. Returns nullptr, moving nothing,
// when `arg` is not that option; sets `*missing` when the value is.
const char *OptionValue(const char *arg, const char *shortName, const char *longName, int argc,
                        const char *const argv[], int *i, bool *missing)
{
   size_t len = std::strlen(longName);
   if (std::strncmp(arg, longName, len) == 0 && arg[len] == '=') {
      *missing = arg[len + 1] == '\0';
      return arg + len + 1;
   }
   if (std::strcmp(arg, longName) != 0 &&
       (shortName == nullptr || std::strcmp(arg, shortName) != 0)) {
      return nullptr;
   }
   *missing = *i + 1 >= argc || argv[*i + 1][0] == '\0';
   return *missing ? arg : argv[++*i];
}

// Options that cannot go together, or that need a map.
std::string CheckCombination(const ToolOptions &o, bool json, bool prometheus)
{
   if (json && prometheus) {
      return "--json and --prometheus cannot be used together";
   }
   if (o.watch && o.haveKey) {
      return "--watch and --key cannot be used together";
   }
   if ((o.watch || o.haveKey) && prometheus) {
      return std::string(o.watch ? "--watch" : "--key") +
             " and --prometheus cannot be used together";
   }
   if (o.watch && !o.outputPath.empty()) {
      return "--watch writes a stream on standard output; it cannot be used with -o";
   }
   if (o.watchCount != 0 && !o.watch) {
      return "--count needs --watch";
   }
   if (o.watch && !o.haveMap) {
      return "--watch needs a map: bpf_fwd_stats, bpf_fwd_err or bpf_fwd_err_log";
   }
   if (o.haveKey && !o.haveMap) {
      return "--key needs a map: label_port_map or worker_port_map";
   }
   return "";
}

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
      bool missing = false;
      const char *value;
      if (std::strcmp(arg, "-j") == 0 || std::strcmp(arg, "--json") == 0) {
         json = true;
      } else if ((value = OptionValue(arg, "-o", "--output", argc, argv, &i, &missing))) {
         if (missing) {
            return UsageError(std::string("option '") + (arg[1] == '-' ? "--output" : arg) +
                              "' needs a file name");
         }
         options.outputPath = value;
      } else if ((value = OptionValue(arg, nullptr, "--key", argc, argv, &i, &missing))) {
         if (missing) {
            return UsageError("option '--key' needs a KEY");
         }
         options.haveKey = true;
         options.key = value;
      } else if ((value = OptionValue(arg, nullptr, "--count", argc, argv, &i, &missing))) {
         if (missing || !ParseCount(value, &options.watchCount)) {
            return UsageError("option '--count' needs a number of samples, 1 or more");
         }
      } else if (std::strcmp(arg, "--watch") == 0) {
         options.watch = true;
      } else if (std::strncmp(arg, "--watch=", 8) == 0) {
         options.watch = true;
         if (!ParseSeconds(arg + 8, &options.watchSeconds)) {
            return UsageError(
                std::string("option '--watch' needs SECONDS from 0.1 to 86400, not '") + (arg + 8) +
                "'");
         }
      } else if (std::strcmp(arg, "--prometheus") == 0) {
         prometheus = true;
      } else {
         return UsageError(std::string("unknown option '") + arg + "'");
      }
   }

   options.format = json         ? OutputFormat::Json
                    : prometheus ? OutputFormat::Prometheus
                                 : OutputFormat::Text;
   if (i < argc) {
      options.haveMap = true;
      options.mapName = argv[i];
   }
   std::string conflict = CheckCombination(options, json, prometheus);
   if (!conflict.empty()) {
      return UsageError(conflict);
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

std::string CheckOptionsForMap(const ToolOptions &options)
{
   const std::string &map = options.mapName;
   const bool counters = map == "bpf_fwd_stats" || map == "bpf_fwd_err";
   if (options.format == OutputFormat::Prometheus && !counters) {
      return "--prometheus shows only bpf_fwd_stats and bpf_fwd_err, not '" + map + "'";
   }
   if (options.watch && !counters && map != "bpf_fwd_err_log") {
      return "--watch shows bpf_fwd_stats, bpf_fwd_err or bpf_fwd_err_log, not '" + map + "'";
   }
   if (!options.haveKey) {
      return "";
   }
   uint32_t label;
   uint16_t port;
   if (map == "label_port_map") {
      return ParseLabelKey(options.key, &label)
                 ? ""
                 : "--key '" + options.key +
                       "': label_port_map takes a hexadecimal label, such as 0x2a or 2a";
   }
   if (map == "worker_port_map") {
      return ParsePortKey(options.key, &port)
                 ? ""
                 : "--key '" + options.key + "': worker_port_map takes a decimal port, 0 to 65535";
   }
   return "--key looks up label_port_map or worker_port_map, not '" + map + "'";
}
