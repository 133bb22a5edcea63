/// Command-line options of fwdmaps.
///
/// Options come before the map name. The first argument that does not begin
/// with "-" (or the one after "--") is the map name; parsing stops there, so a
/// map name is never taken for an option and later arguments are ignored, as
/// the tool has always done. No map name begins with "-".
#ifndef TOOL_OPTIONS_H
#define TOOL_OPTIONS_H

#include <ostream>
#include <string>

/// What the run is asked to do.
enum class ToolAction {
   Run,        ///< list the maps, or print the map named
   Help,       ///< print the usage on standard output, status 0
   Version,    ///< print the version on standard output, status 0
   UsageError, ///< print ToolOptions::error on standard error, status 2
};

/// How the records are written.
enum class OutputFormat {
   Text,       ///< the tool's fixed text form
   Json,       ///< one JSON document
   Prometheus, ///< text exposition format, counters only
};

/// Result of ParseToolOptions. Plain data, no ownership beyond its strings.
struct ToolOptions
{
   ToolAction action = ToolAction::Run;
   OutputFormat format = OutputFormat::Text;
   /// True when a map name was given; mapName then holds it (it may be empty).
   bool haveMap = false;
   std::string mapName;
   /// With -o/--output: the file the output replaces atomically; empty for
   /// standard output.
   std::string outputPath;
   /// With --watch[=SECONDS]: sample the map every watchSeconds (at least
   /// kMinWatchSeconds) until stopped, or watchCount samples when that is
   /// not 0 (--count).
   bool watch = false;
   double watchSeconds = 1.0;
   long watchCount = 0;
   /// With --key KEY: the text of the one key to look up, as given.
   bool haveKey = false;
   std::string key;
   /// For UsageError: the reason, without the "fwdmaps: " prefix.
   std::string error;
};

/// The shortest and the longest interval --watch takes.
constexpr double kMinWatchSeconds = 0.1;
constexpr double kMaxWatchSeconds = 86400;

/// Parses argv[1..argc-1] from left to right. Never fails: a bad command line
/// comes back as ToolAction::UsageError with a reason. The first of help,
/// version or an unknown option decides, and nothing after it is read.
ToolOptions ParseToolOptions(int argc, const char *const argv[]);

/// Writes the usage text (maps, options, exit statuses, configuration).
void PrintUsage(std::ostream &out);

/// Writes "fwdmaps <version>" and a newline.
void PrintVersion(std::ostream &out);

/// The version the tool reports and the package carries.
const char *ToolVersion();

/// Checks that the options suit the map named (one of the five): Prometheus
/// output and --watch rates cover only bpf_fwd_stats and bpf_fwd_err
/// (--watch also follows bpf_fwd_err_log), --key looks up only
/// label_port_map and worker_port_map and its KEY must be one the map
/// takes. Returns an empty text when they do, else the reason for a usage
/// error.
std::string CheckOptionsForMap(const ToolOptions &options);

#endif
