#include "supervision/processObject.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "supervision/recLockGuard.h"
#include "supervision/sigPipeShield.h"

extern char **environ;

namespace {

const char kStartSig[] = "bool ProcessObject::start(const std::string&, "
                         "std::vector<std::__cxx11::basic_string<char> >&, "
                         "std::vector<std::__cxx11::basic_string<char> >&, int)";
const char kStartProcessSig[] = "bool ProcessObject::startProcess()";
const char kMonitorSig[] = "void ProcessObject::monitor(pid_t)";

/// Null-terminated pointers into `texts`, for exec.
std::vector<char *> CStrings(std::vector<std::string> &texts)
{
   std::vector<char *> out;
   for (std::string &t : texts) {
      out.push_back(&t[0]);
   }
   out.push_back(nullptr);
   return out;
}

/// Room left in the child's environment array for variables the child
/// hook adds.
constexpr size_t kHookVariables = 64;
/// Where a program is looked for when the environment has no PATH.
const char kDefaultPath[] = "/bin:/usr/bin";

// The child of a threaded parent may only make async-signal-safe calls
// until exec: another thread may have held the allocator's lock at fork.
// So everything the child needs is built here, before fork, and the child
// only fills arrays and copies bytes into them: it applies the changes to
// the environment the hook left, then searches the PATH of that result
// itself (execvpe would search the parent's) and runs the program with
// execve.
struct ChildExec
{
   ChildExec(std::vector<std::string> &args, std::vector<std::string> &changes)
       : argv(CStrings(args)), envChanges(changes)
   {
      for (const std::string &change : changes) {
         nameLengths.push_back(change.find('=') == std::string::npos ? change.size()
                                                                     : change.find('='));
      }
      size_t inherited = 0;
      for (char **e = environ; e != nullptr && *e != nullptr; e++) {
         inherited++;
      }
      envp.resize(inherited + changes.size() + kHookVariables + 1);
      // For a script without "#!": /bin/sh <file> <args...>, as execvp does.
      shArgv.push_back(const_cast<char *>("/bin/sh"));
      shArgv.insert(shArgv.end(), argv.begin(), argv.end());
   }

   /// Whether `entry` ("NAME=value") names the variable of change `i`.
   bool Names(size_t i, const char *entry) const
   {
      const size_t n = nameLengths[i];
      return strncmp(entry, envChanges[i].c_str(), n) == 0 && entry[n] == '=';
   }

   /// The environment after the changes, in the prebuilt array; null when
   /// the hook added more variables than it has room for.
   char **Environment()
   {
      size_t n = 0;
      for (char **e = environ; e != nullptr && *e != nullptr; e++) {
         bool changed = false;
         for (size_t i = 0; i < envChanges.size() && !changed; i++) {
            changed = Names(i, *e);
         }
         if (!changed) {
            if (n + envChanges.size() + 1 > envp.size()) {
               return nullptr;
            }
            envp[n++] = *e;
         }
      }
      for (size_t i = 0; i < envChanges.size(); i++) {
         bool later = false;
         for (size_t j = i + 1; j < envChanges.size() && !later; j++) {
            later = nameLengths[j] == nameLengths[i] &&
                    strncmp(envChanges[i].c_str(), envChanges[j].c_str(), nameLengths[i]) == 0;
         }
         if (!later && envChanges[i].size() > nameLengths[i]) {
            envp[n++] = const_cast<char *>(envChanges[i].c_str());
         }
      }
      envp[n] = nullptr;
      return envp.data();
   }

   /// Applies the changes with setenv and unsetenv, which allocate: only
   /// for a hook that added more variables than the array has room for.
   char **EnvironmentAllocating()
   {
      for (size_t i = 0; i < envChanges.size(); i++) {
         const std::string &change = envChanges[i];
         std::string name = change.substr(0, nameLengths[i]);
         if (change.size() > nameLengths[i]) {
            setenv(name.c_str(), change.c_str() + nameLengths[i] + 1, 1);
         } else {
            unsetenv(name.c_str());
         }
      }
      return environ;
   }

