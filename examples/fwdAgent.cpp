// The reference agent: every agent-side layer in one process. It starts
// its log, writes the desktop identity, attaches the proxy to the
// interface of an address, supervises fwd_worker (which serves the worker
// port) and registers the port the worker reports, logs the proxy's
// counters every second, and on SIGTERM takes everything down again.
//
//    fwd_agent <object> <address> <worker port> [<label>=<port> ...] [--fail-verify]
//
// Threads: the main thread owns the proxy context and waits in ppoll for
// worker messages, worker exits and SIGTERM (blocked everywhere else); the
// executor's one thread reads the counters; the supervision and the log
// redirection add their own. The proxy's registry is not thread safe, so
// every use of it holds mRegistryLock.
//
// --fail-verify (or the preference fwd_agent.failVerify) makes the counter
// job fail a VERIFY on the executor thread: the panic path then ends the
// process with status 255, dumping core where the log says.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "bpfproxy/bpfContext.h"
#include "bpfproxy/bpfSyscall.h"
#include "common/commonUtils.h"
#include "examples/portText.h"
#include "lib/config/config.h"
#include "lib/config/preference.h"
#include "lib/log/log.h"
#include "lib/misc/file.h"
#include "lib/misc/productState.h"
#include "lib/panic/panic.h"
#include "lib/sig/sig.h"
#include "supervision/loggerWrapper.h"
#include "supervision/pipeConnection.h"
#include "supervision/rdeProcess.h"
#include "supervision/supervised.h"
#include "supervision/taskExecutor.h"
#include "tool/records.h"

#define PANIC_SOURCE "fwd/examples/fwdAgent"

