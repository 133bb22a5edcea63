// fwdmaps -o FILE on real maps: a real node exporter serves the file, a
// SIGKILL at any moment leaves the old or the new file whole, a file that
// cannot be written keeps its old content and the error log its records,
// the service's capabilities are enough and each of them counts, and the
// service and timer pass systemd's own check.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/kernelFixture.h"
#include "support/textFiles.h"

using fwdtest::Fwdmaps;
using fwdtest::RunProcess;
using fwdtest::RunResult;

namespace {

namespace fs = std::filesystem;
using fwdtest::DirEntries;
using fwdtest::ReadFile;
using fwdtest::WriteFile;

const char kNodeExporter[] = "/usr/bin/prometheus-node-exporter";

bool Has(const std::string &text, const std::string &what)
{
   return text.find(what) != std::string::npos;
}

// A tmpfs on a directory of the test, undone however the test ends so the
// directory can go.
struct ScopedMount
{
   ScopedMount(const std::string &dir, const std::string &options)
       : dir(dir), ok(mount("fwdtest", dir.c_str(), "tmpfs", 0, options.c_str()) == 0)
   {
   }
   ~ScopedMount()
   {
      if (ok) {
         umount2(dir.c_str(), MNT_DETACH);
      }
   }
   const std::string dir;
   const bool ok;
};

class FwdmapsOutputFile : public fwdtest::ProxyMapsTest
{
 protected:
   void FillCounters()
   {
      ASSERT_EQ(mMaps.SetStats(0, {1000, 1}), 0);
      ASSERT_EQ(mMaps.SetErrCount(4, 12), 0);
   }
   void FillLog(int records)
   {
      for (int i = 0; i < records; i++) {
         ASSERT_EQ(mMaps.AddErrLog(1000 + i, i, "10.0.0.1", "10.0.0.2", 1, 6, 40000, 443), 0);
      }
   }
   fwdtest::TempDir mDir;
};

// The file node exporter serves: counters with their labels and the
// collection gauges, and no parse error, not even with a temporary file
// that a killed run left in the directory.
TEST_F(FwdmapsOutputFile, NodeExporterServesTheCountersItWrites)
{
   if (access(kNodeExporter, X_OK) != 0) {
      GTEST_SKIP() << kNodeExporter << " is not installed (scripts/packages.txt installs it)";
   }
   FillCounters();
   RunResult lo = RunProcess({"/sbin/ip", "link", "set", "lo", "up"});
   ASSERT_EQ(lo.status, 0) << lo.err;

   const std::string file = mDir.path() + "/fwdmaps.prom";
   RunResult r = Fwdmaps({"--prometheus", "-o", file});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_EQ(r.out + r.err, "");
   WriteFile(mDir.path() + "/.fwdmaps.prom.Xy12Zw", "half a metr");

   fwdtest::TempDir logDir;
   const std::string log = logDir.path() + "/node-exporter.log";
   const int port = 9100;
   pid_t exporter = fwdtest::StartProcess({kNodeExporter,
                                           "--web.listen-address=127.0.0.1:" + std::to_string(port),
                                           "--collector.disable-defaults", "--collector.textfile",
                                           "--collector.textfile.directory=" + mDir.path()},
                                          log);
   ASSERT_GT(exporter, 0);
   // Asked until it answers, for up to ten seconds.
   const std::string metrics =
       RunProcess(
           {"/usr/bin/python3", "-c",
            "import sys, time, urllib.request\n"
            "for _ in range(200):\n"
            "  try: sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode()); break\n"
            "  except OSError: time.sleep(0.05)\n",
            "http://127.0.0.1:" + std::to_string(port) + "/metrics"})
           .out;
   int stopped = fwdtest::StopProcess(exporter, SIGTERM);
   ASSERT_FALSE(metrics.empty()) << "no answer from the node exporter:\n" << ReadFile(log);
   EXPECT_NE(stopped, -1);

   for (const char *line : {
            "bpf_fwd_stats_bytes_total{counter=\"rx\",cpu=\"0\"} 1000\n",
            "bpf_fwd_stats_all_cpus_bytes_total{counter=\"rx\"} 1001\n",
            "bpf_fwd_err_total{code=\"4\",error=\"do check sum\"} 12\n",
            "# TYPE fwdmaps_last_collection_success gauge\n",
            "fwdmaps_last_collection_success 1\n",
            "node_textfile_scrape_error 0\n",
        }) {
      EXPECT_TRUE(Has(metrics, line)) << line;
   }
   EXPECT_FALSE(Has(ReadFile(log), "level=error")) << ReadFile(log);
}

// SIGKILL at points spread over whole runs that write a large output: FILE
// is always the old file or the new one, whole; only a killed run leaves a
// temporary file, and its name is not one the collector reads.
TEST_F(FwdmapsOutputFile, SigkillLeavesTheOldOrTheNewFileWhole)
{
   const uint32_t labels = 40000;
   fwdtest::RemoveProxyPins(mBpfFs);
   fwdtest::ProxyMaps big;
   ASSERT_EQ(big.Create(mBpfFs, fwdtest::ProxyMapLayouts(labels)), "");
   for (uint32_t label = 0; label < labels; label++) {
      ASSERT_EQ(big.AddLabelPort(label, static_cast<uint16_t>(label)), 0);
   }
   const std::string file = mDir.path() + "/labels.prom";
   const std::vector<std::string> args = {FWD_FWDMAPS_PATH, "-o", file, "label_port_map"};

   auto start = std::chrono::steady_clock::now();
   RunResult whole = RunProcess(args);
   auto runTime = std::chrono::steady_clock::now() - start;
   ASSERT_EQ(whole.status, 0) << whole.err;
   const std::string newText = ReadFile(file);
   ASSERT_GT(newText.size(), 500000u);
   const std::string oldText = "label :0x0\tport : 1\n";

   int killedMidWrite = 0;
   const int kills = 24;
   for (int i = 0; i < kills; i++) {
      WriteFile(file, oldText);
      pid_t pid = fwdtest::StartProcess(args);
      ASSERT_GT(pid, 0);
      // From at once to past the end of a run.
      std::this_thread::sleep_for(runTime * i / (kills * 3 / 4));
      int status = fwdtest::StopProcess(pid, SIGKILL);
      EXPECT_TRUE(status == 128 + SIGKILL || status == 0) << "kill " << i << ": " << status;
      const std::string now = ReadFile(file);
      EXPECT_TRUE(now == oldText || now == newText) << "kill " << i << ": neither file, whole";
      for (const std::string &name : DirEntries(mDir.path())) {
         if (name == "labels.prom") {
            continue;
         }
         EXPECT_EQ(name.rfind(".labels.prom.", 0), 0u) << name;
         EXPECT_NE(name.substr(name.size() - 5), ".prom") << name;
         killedMidWrite++;
         fs::remove(mDir.path() + "/" + name);
      }
   }
   EXPECT_GT(killedMidWrite, 0) << "no kill landed while the file was written";
}

// The temporary files of runs killed outright are removed by the next run
// for the same file; one that a live run holds locked stays, and so do
// names that only look alike. The file gets mode 0644 whatever the umask.
// A target that cannot be a file is named with the step that failed, and
// nothing is left (the map list needs no maps).
TEST(FwdmapsOutputTargets, StaleTemporariesModeAndTargetsThatAreNoFile)
{
   fwdtest::TempDir dir;
   const std::string live = WriteFile(dir.path() + "/.maps.txt.live02", "being written");
   for (const char *name : {".maps.txt.dead01", ".maps.txt.toolong7", ".other.txt.dead03"}) {
      WriteFile(dir.path() + "/" + name, "left behind");
   }
   int fd = open(live.c_str(), O_RDONLY | O_CLOEXEC);
   ASSERT_EQ(flock(fd, LOCK_EX), 0) << strerror(errno);
   mode_t mask = umask(077);
   RunResult r = Fwdmaps({"-o", dir.path() + "/maps.txt"});
   umask(mask);
   close(fd);
   EXPECT_EQ(r.status, 0) << r.err;
   const std::vector<std::string> kept = {".maps.txt.live02", ".maps.txt.toolong7",
                                          ".other.txt.dead03", "maps.txt"};
   EXPECT_EQ(DirEntries(dir.path()), kept);
   EXPECT_EQ(fs::status(dir.path() + "/maps.txt").permissions(), fs::perms(0644));

   fs::create_directories(dir.path() + "/maps.txt.d/not-empty");
   const std::pair<std::string, std::string> targets[] = {
       {"/maps.txt.d", "cannot rename the temporary file over it: Is a directory"},
       {"/missing/maps.txt", "cannot create a temporary file in its directory: No such file"},
       {"/", "not a file name: Is a directory"},
   };
   for (const auto &[name, why] : targets) {
      r = Fwdmaps({"-o", dir.path() + name});
      EXPECT_EQ(r.status, 1) << name;
      EXPECT_EQ(r.err.rfind("fwdmaps: " + dir.path() + name + ": " + why, 0), 0u) << r.err;
      EXPECT_EQ(DirEntries(dir.path() + "/maps.txt.d"), std::vector<std::string>{"not-empty"});
   }
   std::vector<std::string> all = kept;
   all.push_back("maps.txt.d");
   EXPECT_EQ(DirEntries(dir.path()), all);
}

// Where flock answers ENOLCK (a file system without locks) the file is
// written all the same, and no temporary is left.
TEST(FwdmapsOutputTargets, WithoutFileLocksTheFileIsWrittenAndNothingLeft)
{
   fwdtest::TempDir dir;
   pid_t pid = fork();
   ASSERT_GE(pid, 0);
   if (pid == 0) { // the filter holds for this child and what it runs
      struct sock_filter code[] = {
          BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_flock, 0, 1),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOLCK),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      };
      struct sock_fprog prog = {4, code};
      if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
          prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0) {
         _exit(99);
      }
      _exit(Fwdmaps({"-o", dir.path() + "/maps.txt"}).status);
   }
   int status = 0;
   ASSERT_EQ(waitpid(pid, &status, 0), pid);
   EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
   EXPECT_EQ(DirEntries(dir.path()), std::vector<std::string>{"maps.txt"});
}

