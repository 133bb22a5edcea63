/// ProcessObject: starts one child program, optionally feeds its standard
/// input through a pipe and sends its standard output and error to a given
/// descriptor, watches it from a monitor thread, records how it ended, and
/// stops it with SIGTERM, then SIGKILL after a time-out. Subclasses react to
/// the start and the end through onStarted and onExitCb.
///
/// Threads: the owner's; one monitor thread per running child, which also
/// runs onStarted; and one short-lived thread per child exit running
/// onExitCb (never the monitor thread, so a restart from it does not wait
/// for the monitor that is ending).
///
/// Locks: the recursive lock "ProcessObject" guards pid, flag, the pipe
/// ends, the argument and environment vectors and the hook; start,
/// startProcess, stop, sendMessage and setChildHook take it. Waits, child
/// hooks, onStarted and onExitCb run outside it. stop releases it while it
/// waits for the child to end.
///
/// Destruction waits for the monitor thread and for any onExitCb still
/// running. A subclass whose onExitCb or onStarted uses its own members must
/// call finishSupervision() first in its destructor, so that they are not
/// destroyed under a running callback. An object must not be destroyed from
/// its own callbacks.
#ifndef SUPERVISION_PROCESSOBJECT_H
#define SUPERVISION_PROCESSOBJECT_H

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib/misc/basicTypes.h"

typedef struct MXUserRecLock MXUserRecLock;
typedef struct MXUserCondVar MXUserCondVar;

class ProcessObject
{
 public:
   /// Input modes: no input pipe; a pipe the child does not read as its
   /// standard input; a pipe whose read end is the child's standard input.
   static constexpr int kNoInput = 0;
   static constexpr int kInputPipe = 1;
   static constexpr int kStdinPipe = 2;

   /// Run in the child after the descriptors are arranged and before the
   /// program is executed. The child starts with no signal blocked, whichever
   /// thread started it.
   using ChildHook = std::function<void()>;

   /// `name` is also the child's first argument; `outFd` above 0 becomes
   /// the child's standard output and standard error (the caller keeps it).
   ProcessObject(const std::string &name, int rid, int flag, int outFd);
   /// finishSupervision(), then frees what the object holds.
   virtual ~ProcessObject();
   ProcessObject(const ProcessObject &) = delete;
   ProcessObject &operator=(const ProcessObject &) = delete;

   /// stop(true, 2000), then startProcess() with the stored program.
   virtual bool restart();
   /// stop(true, 2000), then start() with the values given.
   virtual bool restart(const std::string &path, std::vector<std::string> &args,
                        std::vector<std::string> &env, int flag);
   /// Sends SIGTERM. With `wait`, returns once the monitor saw the child
   /// end; after `timeoutMs` (> 0) sends SIGKILL, and after another
   /// `timeoutMs` gives up with the move-forward line. A time-out of 0 or
   /// less waits without limit. Sleeps while it waits.
   virtual void stop(bool wait, int timeoutMs);
   /// Run on the monitor thread once the child runs. Logs only.
   virtual void onStarted();
   /// Run on a thread of its own after the child ended. Logs only.
   virtual void onExitCb();
   /// Writes `text` unframed to the child's input pipe with one write.
   /// False, logged at level 2, without a pipe or on a failed or short
   /// write (a child that closed its input gives EPIPE, never SIGPIPE).
   virtual bool sendMessage(const std::string &text);

   /// Stores the program (looked up in PATH), its arguments, the
   /// environment changes ("NAME=value" sets, a bare "NAME" unsets) and the
   /// input mode, and starts it. True without starting anything when a
   /// child already runs.
   bool start(const std::string &path, std::vector<std::string> &args,
              std::vector<std::string> &env, int flag);
   /// Starts the stored program: input pipe, fork, monitor thread. False
   /// when the pipe or fork fails or the object is being destroyed; true
   /// without starting a second one while a child runs.
   bool startProcess();
   /// Installs (or with an empty function removes) the child hook.
   void setChildHook(ChildHook hook);

   /// -1 while no child runs.
   pid_t getPid() const { return mPid.load(); }
   /// The last child's exit status, 128 + signal when a signal killed it,
   /// -1 before any child ended.
   int getExitCode() const { return mExitCode.load(); }
   const std::string &getName() const { return mName; }
   int getRid() const { return mRid.load(); }

 protected:
   /// Refuses further starts, stops a running child (stop(true, 2000)) and
   /// waits until the monitor thread and every onExitCb have finished.
   /// Idempotent. Call from the owner's thread, never from a callback.
   void finishSupervision();
   /// Sets rid under the object's lock.
   void setRidLocked(int rid);
   /// Logs one line at `level` with the "Proc(...)" prefix.
   void logLine(int level, const char *fmt, ...) PRINTF_DECL(3, 4);

 private:
   void monitor(pid_t pid);
   /// Counts a thread that uses the object; threadDone ends the count.
   void threadStarted();
   void threadDone();

   std::atomic<int> mRid;
   const std::string mName;
   std::string mPath;
   std::atomic<pid_t> mPid{-1};
   std::atomic<int> mFlag;
   std::vector<std::string> mArgs;
   std::vector<std::string> mEnv;
   MXUserRecLock *mLock;
   MXUserCondVar *mEnded; ///< signalled when the monitor clears pid
   std::thread mMonitor;
   int mPipeRead = -1;
   int mPipeWrite = -1;
   const int mOutFd;
   std::atomic<int> mExitCode{-1};
   ChildHook mHook;
   bool mClosing = false; ///< under mLock: no more starts

   std::mutex mThreadsMutex;
   std::condition_variable mThreadsDone;
   int mActiveThreads = 0; ///< monitor and exit-callback threads running
   bool mFinished = false; ///< finishSupervision ran (owner's thread only)
};

#endif
