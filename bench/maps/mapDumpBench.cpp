// Wall time of dumping label_port_map with 65,536 and with 1,000,000
// entries, all measured in one run inside private mount and network
// namespaces with a private bpffs, each output drained from a pipe:
//   - fwdmaps as a process;
//   - bpftool's dump of the same pinned map;
//   - a bare C batch loop with buffered snprintf lines, as a process (the
//     floor);
//   - the text form in a forked child, by batches and by the forced walk.
// Beside them, on the 1,000,000-entry map: fwdmaps --key as a process
// against fwdmaps --version (start-up alone), and the CPU time of one
// --watch sample of bpf_fwd_stats, taken in this process.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/bpf.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "bpfproxy/bpfSyscall.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"
#include "tool/blockOutput.h"
#include "tool/textOutput.h"
#include "tool/watch.h"

namespace {

const char kLabelPin[] = "/sys/fs/bpf/tc/globals/label_port_map";
std::unique_ptr<fwdtest::ProxyMaps> gMaps;
uint32_t gEntries = 0;

// Pins a fresh set of maps whose label_port_map holds `entries` records.
std::string Fill(uint32_t entries)
{
   if (gEntries == entries) {
      return "";
   }
   gMaps.reset();
   fwdtest::RemoveProxyPins("/sys/fs/bpf");
   gMaps.reset(new fwdtest::ProxyMaps);
   std::string why = gMaps->Create("/sys/fs/bpf", fwdtest::ProxyMapLayouts(entries));
   std::vector<uint32_t> keys;
   std::vector<uint16_t> values;
   for (uint32_t label = 0; why.empty() && label < entries; label++) {
      keys.push_back(label * 2654435761u);
      values.push_back(htons(static_cast<uint16_t>(1024 + label % 60000)));
      if (keys.size() == 65536 || label + 1 == entries) {
         BpfAttr attr;
         memset(&attr, 0, sizeof attr);
         attr.batch.keys = reinterpret_cast<uintptr_t>(keys.data());
         attr.batch.values = reinterpret_cast<uintptr_t>(values.data());
         attr.batch.count = static_cast<uint32_t>(keys.size());
         attr.batch.map_fd = static_cast<uint32_t>(gMaps->fd("label_port_map"));
         if (BpfSysCall(BPF_MAP_UPDATE_BATCH, &attr) < 0) {
            why = std::string("filling label_port_map: ") + strerror(errno);
         }
         keys.clear();
         values.clear();
      }
   }
   gEntries = why.empty() ? entries : 0;
   return why;
}

// Reads `fd` to its end; returns the byte count.
size_t Drain(int fd)
{
   static char buf[1 << 16];
   size_t total = 0;
   ssize_t n;
   while ((n = read(fd, buf, sizeof buf)) != 0) {
      if (n > 0) {
         total += static_cast<size_t>(n);
      } else if (errno != EINTR) {
         break;
      }
   }
   return total;
}

// Runs `child` in a forked process with standard output into a pipe that is
// drained; returns the bytes read, or 0 when the child failed.
template <typename Child> size_t RunDrained(const Child &child)
{
   int fds[2];
   if (pipe(fds) != 0) {
      return 0;
   }
   pid_t pid = fork();
   if (pid == 0) {
      dup2(fds[1], 1);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(fds[0]);
      close(fds[1]);
      _exit(child());
   }
   close(fds[1]);
   size_t bytes = Drain(fds[0]);
   close(fds[0]);
   int status = 0;
   waitpid(pid, &status, 0);
   return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? bytes : 0;
}

size_t Exec(std::vector<const char *> argv)
{
   return RunDrained([&] {
      argv.push_back(nullptr);
      execvp(argv[0], const_cast<char *const *>(argv.data()));
      return 127;
   });
}

// The text form as fwdmaps writes it into a pipe, in a forked child;
// `batch` is the batch seam (0 forces the walk).
size_t TextForm(uint32_t batch)
{
   return RunDrained([batch] {
      MapBatchSetRecords(batch);
      BpfMapRegistry registry;
      if (registry.OpenAllMaps() != 0) {
         return 1;
      }
      BlockOutputBuf buf(1, true);
      std::ostream out(&buf);
      std::ostringstream err;
      return WriteTextMap(registry, "label_port_map", out, err, fwdtest::FlushStream);
   });
}

void Measure(benchmark::State &state, uint32_t entries, size_t (*dump)())
{
   std::string why = Fill(entries);
   if (!why.empty()) {
      state.SkipWithError(why.c_str());
      return;
   }
   size_t bytes = 0;
   for (auto _ : state) {
      bytes = dump();
   }
   if (bytes == 0) {
      state.SkipWithError("the dump failed (is bpftool installed?)");
   }
   state.counters["bytes"] = static_cast<double>(bytes);
}

const struct
{
   const char *name;
   size_t (*dump)();
} kDumps[] = {
    {"fwdmaps",
     [] {
        return Exec({FWD_FWDMAPS_PATH, "label_port_map"});
     }},
    {"bpftool",
     [] {
        return Exec({"bpftool", "map", "dump", "pinned", kLabelPin});
     }},
    {"bare_batch_loop",
     [] {
        return Exec({FWD_BARE_PATH, kLabelPin});
     }},
    {"text_form_batch", [] { return TextForm(kMapBatchRecords); }},
    {"text_form_walk", [] { return TextForm(0); }},
};

// A label the filled map holds: label 1's key.
const char kKnownLabel[] = "9e3779b1";

const struct
{
   const char *name;
   size_t (*run)();
} kStartups[] = {
    {"key",
     [] {
        return Exec({FWD_FWDMAPS_PATH, "--key", kKnownLabel, "label_port_map"});
     }},
    {"version",
     [] {
        return Exec({FWD_FWDMAPS_PATH, "--version"});
     }},
};

// One --watch sample of bpf_fwd_stats per iteration, piped form: the map
// opened afresh, walked, decoded, rated and formatted.
void WatchSample(benchmark::State &state)
{
   BpfMapRegistry registry;
   if (registry.OpenAllMaps() != 0) {
      state.SkipWithError("cannot open the maps");
      return;
   }
   std::ostringstream err;
   CounterWatch watch(registry, kFwdStatsMapName, WatchForm::Lines, 1.0, err);
   std::ostringstream out;
   for (auto _ : state) {
      out.str("");
      if (watch.Step(out, fwdtest::FlushStream) != kStatusOk) {
         state.SkipWithError(err.str().c_str());
         return;
      }
   }
}

// Keeps each benchmark's real time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter
{
 public:
   RatioReporter() : ConsoleReporter(OO_Tabular) {}

   void ReportRuns(const std::vector<Run> &runs) override
   {
      for (const Run &run : runs) {
         if (!run.error_occurred) {
            mMs[run.benchmark_name()] = run.GetAdjustedRealTime();
         }
      }
      ConsoleReporter::ReportRuns(runs);
   }
   void PrintRatio(uint32_t entries, const char *a, const char *b) const
   {
      // With repetitions, compare the medians.
      auto find = [&](const char *what) {
         const std::string prefix = std::to_string(entries) + "/" + what + "/";
         auto found = mMs.end();
         for (auto it = mMs.lower_bound(prefix); it != mMs.end(); ++it) {
            const std::string &name = it->first;
            if (name.compare(0, prefix.size(), prefix) != 0) {
               break;
            }
            bool median = name.size() > 7 && name.compare(name.size() - 7, 7, "_median") == 0;
            if (median || (found == mMs.end() && name.find("_mean") == std::string::npos &&
                           name.find("_stddev") == std::string::npos &&
                           name.find("_cv") == std::string::npos)) {
               found = it;
            }
         }
         return found;
      };
      auto x = find(a), y = find(b);
      if (x != mMs.end() && y != mMs.end() && y->second > 0) {
         printf("%9u entries: %-16s / %-16s %5.2f  (%.1f / %.1f ms)\n", entries, a, b,
                x->second / y->second, x->second, y->second);
      }
   }

 private:
   std::map<std::string, double> mMs;
};

} // namespace

