#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tool/options.h"

namespace {

ToolOptions Parse(std::vector<const char *> args)
{
   args.insert(args.begin(), "fwdmaps");
   return ParseToolOptions(static_cast<int>(args.size()), args.data());
}

std::string Words(const std::vector<const char *> &args)
{
   std::string what = "args:";
   for (const char *a : args) {
      what += std::string(" '") + a + "'";
   }
   return what;
}

TEST(ToolOptions, ParsesOptionsBeforeTheMapName)
{
   const auto text = OutputFormat::Text, json = OutputFormat::Json;
   const struct
   {
      std::vector<const char *> args;
      OutputFormat format;
      const char *mapName; // nullptr: no map named
      const char *output = "";
   } runs[] = {
       {{}, text, nullptr},
       {{"bpf_fwd_err"}, text, "bpf_fwd_err"},
       // Arguments after the map name are ignored, whatever they look like.
       {{"bpf_fwd_err", "--bogus", "-h"}, text, "bpf_fwd_err"},
       {{"-j", "bpf_fwd_stats"}, json, "bpf_fwd_stats"},
       {{"--json"}, json, nullptr},
       {{"--json", "-j", "x"}, json, "x"},
       {{"--prometheus"}, OutputFormat::Prometheus, nullptr},
       {{"--prometheus", "bpf_fwd_err"}, OutputFormat::Prometheus, "bpf_fwd_err"},
       // "--" ends the options; the empty text is a map name, not an option.
       {{"--", "-j"}, text, "-j"},
       {{"-j", "--"}, json, nullptr},
       {{""}, text, ""},
       // The output file is the next word, even one that looks like an option.
       {{"-o", "m.prom", "--prometheus"}, OutputFormat::Prometheus, nullptr, "m.prom"},
       {{"--output", "-j", "bpf_fwd_err"}, text, "bpf_fwd_err", "-j"},
       {{"-j", "--output=/d/f.json", "x"}, json, "x", "/d/f.json"},
       {{"-o", "a", "-o", "b"}, text, nullptr, "b"},
   };
   for (const auto &c : runs) {
      SCOPED_TRACE(Words(c.args));
      ToolOptions o = Parse(c.args);
      EXPECT_EQ(o.action, ToolAction::Run);
      EXPECT_TRUE(o.error.empty()) << o.error;
      EXPECT_EQ(o.format, c.format);
      EXPECT_EQ(o.haveMap, c.mapName != nullptr);
      EXPECT_EQ(o.mapName, c.mapName != nullptr ? c.mapName : "");
      EXPECT_EQ(o.outputPath, c.output);
   }
   const struct
   {
      std::vector<const char *> args;
      ToolAction action;
   } others[] = {{{"-h"}, ToolAction::Help},
                 {{"--help", "--bogus"}, ToolAction::Help},
                 {{"-j", "--help"}, ToolAction::Help},
                 {{"--version", "bpf_fwd_err"}, ToolAction::Version}};
   for (const auto &c : others) {
      SCOPED_TRACE(Words(c.args));
      ToolOptions o = Parse(c.args);
      EXPECT_EQ(o.action, c.action);
      EXPECT_TRUE(o.error.empty()) << o.error;
   }
}

TEST(ToolOptions, RejectsUnknownOptionsAndConflictingFormats)
{
   const struct
   {
      std::vector<const char *> args;
      const char *reasonHas;
   } cases[] = {
       {{"--bogus"}, "'--bogus'"},
       {{"-x", "bpf_fwd_err"}, "'-x'"},
       {{"-"}, "'-'"},
       {{"-jh"}, "'-jh'"},
       {{"--json=1"}, "'--json=1'"},
       {{"--HELP"}, "'--HELP'"},
       {{"--bogus", "--help"}, "'--bogus'"},
       {{"-j", "--prometheus", "bpf_fwd_err"}, "cannot be used together"},
       {{"-o"}, "option '-o' needs a file name"},
       {{"--output", ""}, "option '--output' needs a file name"},
       {{"--output="}, "option '--output' needs a file name"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.args[0]);
      ToolOptions o = Parse(c.args);
      EXPECT_EQ(o.action, ToolAction::UsageError);
      EXPECT_NE(o.error.find(c.reasonHas), std::string::npos) << o.error;
   }
}

TEST(ToolOptions, UsageNamesMapsOptionsStatusesAndConfiguration)
{
   std::ostringstream out;
   PrintUsage(out);
   const std::string usage = out.str();
   const char *const needed[] = {"Usage: fwdmaps",
                                 "label_port_map",
                                 "worker_port_map",
                                 "bpf_fwd_stats",
                                 "bpf_fwd_err ",
                                 "bpf_fwd_err_log",
                                 "-j, --json",
                                 "--prometheus",
                                 "-o, --output FILE",
                                 "-h, --help",
                                 "--version",
                                 "Exit status:",
                                 "  0 ",
                                 "  1 ",
                                 "  2 ",
                                 "  255 ",
                                 "BpfProxy.FsPath",
                                 "/sys/fs/bpf/",
                                 "/tc/globals/"};
   for (const char *n : needed) {
      EXPECT_NE(usage.find(n), std::string::npos) << n;
   }
   // Every map has its one-line description on the line that names it.
   for (const char *map :
        {"label_port_map", "worker_port_map", "bpf_fwd_stats", "bpf_fwd_err", "bpf_fwd_err_log"}) {
      std::string line = "\n  " + std::string(map) + " ";
      size_t at = usage.find(line);
      ASSERT_NE(at, std::string::npos) << map;
      size_t end = usage.find('\n', at + 1);
      EXPECT_GT(end - at, line.size() + 10) << map;
   }
   for (size_t start = 0, nl; (nl = usage.find('\n', start)) != std::string::npos; start = nl + 1) {
      EXPECT_LE(nl - start, 80u) << usage.substr(start, nl - start);
   }
   EXPECT_EQ(usage.back(), '\n');
}

TEST(ToolOptions, VersionComesFromTheBuild)
{
   std::ostringstream out;
   PrintVersion(out);
   EXPECT_TRUE(std::regex_match(out.str(), std::regex("fwdmaps [0-9]+\\.[0-9]+\\.[0-9]+\n")))
       << out.str();
   // The bare-compile fallback means the build did not pass the version.
   EXPECT_STRNE(ToolVersion(), "0.0.0");
}

} // namespace
