// The log facility's hot paths against spdlog: a message rejected by the
// level, a 100-byte message formatted and kept (our pre-output ring buffer;
// spdlog's discard sink), and the same message written to a log file with
// one write per line (our file output; spdlog's file sink flushed after
// every message; the floor, vsnprintf and one write). Every heap allocation
// made while a benchmark runs is counted and reported per message.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "lib/log/log.h"
#include "lib/log/logConfig.h"
#include "lib/log/logFile.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<uint64_t> allocations{0};

void CountAllocation()
{
   if (counting.load(std::memory_order_relaxed)) {
      allocations.fetch_add(1, std::memory_order_relaxed);
   }
}

} // namespace

// Counting allocator: every C and C++ allocation in the process passes here.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

extern "C" void *malloc(size_t size)
{
   CountAllocation();
   return __libc_malloc(size);
}

extern "C" void *calloc(size_t n, size_t size)
{
   CountAllocation();
   return __libc_calloc(n, size);
}

extern "C" void *realloc(void *p, size_t size)
{
   CountAllocation();
   return __libc_realloc(p, size);
}

void *operator new(size_t size)
{
   CountAllocation();
   void *p = __libc_malloc(size);
   if (p == nullptr) {
      throw std::bad_alloc();
   }
   return p;
}

void operator delete(void *p) noexcept
{
   __libc_free(p);
}

void operator delete(void *p, size_t) noexcept
{
   __libc_free(p);
}

namespace {

double ThreadSeconds(bool user)
{
   struct rusage ru;
   getrusage(RUSAGE_THREAD, &ru);
   const struct timeval &tv = user ? ru.ru_utime : ru.ru_stime;
   return (double)tv.tv_sec + (double)tv.tv_usec / 1e6;
}

// Counts allocations, and splits the CPU time into user and system time
// per message: the write is the same system call everywhere, so the user
// time is where the loggers differ.
class AllocationCounter
{
 public:
   AllocationCounter() : mUser(ThreadSeconds(true)), mSys(ThreadSeconds(false))
   {
      allocations.store(0);
      counting.store(true);
   }
   void Report(benchmark::State &state)
   {
      counting.store(false);
      double n = (double)(state.iterations() ? state.iterations() : 1);
      state.counters["allocs/msg"] = benchmark::Counter((double)allocations.load() / n);
      state.counters["user_ns"] = benchmark::Counter((ThreadSeconds(true) - mUser) * 1e9 / n);
      state.counters["sys_ns"] = benchmark::Counter((ThreadSeconds(false) - mSys) * 1e9 / n);
   }

 private:
   double mUser;
   double mSys;
};

std::shared_ptr<spdlog::logger> DiscardLogger()
{
   static std::shared_ptr<spdlog::logger> logger = [] {
      auto l = std::make_shared<spdlog::logger>("bench",
                                                std::make_shared<spdlog::sinks::null_sink_mt>());
      l->set_level(spdlog::level::info);
      return l;
   }();
   return logger;
}

// 100 bytes once formatted, newline included.
#define KEPT_FORMAT "request %d from %s took %d us, status %s, bytes %d, route %s/%s\n"
#define KEPT_FMT "request {} from {} took {} us, status {}, bytes {}, route {}/{}"

void BM_LogRejected(benchmark::State &state)
{
   int i = 0;
   AllocationCounter counter;
   for (auto _ : state) {
      Log_Level(LOG_VERBOSE, "value %d", i++);
   }
   counter.Report(state);
}
BENCHMARK(BM_LogRejected);

void BM_SpdlogRejected(benchmark::State &state)
{
   auto logger = DiscardLogger();
   int i = 0;
   AllocationCounter counter;
   for (auto _ : state) {
      logger->debug("value {}", i++);
   }
   counter.Report(state);
}
BENCHMARK(BM_SpdlogRejected);

// Logs the 100-byte message once per iteration, counting allocations.
void LogKeptMessages(benchmark::State &state)
{
   int i = 0;
   AllocationCounter counter;
   for (auto _ : state) {
      Log(KEPT_FORMAT, 100000 + i % 100000, "10.20.30.40:5555", 12345, "complete", 4096, "main",
          "h264-07");
      i++;
   }
   counter.Report(state);
   state.SetBytesProcessed(state.iterations() * 100);
}

void BM_LogKeptInRingBuffer(benchmark::State &state)
{
   LogKeptMessages(state);
}
BENCHMARK(BM_LogKeptInRingBuffer);

// The same 100-byte message through spdlog's `logger`.
void SpdlogKeptMessages(benchmark::State &state, spdlog::logger &logger)
{
   int i = 0;
   AllocationCounter counter;
   for (auto _ : state) {
      logger.info(KEPT_FMT, 100000 + i % 100000, "10.20.30.40:5555", 12345, "complete", 4096,
                  "main", "h264-07");
      i++;
   }
   counter.Report(state);
   state.SetBytesProcessed(state.iterations() * 100);
}

void BM_SpdlogKeptInDiscardSink(benchmark::State &state)
{
   SpdlogKeptMessages(state, *DiscardLogger());
}
BENCHMARK(BM_SpdlogKeptInDiscardSink);

// Control: shows that the counter sees allocations (one per iteration).
void BM_AllocatorControl(benchmark::State &state)
{
   AllocationCounter counter;
   for (auto _ : state) {
      std::string s(100, 'x');
      benchmark::DoNotOptimize(s.data());
   }
   counter.Report(state);
}
BENCHMARK(BM_AllocatorControl);

// The log files live in one temporary directory, removed at exit.
const std::string &BenchDir()
{
   static std::string dir = [] {
      char tmpl[] = "/tmp/bench_log.XXXXXX";
      std::string d = mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
      atexit([] {
         std::string cmd = "rm -rf " + BenchDir();
         if (BenchDir() != "/tmp" && system(cmd.c_str()) != 0) {
            fprintf(stderr, "could not remove %s\n", BenchDir().c_str());
         }
      });
      return d;
   }();
   return dir;
}

// Our file output with the default prefix, throttling off so that every
// line is written.
void BM_LogToFile(benchmark::State &state)
{
   std::string path = BenchDir() + "/ours.log";
   LogOutput *out = Log_InitWithFile(nullptr, nullptr, path.c_str());
   if (out == nullptr) {
      state.SkipWithError("no file output");
      return;
   }
   Log_DisableThrottling();
   LogKeptMessages(state);
   Log_Exit();
   unlink(path.c_str());
}
BENCHMARK(BM_LogToFile);

// spdlog's file sink with a prefix of the same content, flushed after every
// message so that each line reaches the file with one write, as ours does.
void BM_SpdlogToFileFlushed(benchmark::State &state)
{
   std::string path = BenchDir() + "/spdlog.log";
   auto logger = std::make_shared<spdlog::logger>(
       "file", std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true));
   logger->set_pattern("%Y-%m-%dT%H:%M:%S.%eZ In(05) %t %v", spdlog::pattern_time_type::utc);
   logger->set_level(spdlog::level::info);
   logger->flush_on(spdlog::level::info);
   SpdlogKeptMessages(state, *logger);
   logger.reset();
   unlink(path.c_str());
}
BENCHMARK(BM_SpdlogToFileFlushed);