int main(int argc, char **argv)
{
   std::string why = fwdtest::EnterPrivateNamespaces();
   if (why.empty()) {
      why = fwdtest::MountBpfFs("/sys/fs/bpf");
   }
   if (!why.empty()) {
      fprintf(stderr, "bench_maps: %s\n", why.c_str());
      return 1;
   }
   const uint32_t sizes[] = {65536, 1000000};
   // Registered size by size, so each map is built once.
   for (uint32_t entries : sizes) {
      for (const auto &d : kDumps) {
         benchmark::RegisterBenchmark(
             (std::to_string(entries) + "/" + d.name).c_str(),
             [entries, &d](benchmark::State &state) { Measure(state, entries, d.dump); })
             ->Unit(benchmark::kMillisecond)
             ->UseRealTime()
             ->MinTime(2);
      }
   }
   for (const auto &s : kStartups) {
      benchmark::RegisterBenchmark(
          (std::to_string(sizes[1]) + "/" + s.name).c_str(),
          [&s, &sizes](benchmark::State &state) { Measure(state, sizes[1], s.run); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(2);
   }
   // CPU time over 100 samples.
   benchmark::RegisterBenchmark("watch_sample", WatchSample)
       ->Unit(benchmark::kMicrosecond)
       ->Iterations(100);
   benchmark::Initialize(&argc, argv);
   RatioReporter reporter;
   benchmark::RunSpecifiedBenchmarks(&reporter);
   printf("\nratios (wall time, medians, same run):\n");
   for (uint32_t entries : sizes) {
      reporter.PrintRatio(entries, "fwdmaps", "bpftool");
      reporter.PrintRatio(entries, "fwdmaps", "bare_batch_loop");
      reporter.PrintRatio(entries, "text_form_batch", "text_form_walk");
   }
   reporter.PrintRatio(sizes[1], "key", "version");
   gMaps.reset();
   benchmark::Shutdown();
   return 0;
}
