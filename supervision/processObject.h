/// ProcessObject: starts one child program, optionally feeds its standard
/// input through a pipe and sends its standard output and error to a given
/// descriptor, watches it from a monitor thread, records how it ended, and
/// stops it with SIGTERM, then SIGKILL after a time-out. Subclasses react to
/// the start and the end through onStarted and onExitCb.
///
/// Only Supervised<ProcessObject> or Supervised<ASubclass> (supervised.h)
/// can be created and destroyed: its destructor stops the child and waits
/// for the callbacks before any member of any subclass goes.
///
/// Threads: the owner's; one monitor thread per running child, which also
/// runs onStarted; and one short-lived thread per child exit running
/// onExitCb (never the monitor thread, so a restart from it does not wait
/// for the monitor that is ending).
///
/// Locks: the recursive lock "ProcessObject" and its condition variable
/// guard pid, flag, the pipe ends, the argument and environment vectors,
/// the hook and the count of running threads. One family, the run-time
/// library's ranked locks, so that rank checks and lock dumps see all of
/// it. start, startProcess, stop, sendMessage and setChildHook take it.
/// Waits, child hooks, onStarted and onExitCb run outside it. stop
/// releases it while it waits for the child to end.
///
/// Descriptors: the object owns its copy of the output descriptor and the
/// input pipe's write end (see supervision/README.md).
#ifndef SUPERVISION_PROCESSOBJECT_H
#define SUPERVISION_PROCESSOBJECT_H

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "lib/misc/basicTypes.h"

typedef struct MXUserRecLock MXUserRecLock;
typedef struct MXUserCondVar MXUserCondVar;

template <class Process> class Supervised;

class ProcessObject
{
 public:
   /// Input modes: no input pipe; a pipe the child does not read as its
   /// standard input; a pipe whose read end is the child's standard input.
   static constexpr int kNoInput = 0;
   static constexpr int kInputPipe = 1;
   static constexpr int kStdinPipe = 2;

   /// Run in the child after the descriptors are arranged, before the
   /// environment changes are applied and the program is looked up. It
   /// runs in the child of a threaded process, so it should make only
   /// async-signal-safe calls; variables it sets with setenv reach the
   /// program. The child starts with no signal blocked, whichever thread
   /// started it.
   using ChildHook = std::function<void()>;

   /// `name` is also the child's first argument. `outFd` above 0 is
   /// duplicated (close-on-exec, above the standard streams); the copy
   /// becomes every child's standard output and standard error and is
   /// closed with the object, so the caller may close `outFd` at once.
   ProcessObject(const std::string &name, int rid, int flag, int outFd);
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

   /// Stores the program, its arguments, the environment changes
   /// ("NAME=value" sets, a bare "NAME" unsets; later ones win) and the
   /// input mode, and starts it. The child applies the changes after the
   /// hook and then looks the program up in its PATH as changed (a name
   /// with a "/" is run as it is); a program that cannot be run makes the
   /// child exit with 255. True without starting anything when a
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
   /// The rid printed from the next log line on.
   void setRid(int rid) { mRid = rid; }

 protected:
   /// Proof of being Supervised: only it can make one.
   class SupervisedKey
   {
      SupervisedKey() {}
      template <class Process> friend class Supervised;
   };

   /// Supervised has run finishSupervision(); frees what the object holds.
   virtual ~ProcessObject();
   /// Refuses further starts, stops a running child (stop(true, 2000)) and
   /// waits until the monitor thread and every onExitCb have finished.
   /// Idempotent. Call from the owner's thread, never from a callback.
   void finishSupervision();
   /// Logs one line at `level` with the "Proc(...)" prefix.
   void logLine(int level, const char *fmt, ...) PRINTF_DECL(3, 4);

 private:
   /// Implemented by Supervised alone, so that every object that can be
   /// created is one whose destructor runs finishSupervision() first.
   virtual SupervisedKey supervised() = 0;

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
   MXUserCondVar *mEnded; ///< signalled when pid is cleared or a thread ends
   std::thread mMonitor;
   int mPipeWrite = -1;
   const int mOutFd; ///< our copy of the output descriptor, or -1
   std::atomic<int> mExitCode{-1};
   ChildHook mHook;
   bool mClosing = false;  ///< under mLock: finishSupervision began, no more starts
   int mActiveThreads = 0; ///< under mLock: monitor and exit-callback threads
};

#endif