// A file that cannot be written for want of space: status 1, the reason,
// the old content, no temporary file, and the error log keeps every record;
// once the file is written, they are deleted. (Standard output that cannot be
// written, and a file that cannot be created, are seen elsewhere.)
TEST_F(FwdmapsOutputFile, FullFileSystemChangesNothing)
{
   FillLog(600);
   const std::string dir = mDir.path() + "/textfile";
   fs::create_directories(dir);
   const std::string file = dir + "/fwdmaps.txt";
   {
      // Room for the old file and a little more, then filled; the listing of
      // 600 records is larger.
      ScopedMount small(dir, "size=16k");
      ASSERT_TRUE(small.ok) << strerror(errno);
      WriteFile(file, "# the old file\n");
      std::ofstream filler(dir + "/filler");
      std::string block(4096, 'x');
      while (filler.write(block.data(), block.size()) && filler.flush()) {
      }
      RunResult r = Fwdmaps({"-o", file, "bpf_fwd_err_log"});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out + r.err, "fwdmaps: " + file +
                                   ": cannot write the temporary file: No space left on device\n"
                                   "fwdmaps: bpf_fwd_err_log: no record deleted\n");
      EXPECT_EQ(ReadFile(file), "# the old file\n");
      EXPECT_EQ(DirEntries(dir), (std::vector<std::string>{"filler", "fwdmaps.txt"}));
      EXPECT_EQ(LogRecords(), 600);
   }
   RunResult r = Fwdmaps({"-o", file, "bpf_fwd_err_log"});
   EXPECT_EQ(r.status, 0) << r.err;
   const std::string listing = ReadFile(file);
   EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 600);
   EXPECT_EQ(LogRecords(), 0);
}