   /// Runs `file` with execve; a file the kernel does not take as a
   /// program runs through /bin/sh.
   void Exec(const char *file, char **env)
   {
      execve(file, argv.data(), env);
      if (errno == ENOEXEC) {
         shArgv[1] = const_cast<char *>(file);
         execve(shArgv[0], shArgv.data(), env);
      }
   }

   /// Runs `path`, searched in the PATH of `env` unless it has a "/".
   /// Returns only when nothing could be run.
   void Run(const char *path, char **env)
   {
      if (*path == '\0') {
         return;
      }
      if (strchr(path, '/') != nullptr) {
         Exec(path, env);
         return;
      }
      const char *dirs = kDefaultPath;
      for (char **e = env; *e != nullptr; e++) {
         if (strncmp(*e, "PATH=", 5) == 0) {
            dirs = *e + 5;
         }
      }
      const size_t fileLen = strlen(path);
      char candidate[PATH_MAX];
      for (const char *dir = dirs;; dir++) {
         const char *end = strchrnul(dir, ':');
         size_t dirLen = static_cast<size_t>(end - dir);
         if (dirLen == 0) {
            dir = ".";
            dirLen = 1;
         }
         if (dirLen + 1 + fileLen < sizeof candidate) {
            memcpy(candidate, dir, dirLen);
            candidate[dirLen] = '/';
            memcpy(candidate + dirLen + 1, path, fileLen + 1);
            Exec(candidate, env);
         }
         if (*end == '\0') {
            return;
         }
         dir = end;
      }
   }

   std::vector<char *> argv;
   std::vector<char *> shArgv;
   const std::vector<std::string> &envChanges;
   std::vector<size_t> nameLengths;
   std::vector<char *> envp;
};

void CloseFd(int &fd)
{
   if (fd >= 0) {
      close(fd);
      fd = -1;
   }
}

/// Our own copy of `fd` (-1 for none), above the standard streams so that
/// making it the child's standard output never leaves it close-on-exec.
int OwnCopy(int fd)
{
   return fd > 0 ? fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1) : -1;
}

} // namespace

ProcessObject::ProcessObject(const std::string &name, int rid, int flag, int outFd)
    : mRid(rid), mName(name), mFlag(flag), mArgs{name},
      mLock(MXUser_CreateRecLock("ProcessObject", 0)), mEnded(MXUser_CreateCondVarRecLock(mLock)),
      mOutFd(OwnCopy(outFd))
{
   if (outFd > 0 && mOutFd < 0) {
      logLine(2, "Failed to keep the output descriptor %d: %s\n", outFd, strerror(errno));
   }
}

ProcessObject::~ProcessObject()
{
   CloseFd(mPipeWrite);
   if (mOutFd >= 0) {
      close(mOutFd);
   }
   MXUser_DestroyCondVar(mEnded);
   MXUser_DestroyRecLock(mLock);
}

void ProcessObject::logLine(int level, const char *fmt, ...)
{
   int savedErrno = errno;
   char text[2048];
   va_list args;
   va_start(args, fmt);
   vsnprintf(text, sizeof text, fmt, args);
   va_end(args);
   Log_Level(level, "Proc(%s), pid(%d), rid(%d), flg(%d): %s", mName.c_str(), mPid.load(),
             mRid.load(), mFlag.load(), text);
   errno = savedErrno;
}

void ProcessObject::setChildHook(ChildHook hook)
{
   RecLockGuard guard(mLock);
   mHook = std::move(hook);
}

