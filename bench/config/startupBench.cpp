// Start-up of fwdmaps with no argument (it prints the map names): with no
// configuration file, with all five at 100 keys each, and with the five
// declaring ISO-8859-1, which needs the converters; /bin/true for scale. The
// system files exist only in a private mount namespace (overlays on /etc
// and /usr/lib whose writes land in a tmpfs), so the host sees nothing.
#include <benchmark/benchmark.h>

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

char gScratch[] = "/tmp/confstartup.XXXXXX";
std::string gHome;

std::string Setup()
{
   if (unshare(CLONE_NEWNS) != 0) {
      return std::string("unshare: ") + strerror(errno);
   }
   if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return std::string("make / private: ") + strerror(errno);
   }
   if (mkdtemp(gScratch) == nullptr) {
      return std::string("mkdtemp: ") + strerror(errno);
   }
   atexit([] {
      umount2(gScratch, MNT_DETACH);
      rmdir(gScratch);
   });
   if (mount("tmpfs", gScratch, "tmpfs", 0, "mode=0755") != 0) {
      return std::string("mount tmpfs: ") + strerror(errno);
   }
   for (const char *dir : {"/etc", "/usr/lib"}) {
      std::string base = std::string(gScratch) + dir;
      fs::create_directories(base + "/upper");
      fs::create_directories(base + "/work");
      std::string opts =
          std::string("lowerdir=") + dir + ",upperdir=" + base + "/upper,workdir=" + base + "/work";
      if (mount("overlay", dir, "overlay", 0, opts.c_str()) != 0) {
         return std::string("overlay on ") + dir + ": " + strerror(errno);
      }
   }
   gHome = std::string(gScratch) + "/home";
   fs::create_directories(gHome + "/.keltria");
   setenv("HOME", gHome.c_str(), 1);
   return "";
}

std::vector<std::string> ConfigFiles()
{
   return {"/etc/keltria/config", "/usr/lib/keltria/settings", "/usr/lib/keltria/config",
           gHome + "/.keltria/config", gHome + "/.keltria/preferences"};
}

void PlaceFiles(bool present, bool latin1)
{
   for (const std::string &path : ConfigFiles()) {
      fs::remove(path);
      if (!present) {
         continue;
      }
      fs::create_directories(fs::path(path).parent_path());
      std::ofstream out(path);
      out << "# " << path << "\n";
      if (latin1) {
         out << ".encoding = \"ISO-8859-1\"\n";
      }
      for (int i = 0; i < 100; i++) {
         out << "bench.key" << i << " = \"value " << i << (latin1 ? " \xE9" : "") << "\"\n";
      }
   }
}

double RunOnce(const char *path)
{
   auto start = std::chrono::steady_clock::now();
   pid_t pid = fork();
   if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(path, path, (char *)nullptr);
      _exit(127);
   }
   int status = 0;
   waitpid(pid, &status, 0);
   auto end = std::chrono::steady_clock::now();
   if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return -1;
   }
   return std::chrono::duration<double>(end - start).count();
}

void Measure(benchmark::State &state, const char *path)
{
   std::vector<double> samples;
   for (auto _ : state) {
      double t = RunOnce(path);
      if (t < 0) {
         state.SkipWithError("the program failed");
         break;
      }
      state.SetIterationTime(t);
      samples.push_back(t);
   }
   if (!samples.empty()) {
      std::sort(samples.begin(), samples.end());
      state.counters["median_ms"] = samples[samples.size() / 2] * 1e3;
   }
}

void BM_FwdmapsNoFiles(benchmark::State &state)
{
   PlaceFiles(false, false);
   Measure(state, FWD_FWDMAPS_PATH);
}
BENCHMARK(BM_FwdmapsNoFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FwdmapsFiveFiles(benchmark::State &state)
{
   PlaceFiles(true, false);
   Measure(state, FWD_FWDMAPS_PATH);
}
BENCHMARK(BM_FwdmapsFiveFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FwdmapsFiveLatin1Files(benchmark::State &state)
{
   PlaceFiles(true, true);
   Measure(state, FWD_FWDMAPS_PATH);
}
BENCHMARK(BM_FwdmapsFiveLatin1Files)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_True(benchmark::State &state)
{
   Measure(state, "/bin/true");
}
BENCHMARK(BM_True)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
   benchmark::Initialize(&argc, argv);
   std::string why = Setup();
   if (!why.empty()) {
      fprintf(stderr, "bench_config_startup: needs root for a private mount namespace: %s\n",
              why.c_str());
      return 0;
   }
   benchmark::RunSpecifiedBenchmarks();
   benchmark::Shutdown();
   return 0;
}
