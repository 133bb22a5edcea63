// Wall time of dumping a 65,536-entry label_port_map, all measured in one
// run inside private mount and network namespaces with a private bpffs:
//   - fwdmaps as a process, its output drained from a pipe;
//   - bpftool's dump of the same pinned map, the same way;
//   - a bare in-process loop of get-next-key and lookup;
//   - the text form in process into a pipe, flushing every line or in blocks.
#include <benchmark/benchmark.h>

#include <errno.h>
#include <fcntl.h>
#include <linux/bpf.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "support/kernelFixture.h"
#include "tool/blockOutput.h"
#include "tool/textOutput.h"

namespace {

const uint32_t kEntries = 65536;
const char kGlobals[] = "/sys/fs/bpf/tc/globals";
int gLabelFd = -1;
fwdtest::ProxyMaps gMaps;

long Bpf(int cmd, union bpf_attr *attr)
{
   return syscall(__NR_bpf, cmd, attr, sizeof *attr);
}

bool Setup(std::string *why)
{
   *why = fwdtest::EnterPrivateNamespaces();
   if (why->empty()) {
      *why = fwdtest::MountBpfFs("/sys/fs/bpf");
   }
   if (why->empty()) {
      *why = gMaps.Create("/sys/fs/bpf", fwdtest::ProxyMapLayouts(kEntries));
   }
   for (uint32_t label = 0; why->empty() && label < kEntries; label++) {
      int rc = gMaps.AddLabelPort(label, static_cast<uint16_t>(1024 + label % 60000));
      if (rc < 0) {
         *why = std::string("filling label_port_map: ") + strerror(-rc);
      }
   }
   gLabelFd = gMaps.fd("label_port_map");
   return why->empty();
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

// Runs argv with standard output into a pipe that is drained; returns the
// bytes read, or 0 when the program failed.
size_t RunDrained(const std::vector<const char *> &argv)
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
      std::vector<char *> args;
      for (const char *a : argv) {
         args.push_back(const_cast<char *>(a));
      }
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
   }
   close(fds[1]);
   size_t bytes = Drain(fds[0]);
   close(fds[0]);
   int status = 0;
   waitpid(pid, &status, 0);
   return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? bytes : 0;
}

void BM_Fwdmaps(benchmark::State &state)
{
   size_t bytes = 0;
   for (auto _ : state) {
      bytes = RunDrained({FWD_FWDMAPS_PATH, "label_port_map"});
   }
   if (bytes == 0) {
      state.SkipWithError("fwdmaps failed");
   }
   state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_Bpftool(benchmark::State &state)
{
   std::string path = std::string(kGlobals) + "/label_port_map";
   size_t bytes = 0;
   for (auto _ : state) {
      bytes = RunDrained({"bpftool", "map", "dump", "pinned", path.c_str()});
   }
   if (bytes == 0) {
      state.SkipWithError("bpftool is not installed or failed");
   }
   state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_BareLoop(benchmark::State &state)
{
   uint32_t key = 0;
   uint16_t value = 0;
   uint64_t sum = 0;
   for (auto _ : state) {
      const void *prev = nullptr;
      for (;;) {
         union bpf_attr attr;
         memset(&attr, 0, sizeof attr);
         attr.map_fd = gLabelFd;
         attr.key = reinterpret_cast<uintptr_t>(prev);
         attr.next_key = reinterpret_cast<uintptr_t>(&key);
         if (Bpf(BPF_MAP_GET_NEXT_KEY, &attr) < 0) {
            break;
         }
         memset(&attr, 0, sizeof attr);
         attr.map_fd = gLabelFd;
         attr.key = reinterpret_cast<uintptr_t>(&key);
         attr.value = reinterpret_cast<uintptr_t>(&value);
         Bpf(BPF_MAP_LOOKUP_ELEM, &attr);
         sum += value;
         prev = &key;
      }
   }
   benchmark::DoNotOptimize(sum);
}

// The text form into a drained pipe; state.range(0) selects held lines.
void BM_DumpMapToPipe(benchmark::State &state)
{
   BpfMapRegistry registry;
   if (registry.OpenAllMaps() != 0) {
      state.SkipWithError("cannot open the maps");
      return;
   }
   for (auto _ : state) {
      int fds[2];
      if (pipe(fds) != 0) {
         state.SkipWithError("pipe");
         return;
      }
      std::thread reader([&] { Drain(fds[0]); });
      {
         BlockOutputBuf buf(fds[1], state.range(0) != 0);
         std::ostream out(&buf);
         std::ostringstream err;
         WriteTextMap(registry, "label_port_map", out, err);
      }
      close(fds[1]);
      reader.join();
      close(fds[0]);
   }
}

BENCHMARK(BM_Fwdmaps)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Bpftool)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_BareLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_DumpMapToPipe)
    ->ArgName("blocks")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

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
   void PrintRatio(const char *what, const std::string &a, const std::string &b) const
   {
      // With repetitions, compare the medians.
      auto x = mMs.count(a + "_median") ? mMs.find(a + "_median") : mMs.find(a);
      auto y = mMs.count(b + "_median") ? mMs.find(b + "_median") : mMs.find(b);
      if (x != mMs.end() && y != mMs.end() && y->second > 0) {
         printf("%-44s %.2f\n", what, x->second / y->second);
      }
   }

 private:
   std::map<std::string, double> mMs;
};

} // namespace

int main(int argc, char **argv)
{
   std::string why;
   if (!Setup(&why)) {
      fprintf(stderr, "bench_maps: %s\n", why.c_str());
      return 1;
   }
   benchmark::Initialize(&argc, argv);
   RatioReporter reporter;
   benchmark::RunSpecifiedBenchmarks(&reporter);
   printf("\nratios (wall time, same run):\n");
   reporter.PrintRatio("fwdmaps / bpftool", "BM_Fwdmaps/min_time:2.000/real_time",
                       "BM_Bpftool/min_time:2.000/real_time");
   reporter.PrintRatio("fwdmaps / bare syscall loop", "BM_Fwdmaps/min_time:2.000/real_time",
                       "BM_BareLoop/min_time:2.000/real_time");
   reporter.PrintRatio("text form line flush / blocks (into a pipe)",
                       "BM_DumpMapToPipe/blocks:0/min_time:2.000/real_time",
                       "BM_DumpMapToPipe/blocks:1/min_time:2.000/real_time");
   benchmark::Shutdown();
   return 0;
}