bool ProcessObject::start(const std::string &path, std::vector<std::string> &args,
                          std::vector<std::string> &env, int flag)
{
   RecLockGuard guard(mLock);
   if (mPid > 0) {
      logLine(5, "%s: The process %s(%d) have been already running.\n", kStartSig, mName.c_str(),
              mPid.load());
      return true;
   }
   mFlag = flag;
   mPath = path;
   mArgs.assign(1, mName);
   for (const std::string &arg : args) {
      logLine(8, "Add param: %s\n", arg.c_str());
      mArgs.push_back(arg);
   }
   mEnv.clear();
   for (const std::string &entry : env) {
      logLine(8, "Add env: %s\n", entry.c_str());
      mEnv.push_back(entry);
   }
   return startProcess();
}

bool ProcessObject::startProcess()
{
   RecLockGuard guard(mLock);
   if (mClosing) {
      logLine(3, "%s: The object is being destroyed, %s is not started.\n", kStartProcessSig,
              mName.c_str());
      return false;
   }
   // A second child would share pid with the first one's monitor.
   if (mPid > 0) {
      logLine(5, "%s: The process %s(%d) have been already running.\n", kStartProcessSig,
              mName.c_str(), mPid.load());
      return true;
   }
   const int flag = mFlag;
   int fds[2] = {-1, -1};
   // Close-on-exec, so children started at the same time by other objects
   // do not hold this pipe open; dup2 clears it for the child's stdin.
   if (flag != 0 && pipe2(fds, O_CLOEXEC) != 0) {
      logLine(2, "Failed to create pipe.\n");
      return false;
   }
   ChildExec exec(mArgs, mEnv);

   pid_t pid = fork();
   if (pid < 0) {
      mPid = -1;
      logLine(2, "%s: Failed to create the child process %s\n", kStartProcessSig, mName.c_str());
      CloseFd(fds[0]);
      CloseFd(fds[1]);
      return false;
   }
   if (pid == 0) {
      // The forking thread may be any of the owner's (a restart runs on an
      // exit-callback thread), and its blocked signals would outlive exec:
      // a child that blocks SIGTERM can only be stopped by SIGKILL.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (flag == kStdinPipe && fds[0] >= 1) {
         dup2(fds[0], STDIN_FILENO);
      }
      if (flag != 0) {
         close(fds[0]);
         close(fds[1]);
      }
      if (mOutFd > 0) {
         dup2(mOutFd, STDOUT_FILENO);
         dup2(mOutFd, STDERR_FILENO);
      }
      if (mHook) {
         mHook();
      }
      char **env = exec.Environment();
      exec.Run(mPath.c_str(), env != nullptr ? env : exec.EnvironmentAllocating());
      _exit(255);
   }

   mPid = pid;
   if (flag != 0) {
      CloseFd(fds[0]);
      CloseFd(mPipeWrite);
      mPipeWrite = fds[1];
   }
   if (mMonitor.joinable()) {
      // Still ending (it is what runs our caller, onExitCb); the thread
      // count keeps the object alive for it.
      mMonitor.detach();
   }
   threadStarted();
   mMonitor = std::thread(&ProcessObject::monitor, this, pid);
   return true;
}

void ProcessObject::monitor(pid_t pid)
{
   logLine(8, "%s: Start successfully.\n", kMonitorSig);
   onStarted();
   logLine(8, "%s: Start to wait for the process.\n", kMonitorSig);
   int status = 0;
   pid_t r = waitpid(pid, &status, WNOHANG);
   if (r == 0) {
      logLine(5, "still running.\n");
      do {
         r = waitpid(pid, &status, 0);
      } while (r < 0 && errno == EINTR);
   }
   if (r < 0) {
      logLine(8, "Failed to wait %s(%d): %s\n", mName.c_str(), pid, strerror(errno));
   } else if (WIFEXITED(status)) {
      logLine(5, "Process %s(%d) exited, status=%d\n", mName.c_str(), pid, WEXITSTATUS(status));
      mExitCode = WEXITSTATUS(status);
   } else if (WIFSIGNALED(status)) {
      logLine(5, "killed by signal %d\n", WTERMSIG(status));
      mExitCode = 128 + WTERMSIG(status);
   }
   logLine(8, "%s: Process exit.\n", kMonitorSig);
   {
      RecLockGuard guard(mLock);
      CloseFd(mPipeWrite);
      mPid = -1;
      MXUser_BroadcastCondVar(mEnded);
   }
   threadStarted();
   std::thread([this] {
      onExitCb();
      threadDone();
   }).detach();
   threadDone();
}