namespace {

const char kName[] = "fwd_agent";
const char kWorkerName[] = "fwd_worker";
/// The worker's end of the message pipe, as fwd_worker expects it.
constexpr int kWorkerMessageFd = 3;

struct Options
{
   std::string object;
   std::string address;
   uint16_t workerPort = 0;
   std::vector<std::pair<uint32_t, uint16_t>> labels;
   bool failVerify = false;
};

bool ParseLabel(const char *text, uint32_t &label, uint16_t &port)
{
   const char *eq = strchr(text, '=');
   if (eq == nullptr) {
      return false;
   }
   std::string head(text, eq);
   char *end = nullptr;
   errno = 0;
   unsigned long long v = strtoull(head.c_str(), &end, 0);
   if (errno != 0 || head.empty() || *end != '\0' || v > 0xFFFFFFFFull) {
      return false;
   }
   label = static_cast<uint32_t>(v);
   return ParsePort(eq + 1, port);
}

bool ParseOptions(int argc, char **argv, Options &o)
{
   std::vector<const char *> plain;
   for (int i = 1; i < argc; i++) {
      if (strcmp(argv[i], "--fail-verify") == 0) {
         o.failVerify = true;
      } else {
         plain.push_back(argv[i]);
      }
   }
   if (plain.size() < 3) {
      fprintf(stderr, "usage: fwd_agent <object> <address> <worker port> [<label>=<port> ...] "
                      "[--fail-verify]\n");
      return false;
   }
   o.object = plain[0];
   o.address = plain[1];
   if (!ParsePort(plain[2], o.workerPort)) {
      fprintf(stderr, "fwd_agent: bad worker port: %s\n", plain[2]);
      return false;
   }
   for (size_t i = 3; i < plain.size(); i++) {
      uint32_t label;
      uint16_t port;
      if (!ParseLabel(plain[i], label, port)) {
         fprintf(stderr, "fwd_agent: bad label, want <label>=<port>: %s\n", plain[i]);
         return false;
      }
      o.labels.emplace_back(label, port);
   }
   return true;
}

/// The text of `key` in a flat JSON object: a number or a string without
/// escapes. Empty when absent.
std::string JsonField(const std::string &doc, const std::string &key)
{
   size_t at = doc.find("\"" + key + "\"");
   if (at == std::string::npos || (at = doc.find(':', at)) == std::string::npos) {
      return "";
   }
   at = doc.find_first_not_of(" \t", at + 1);
   if (at == std::string::npos) {
      return "";
   }
   if (doc[at] == '"') {
      size_t end = doc.find('"', at + 1);
      return end == std::string::npos ? "" : doc.substr(at + 1, end - at - 1);
   }
   size_t end = doc.find_first_of(",} \t", at);
   return doc.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

/// fwd_worker beside this program, unless fwd_agent.workerPath names one.
std::string WorkerPath()
{
   char *configured = Config_GetString(nullptr, "%s.workerPath", kName);
   if (configured != nullptr) {
      std::string path = configured;
      free(configured);
      return path;
   }
   char self[4096];
   ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
   if (n <= 0) {
      return kWorkerName;
   }
   std::string path(self, static_cast<size_t>(n));
   return path.substr(0, path.rfind('/') + 1) + kWorkerName;
}

/// The agent's supervised worker: tells the agent of every exit before the
/// restart that RdeProcess makes, so the port is removed before the new
/// worker can register it again.
class WorkerProcess : public RdeProcess
{
 public:
   WorkerProcess(int outFd, int exitEventFd)
       : RdeProcess(kWorkerName, 1, outFd), mExitEventFd(exitEventFd)
   {
   }
   void onExitCb() override
   {
      uint64_t one = 1;
      if (write(mExitEventFd, &one, sizeof one) != sizeof one) {
         Log_Level(2, "%s: cannot signal the worker's exit: %s\n", kName, strerror(errno));
      }
      // A worker that gives up by itself (its port taken, say) would give up
      // again at once: a pause keeps that from becoming a fork loop. One
      // killed by a signal comes back at once.
      int code = getExitCode();
      if (code >= 0 && code < 128 && getAutoRestart()) {
         Log_Level(3, "%s: the worker ended by itself (status %d); restart in 1 s\n", kName, code);
         sleep(1);
      }
      RdeProcess::onExitCb();
   }

 private:
   const int mExitEventFd;
};

/// Byte counters by index (rx, rx end, tx, tx end) and error counts by code.
struct Counters
{
   uint64_t bytes[4] = {};
   std::map<uint32_t, uint64_t> errors; ///< named codes only
};

class Agent
{
 public:
   explicit Agent(const Options &o) : mOptions(o) {}

   /// Everything up to the first worker start; false (logged) on failure.
   bool Start();
   /// Waits for worker messages, worker exits and the next counter tick
   /// with SIGTERM let in; returns only when ppoll fails. Never inlined
   /// into main: locals of the frame that holds the jump point do not
   /// survive the jump.
   __attribute__((noinline)) void Run(const sigset_t &waitMask);
   /// The clean-up, in order: executor, worker, proxy, log. `why` is
   /// logged first.
   void Stop(const char *why);

 private:
   void OnWorkerExit();
   void OnWorkerMessage();
   void ScheduleCounters();
   void LogCounters();
   Counters ReadCounters();

   const Options mOptions;
   std::unique_ptr<BpfContext> mContext;
   std::mutex mRegistryLock;
   int mMessageRead = -1;
   int mMessageWrite = -1;
   int mExitEvent = -1;
   std::unique_ptr<PipeConnection> mMessages;
   std::string mToken;
   std::unique_ptr<Supervised<WorkerProcess>> mWorker;
   uint16_t mRegisteredPort = 0; ///< host order; 0 while none is registered
   std::unique_ptr<TaskExecutor> mExecutor;
   std::future<void> mCountersDone;
   Counters mLastCounters;
};

bool Agent::Start()
{
   // The desktop identity: the magic first (every token derives from it),
   // then this host's identity file for display :0. The identity files'
   // folder lies in the magic's, so making it makes both.
   std::string idDir = CommonUtils::kDesktopIdPrefix;
   File_EnsureDirectory(idDir.substr(0, idDir.rfind('/')).c_str(), 0755);
   std::string magic = CommonUtils::GetDesktopMagic();
   if (magic.empty()) {
      bool handed = CommonUtils::SetDesktopMagic();
      magic = CommonUtils::GetDesktopMagic();
      Log("%s: desktop magic created in %s%s\n", kName, CommonUtils::kDesktopMagicPath,
          handed ? "" : " (not handed to the relay user)");
   }
   if (magic.empty()) {
      Log_Level(2, "%s: no desktop magic in %s\n", kName, CommonUtils::kDesktopMagicPath);
      return false;
   }
   const std::string desktopId = CommonUtils::GenerateDesktopToken("display:0", magic);
   bool idWritten = CommonUtils::SetDesktopId(":0", desktopId);
   Log("%s: desktop identity for :0 %s %s\n", kName, idWritten ? "written to" : "NOT written to",
       CommonUtils::BuildDisplayFile(CommonUtils::kDesktopIdPrefix, ":0").c_str());
   Log("%s: distribution \"%s\", host domain \"%s\"\n", kName,
       CommonUtils::GetDistribution().c_str(), CommonUtils::GetHostDomain().c_str());

   const bool v6 = mOptions.address.find(':') != std::string::npos;
   mContext.reset(
       BpfProxyInit(mOptions.object, v6 ? mOptions.address : "", v6 ? "" : mOptions.address));
   if (!mContext) {
      Log_Level(2, "%s: attaching the proxy for %s failed\n", kName, mOptions.address.c_str());
      return false;
   }
   Log("%s: proxy attached to %s (egress and ingress)\n", kName, mContext->GetNic().c_str());
   for (const auto &l : mOptions.labels) {
      int rc = mContext->SetLabelPort(l.first, htons(l.second));
      Log("%s: label 0x%x -> port %u registered: %s\n", kName, l.first, l.second,
          rc == 0 ? "ok" : strerror(-rc));
   }

   int fds[2];
   mExitEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
   if (mExitEvent < 0 || pipe2(fds, O_CLOEXEC) != 0) {
      Log_Level(2, "%s: cannot make the worker's channels: %s\n", kName, strerror(errno));
      return false;
   }
   mMessageRead = fds[0];
   mMessageWrite = fds[1];
   // Non-blocking: the main thread may block only in ppoll, where SIGTERM
   // gets in. The agent keeps the write end, so a worker's death is no EOF.
   mMessages.reset(new PipeConnection());
   mMessages->setFds(mMessageRead, -1, false);

   mExecutor.reset(new TaskExecutor(std::string(kName) + ".counters", 1));
   mExecutor->start();

   LoggerWrapper &logger = LoggerWrapper::getInstance(kName);
   logger.startLogRedirect();
   mWorker.reset(new Supervised<WorkerProcess>(logger.getLogPipeWriteFd(), mExitEvent));
   const int messageWrite = mMessageWrite;
   mWorker->setChildHook([messageWrite] {
      // In the forked child: only async-signal-safe calls.
      if (messageWrite == kWorkerMessageFd) {
         fcntl(kWorkerMessageFd, F_SETFD, 0);
      } else {
         dup2(messageWrite, kWorkerMessageFd);
      }
   });
   mWorker->setAutoRestart(true);
   mToken = CommonUtils::GenerateDesktopToken(kWorkerName, magic);
   std::vector<std::string> args = {mOptions.address, std::to_string(mOptions.workerPort)};
   std::vector<std::string> env = {"FWD_WORKER_TOKEN=" + mToken};
   if (!mWorker->start(WorkerPath(), args, env, ProcessObject::kNoInput)) {
      Log_Level(2, "%s: cannot start %s\n", kName, kWorkerName);
      return false;
   }
   Log("%s: worker %s started, pid %d\n", kName, kWorkerName, mWorker->getPid());
   return true;
}

void Agent::Run(const sigset_t &waitMask)
{
   // The first counter line comes at once, then one a second.
   struct timespec next;
   clock_gettime(CLOCK_MONOTONIC, &next);
   for (;;) {
      struct timespec now, wait = {0, 0};
      clock_gettime(CLOCK_MONOTONIC, &now);
      long long ns = (next.tv_sec - now.tv_sec) * 1000000000LL + (next.tv_nsec - now.tv_nsec);
      if (ns > 0) {
         wait.tv_sec = ns / 1000000000LL;
         wait.tv_nsec = ns % 1000000000LL;
      }
      struct pollfd fds[2] = {{mExitEvent, POLLIN, 0}, {mMessageRead, POLLIN, 0}};
      int ready = ppoll(fds, 2, &wait, &waitMask);
      if (ready < 0) {
         if (errno == EINTR) {
            continue;
         }
         Log_Level(2, "%s: ppoll: %s\n", kName, strerror(errno));
         return;
      }
      // The exit first: its event was posted before the restart, so a
      // message read in the same round is the new worker's.
      if (fds[0].revents != 0) {
         OnWorkerExit();
      }
      if (fds[1].revents != 0) {
         OnWorkerMessage();
      }
      if (ns <= 0) {
         ScheduleCounters();
         next.tv_sec++;
      }
   }
}

void Agent::OnWorkerExit()
{
   uint64_t exits = 0;
   if (read(mExitEvent, &exits, sizeof exits) != sizeof exits) {
      return;
   }
   std::lock_guard<std::mutex> guard(mRegistryLock);
   Log("%s: worker exited (exit code %d)\n", kName, mWorker->getExitCode());
   if (mRegisteredPort != 0) {
      int rc = mContext->RemoveWorkerPort(htons(mRegisteredPort));
      Log("%s: worker port %u removed from %s: %s\n", kName, mRegisteredPort, kWorkerPortMapName,
          rc == 0 ? "ok" : strerror(-rc));
      mRegisteredPort = 0;
   }
}

void Agent::OnWorkerMessage()
{
   std::string message;
   try {
      message = mMessages->recvMsg();
   } catch (const PipeException &e) {
      Log_Level(2, "%s: unreadable worker message: %s\n", kName, e.what());
      return;
   }
   Log("%s: worker message: %s\n", kName, CommonUtils::MaskPassword(message).c_str());
   uint16_t port;
   if (JsonField(message, "password") != mToken) {
      Log_Level(3, "%s: the message does not carry the worker's token; ignored\n", kName);
      return;
   }
   if (!ParsePort(JsonField(message, "port").c_str(), port)) {
      Log_Level(3, "%s: the message names no port; ignored\n", kName);
      return;
   }
   std::lock_guard<std::mutex> guard(mRegistryLock);
   int rc = mContext->AddWorkerPort(htons(port));
   if (rc == 0) {
      mRegisteredPort = port;
   }
   Log("%s: worker port %u registered in %s: %s\n", kName, port, kWorkerPortMapName,
       rc == 0 ? "ok" : strerror(-rc));
}

void Agent::ScheduleCounters()
{
   // One job at a time: a slow read is skipped over, never queued up.
   if (mCountersDone.valid() &&
       mCountersDone.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      return;
   }
   auto task = std::make_shared<std::packaged_task<void()>>([this] { LogCounters(); });
   mCountersDone = task->get_future();
   mExecutor->schedule(task);
}

Counters Agent::ReadCounters()
{
   Counters c;
   const int cpus = get_possible_cpus();
   std::lock_guard<std::mutex> guard(mRegistryLock);
   mContext->SetPrinter(kFwdStatsMapName, [&](std::ostream &, const struct bpf_map_info &info,
                                              const void *key, const void *value, uint64_t len) {
      FwdStatsRecord r;
      if (DecodeFwdStats({key, info.key_size, value, len}, info.value_size, cpus, &r) &&
          r.hasIndex && r.index < 4) {
         c.bytes[r.index] = static_cast<uint64_t>(FwdStatsTotal(r));
      }
   });
   mContext->SetPrinter(kFwdErrMapName, [&](std::ostream &, const struct bpf_map_info &info,
                                            const void *key, const void *value, uint64_t len) {
      FwdErrRecord r;
      if (DecodeFwdErr({key, info.key_size, value, len}, &r) && FwdErrName(r.code) != nullptr) {
         c.errors[r.code] = r.count;
      }
   });
   std::ostringstream unused;
   for (const char *map : {kFwdStatsMapName, kFwdErrMapName}) {
      mContext->DumpMap(unused, map);
      mContext->SetPrinter(map, MapRecordPrinter()); // it refers to `c`
   }
   return c;
}

void Agent::LogCounters()
{
   VERIFY(!mOptions.failVerify);
   Counters now = ReadCounters();
   const Counters &last = mLastCounters;
   std::string errors;
   for (const auto &[code, count] : now.errors) {
      auto was = last.errors.find(code);
      uint64_t before = was == last.errors.end() ? 0 : was->second;
      if (count != before) {
         errors += std::string(errors.empty() ? "" : ", ") + FwdErrName(code) + " " +
                   std::to_string(count - before);
      }
   }
   Log("%s: since the last line: %llu bytes in, %llu bytes out (worker port %llu in, %llu out); "
       "errors: %s\n",
       kName, (unsigned long long)(now.bytes[0] - last.bytes[0]),
       (unsigned long long)(now.bytes[2] - last.bytes[2]),
       (unsigned long long)(now.bytes[1] - last.bytes[1]),
       (unsigned long long)(now.bytes[3] - last.bytes[3]),
       errors.empty() ? "none" : errors.c_str());
   mLastCounters = now;
}

void Agent::Stop(const char *why)
{
   Log("%s: %s: stopping\n", kName, why);
   if (mExecutor) {
      mExecutor->stop();
      Log("%s: executor stopped\n", kName);
   }
   if (mWorker) {
      mWorker->setAutoRestart(false);
      mWorker->stop(true, 2000);
      Log("%s: worker stopped (exit code %d)\n", kName, mWorker->getExitCode());
      mWorker.reset();
   }
   if (mContext) {
      if (mRegisteredPort != 0) {
         mContext->RemoveWorkerPort(htons(mRegisteredPort));
         mRegisteredPort = 0;
      }
      std::string nic = mContext->GetNic();
      mContext.reset();
      Log("%s: proxy detached from %s\n", kName, nic.c_str());
   }
   mMessages.reset();
   for (int fd : {mMessageWrite, mExitEvent}) {
      if (fd >= 0) {
         close(fd);
      }
   }
   Log("%s: exiting\n", kName);
   LoggerWrapper::getInstance(kName).closeLogPipe();
   Log_Exit();
}

sigjmp_buf gTermPoint;
Agent *volatile gAgent = nullptr;

} // namespace

int main(int argc, char **argv)
{
   Options options;
   if (!ParseOptions(argc, argv, options)) {
      return 2;
   }
   // SIGTERM stays blocked in every thread; the main thread lets it in only
   // while it waits, where the jump leaves no library call half done.
   sigset_t term, waitMask;
   sigemptyset(&term);
   sigaddset(&term, SIGTERM);
   pthread_sigmask(SIG_BLOCK, &term, &waitMask);
   sigdelset(&waitMask, SIGTERM);

   Preference_Init();
   atexit(Preference_Exit);
   options.failVerify = options.failVerify || Config_GetBool(FALSE, "%s.failVerify", kName);
   // The log file's header names the product: set it before the logger
   // starts the file, which hands it to the log once.
   ProductState_Set("Forwarding proxy example agent", "1.0.0", "1", "example");
   LoggerWrapper::getInstance(kName);
   Panic_Init();
   const int handled[] = {SIGTERM};
   if (!Sig_Init(handled, 1)) {
      Log_Level(2, "%s: cannot handle SIGTERM\n", kName);
      return 1;
   }

   if (sigsetjmp(gTermPoint, 1) != 0) {
      gAgent->Stop("SIGTERM");
      delete gAgent;
      Sig_Exit();
      return 0;
   }
   gAgent = new Agent(options);
   if (!gAgent->Start()) {
      fprintf(stderr, "fwd_agent: start-up failed; see the log\n");
      gAgent->Stop("start-up failed");
      delete gAgent;
      return 1;
   }
   BpfContext::SetTermJumpPoint(&gTermPoint);
   gAgent->Run(waitMask);
   gAgent->Stop("waiting failed");
   delete gAgent;
   return 1;
}
