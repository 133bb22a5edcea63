// The log facility's two hot paths against spdlog: a message rejected by the
// level, and a 100-byte message formatted and kept (our pre-output ring
// buffer; spdlog's discard sink). Every heap allocation made while a
// benchmark runs is counted and reported per message.
#include <dlfcn.h>
#include <stdlib.h>

#include <atomic>
#include <memory>
#include <new>
#include <string>

#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "lib/log/log.h"

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

class AllocationCounter
{
 public:
   AllocationCounter()
   {
      allocations.store(0);
      counting.store(true);
   }
   void Report(benchmark::State &state)
   {
      counting.store(false);
      state.counters["allocs/msg"] = benchmark::Counter(
          (double)allocations.load() / (double)(state.iterations() ? state.iterations() : 1));
   }
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

void BM_LogKeptInRingBuffer(benchmark::State &state)
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
BENCHMARK(BM_LogKeptInRingBuffer);

void BM_SpdlogKeptInDiscardSink(benchmark::State &state)
{
   auto logger = DiscardLogger();
   int i = 0;
   AllocationCounter counter;
   for (auto _ : state) {
      logger->info(KEPT_FMT, 100000 + i % 100000, "10.20.30.40:5555", 12345, "complete", 4096,
                   "main", "h264-07");
      i++;
   }
   counter.Report(state);
   state.SetBytesProcessed(state.iterations() * 100);
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

} // namespace

BENCHMARK_MAIN();