void ProcessObject::threadStarted()
{
   RecLockGuard guard(mLock);
   mActiveThreads++;
}

void ProcessObject::threadDone()
{
   // Broadcast under the lock: once it is released the waiter may free us.
   RecLockGuard guard(mLock);
   mActiveThreads--;
   MXUser_BroadcastCondVar(mEnded);
}

void ProcessObject::stop(bool wait, int timeoutMs)
{
   RecLockGuard guard(mLock);
   if (mPid == -1) {
      logLine(3, "The process already exited, need not stop.\n");
      return;
   }
   kill(mPid, SIGTERM);
   if (!wait) {
      return;
   }
   using Clock = std::chrono::steady_clock;
   bool killed = false;
   Clock::time_point since = Clock::now();
   for (;;) {
      if (mPid < 1) {
         return;
      }
      logLine(9, "Process %d not finished yet.\n", mPid.load());
      if (timeoutMs <= 0) {
         MXUser_WaitCondVarRecLock(mLock, mEnded);
         continue;
      }
      long long waited =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
      if (waited >= timeoutMs) {
         if (killed) {
            logLine(3, "Move forward after force stop %d\n", timeoutMs);
            return;
         }
         logLine(5, "Stop timeout after %d, force quit.\n", timeoutMs);
         if (mPid > 0) {
            kill(mPid, SIGKILL);
         }
         killed = true;
         since = Clock::now();
         waited = 0;
      }
      // The monitor signals when it clears pid; sleep until then.
      MXUser_TimedWaitCondVarRecLock(mLock, mEnded,
                                     static_cast<uint32>(std::max(1LL, timeoutMs - waited)));
   }
}

bool ProcessObject::restart()
{
   stop(true, 2000);
   return startProcess();
}

bool ProcessObject::restart(const std::string &path, std::vector<std::string> &args,
                            std::vector<std::string> &env, int flag)
{
   stop(true, 2000);
   return start(path, args, env, flag);
}

bool ProcessObject::sendMessage(const std::string &text)
{
   RecLockGuard guard(mLock);
   if (mPipeWrite < 0) {
      logLine(2, "Can't get the stdin.\n");
      return false;
   }
   SigPipeShield::Arm();
   ssize_t n = write(mPipeWrite, text.data(), text.size());
   if (n < 0) {
      logLine(2, "Failed to send message, error(%s).\n", strerror(errno));
      return false;
   }
   if (static_cast<size_t>(n) != text.size()) {
      logLine(2, "Failed to send message.\n");
      return false;
   }
   return true;
}

void ProcessObject::onStarted()
{
   logLine(5, "%s.\n", "virtual void ProcessObject::onStarted()");
}

void ProcessObject::onExitCb()
{
   logLine(5, "%s.\n", "virtual void ProcessObject::onExitCb()");
}

void ProcessObject::finishSupervision()
{
   bool running;
   {
      RecLockGuard guard(mLock);
      if (mClosing) {
         return;
      }
      mClosing = true;
      // Nothing starts a child from now on, so one that ended stays ended,
      // and an owner that stopped it first gets no "already exited" line.
      running = mPid > 0;
   }
   if (running) {
      stop(true, 2000);
   }
   std::thread monitor;
   {
      RecLockGuard guard(mLock);
      monitor = std::move(mMonitor);
   }
   if (monitor.joinable()) {
      monitor.join();
   }
   RecLockGuard guard(mLock);
   while (mActiveThreads > 0) {
      MXUser_WaitCondVarRecLock(mLock, mEnded);
   }
}
