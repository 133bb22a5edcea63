// PipeConnection round trips between two processes against a plain
// write/read pair on the same kind of pipes, 64 B and 8 KiB. A child
// echoes every message; the parent times send + receive of the echo (wall
// clock, since half the work happens in the child). Real time swings with
// the machine's load, so each benchmark also reports `cpu_ns`: the CPU time
// of parent and child together per round trip, which does not.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "supervision/pipeConnection.h"

namespace {

bool ReadFull(int fd, char *buf, size_t len)
{
   for (size_t got = 0; got < len;) {
      ssize_t n = read(fd, buf + got, len - got);
      if (n <= 0) {
         return false;
      }
      got += static_cast<size_t>(n);
   }
   return true;
}

bool WriteFull(int fd, const char *buf, size_t len)
{
   for (size_t put = 0; put < len;) {
      ssize_t n = write(fd, buf + put, len - put);
      if (n <= 0) {
         return false;
      }
      put += static_cast<size_t>(n);
   }
   return true;
}

/// Two pipes and an echo child that runs `echo(readFd, writeFd)`; the
/// parent keeps the other ends.
struct EchoChild
{
   template <typename Echo> explicit EchoChild(Echo echo)
   {
      int toChild[2], fromChild[2];
      if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
         abort();
      }
      pid = fork();
      if (pid == 0) {
         close(toChild[1]);
         close(fromChild[0]);
         echo(toChild[0], fromChild[1]);
         _exit(0);
      }
      close(toChild[0]);
      close(fromChild[1]);
      readFd = fromChild[0];
      writeFd = toChild[1];
   }
   /// Ends the child once it is done (its input closed) and returns its
   /// CPU time in nanoseconds.
   double finish()
   {
      struct rusage usage = {};
      wait4(pid, nullptr, 0, &usage);
      pid = -1;
      return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e9 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e3;
   }
   ~EchoChild()
   {
      if (pid > 0) {
         kill(pid, SIGKILL);
         waitpid(pid, nullptr, 0);
      }
   }
   pid_t pid;
   int readFd;
   int writeFd;
};

double ThreadCpuNs()
{
   struct timespec ts;
   clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
   return ts.tv_sec * 1e9 + ts.tv_nsec;
}

/// Reports bytes and the CPU time of both processes per round trip.
void Report(benchmark::State &state, double parentNs, double childNs)
{
   double trips = static_cast<double>(state.iterations());
   state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
   state.counters["cpu_ns"] = trips > 0 ? (parentNs + childNs) / trips : 0;
}

void BM_PipeConnectionRoundTrip(benchmark::State &state)
{
   const std::string msg(static_cast<size_t>(state.range(0)), 'a');
   EchoChild child([](int in, int out) {
      PipeConnection conn(in, out);
      try {
         for (;;) {
            conn.sendMsg(conn.recvMsg());
         }
      } catch (const PipeException &) {
      }
   });
   double parentNs = 0;
   {
      PipeConnection conn(child.readFd, child.writeFd);
      double cpu0 = ThreadCpuNs();
      for (auto _ : state) {
         if (!conn.sendMsg(msg) || conn.recvMsg().size() != msg.size()) {
            state.SkipWithError("round trip failed");
            break;
         }
      }
      parentNs = ThreadCpuNs() - cpu0;
   }
   Report(state, parentNs, child.finish());
}

void BM_BareWriteReadRoundTrip(benchmark::State &state)
{
   const size_t len = static_cast<size_t>(state.range(0));
   EchoChild child([len](int in, int out) {
      std::string buf(len, '\0');
      while (ReadFull(in, &buf[0], len) && WriteFull(out, buf.data(), len)) {
      }
   });
   std::string msg(len, 'a'), back(len, '\0');
   double cpu0 = ThreadCpuNs();
   for (auto _ : state) {
      if (!WriteFull(child.writeFd, msg.data(), len) || !ReadFull(child.readFd, &back[0], len)) {
         state.SkipWithError("round trip failed");
         break;
      }
   }
   double parentNs = ThreadCpuNs() - cpu0;
   close(child.readFd);
   close(child.writeFd);
   Report(state, parentNs, child.finish());
}

BENCHMARK(BM_PipeConnectionRoundTrip)->Arg(64)->Arg(8192)->UseRealTime();
BENCHMARK(BM_BareWriteReadRoundTrip)->Arg(64)->Arg(8192)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