// The floor: the same line (a fixed prefix of the same length and the
// message) formatted with vsnprintf and written with one write.
__attribute__((format(printf, 2, 3))) void FloorLine(int fd, const char *fmt, ...)
{
   char buf[512];
   va_list args;
   va_start(args, fmt);
   int n = vsnprintf(buf, sizeof buf, fmt, args);
   va_end(args);
   if (n > 0 && write(fd, buf, (size_t)n) != n) {
      abort();
   }
}

void BM_FloorVsnprintfWrite(benchmark::State &state)
{
   std::string path = BenchDir() + "/floor.log";
   int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
   int i = 0;
   AllocationCounter counter;
   for (auto _ : state) {
      FloorLine(fd, "%s" KEPT_FORMAT, "2026-12-06T12:00:00.000Z In(05) host-12345 ",
                100000 + i % 100000, "10.20.30.40:5555", 12345, "complete", 4096, "main",
                "h264-07");
      i++;
   }
   counter.Report(state);
   state.SetBytesProcessed(state.iterations() * 100);
   close(fd);
   unlink(path.c_str());
}
BENCHMARK(BM_FloorVsnprintfWrite);

// Keeps the real time of each benchmark (the median with repetitions) for
// the ratios the goals are set in.
class RatioReporter : public benchmark::ConsoleReporter
{
 public:
   RatioReporter() : ConsoleReporter(OO_Tabular) {}

   void ReportRuns(const std::vector<Run> &runs) override
   {
      for (const Run &run : runs) {
         bool median = run.aggregate_name == "median";
         if (!run.error_occurred && (median || run.run_type == Run::RT_Iteration)) {
            mNs[run.run_name.function_name] = run.GetAdjustedRealTime();
         }
      }
      ConsoleReporter::ReportRuns(runs);
   }
   void PrintRatio(const char *a, const char *b) const
   {
      auto x = mNs.find(a), y = mNs.find(b);
      if (x != mNs.end() && y != mNs.end() && y->second > 0) {
         printf("%-24s / %-24s %5.2f  (%.0f / %.0f ns)\n", a, b, x->second / y->second, x->second,
                y->second);
      }
   }

 private:
   std::map<std::string, double> mNs;
};

} // namespace

int main(int argc, char **argv)
{
   benchmark::Initialize(&argc, argv);
   RatioReporter reporter;
   benchmark::RunSpecifiedBenchmarks(&reporter);
   printf("\nratios (real time, medians, same run):\n");
   reporter.PrintRatio("BM_LogKeptInRingBuffer", "BM_SpdlogKeptInDiscardSink");
   reporter.PrintRatio("BM_LogToFile", "BM_SpdlogToFileFlushed");
   reporter.PrintRatio("BM_LogToFile", "BM_FloorVsnprintfWrite");
   benchmark::Shutdown();
   return 0;
}