// The capabilities CapabilityBoundingSet= of the metrics service names, as
// setpriv gives them: root under no_new_privs with those alone in the
// bounding, permitted and effective sets. They are enough to write the
// metrics of real pinned maps. Without one of them, wherever the kernel then
// refuses the maps (bpftool, under the same sets, tells), fwdmaps fails with
// the pin and the reason and a failed collection in the file; kernels from
// 6.5 on open root's pins without CAP_BPF.
TEST_F(FwdmapsOutputFile, MetricsServiceCapabilitiesAreEnoughAndEachCounts)
{
   const char setpriv[] = "/usr/bin/setpriv";
   const char bpftool[] = "/usr/sbin/bpftool";
   for (const char *tool : {setpriv, bpftool}) {
      if (access(tool, X_OK) != 0) {
         GTEST_SKIP() << tool << " is not installed (scripts/packages.txt installs it)";
      }
   }
   FillCounters();
   const std::string unit =
       ReadFile(std::string(FWD_SOURCE_DIR) + "/tool/systemd/fwdmaps-metrics.service");
   const std::string key = "\nCapabilityBoundingSet=";
   const size_t at = unit.find(key);
   ASSERT_NE(at, std::string::npos) << "the service names no capability";
   std::istringstream names(
       unit.substr(at + key.size(), unit.find('\n', at + 1) - at - key.size()));
   const std::vector<std::string> caps{std::istream_iterator<std::string>(names), {}};

   // Runs `argv` with exactly the capabilities `keep`.
   auto under = [&](const std::vector<std::string> &keep, const std::vector<std::string> &argv) {
      std::string bounding = "--bounding-set=-all";
      for (const std::string &cap : keep) {
         std::string name = cap.substr(cap.rfind("CAP_", 0) == 0 ? 4 : 0);
         std::transform(name.begin(), name.end(), name.begin(), ::tolower);
         bounding += ",+" + name;
      }
      std::vector<std::string> args = {
          setpriv, "--no-new-privs", "--inh-caps=-all", "--ambient-caps=-all", bounding, "--"};
      args.insert(args.end(), argv.begin(), argv.end());
      return RunProcess(args);
   };

   const std::string file = mDir.path() + "/fwdmaps.prom";
   const std::string pin = mBpfFs + "/tc/globals/label_port_map";
   // The service's set, then that set without each of its capabilities.
   for (size_t without = 0; without <= caps.size(); without++) {
      std::vector<std::string> keep = caps;
      if (without > 0) {
         keep.erase(keep.begin() + static_cast<long>(without - 1));
      }
      SCOPED_TRACE(without == 0 ? "the service's set" : "without " + caps[without - 1]);
      RunResult probe = under(keep, {bpftool, "map", "show", "pinned", pin});
      const bool kernelOpens = probe.status == 0;
      RunResult r = under(keep, {FWD_FWDMAPS_PATH, "--prometheus", "-o", file});
      const std::string metrics = ReadFile(file);
      if (without == 0) {
         EXPECT_TRUE(kernelOpens) << "bpftool cannot open " << pin << " with the service's set";
      }
      if (kernelOpens) {
         EXPECT_EQ(r.status, 0) << r.err;
         EXPECT_TRUE(Has(metrics, "bpf_fwd_err_total{code=\"4\",error=\"do check sum\"} 12\n"));
         EXPECT_TRUE(Has(metrics, "fwdmaps_last_collection_success 1\n")) << metrics;
      } else {
         // bpftool: "Error: bpf obj get (PIN): REASON".
         const std::string reason = probe.err.substr(probe.err.rfind("): ") + 3);
         EXPECT_EQ(r.status, 255);
         EXPECT_EQ(r.err.rfind("fwdmaps: " + mBpfFs, 0), 0u) << r.err;
         EXPECT_TRUE(Has(r.err, "/tc/globals/label_port_map: " + reason)) << r.err << probe.err;
         EXPECT_TRUE(Has(metrics, "fwdmaps_last_collection_success 0\n")) << metrics;
      }
   }
}

} // namespace
