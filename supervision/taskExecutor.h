/// TaskExecutor: runs submitted tasks on a fixed number of worker threads
/// it owns. Tasks are shared packaged tasks, so the submitter waits for the
/// result through the task's future. With one worker, tasks run one at a
/// time in the order they were scheduled.
///
/// Thread safe: start, stop and schedule may be called from any thread. The
/// stopped flag is changed only by compare-and-swap, so of concurrent starts
/// (or stops) exactly one takes effect; a mutex of the executor's own
/// guards the tasks queued and not begun, so that a schedule either comes
/// before stop (and is run or abandoned) or is refused. stop and the
/// destructor must not run on a worker thread (they join the workers).
#ifndef SUPERVISION_TASKEXECUTOR_H
#define SUPERVISION_TASKEXECUTOR_H

#include <atomic>
#include <future>
#include <memory>
#include <string>

class TaskExecutor
{
 public:
   using Task = std::shared_ptr<std::packaged_task<void()>>;

   /// Created stopped; `threads` workers once started.
   TaskExecutor(const std::string &name, int threads);
   explicit TaskExecutor(const std::string &name);
   /// Stops first.
   virtual ~TaskExecutor();
   TaskExecutor(const TaskExecutor &) = delete;
   TaskExecutor &operator=(const TaskExecutor &) = delete;

   /// Starts the workers; only the first call does anything.
   void start();
   /// Stops the queue and joins the workers; only the first call after
   /// start does anything. Tasks queued but not begun are not run: each is
   /// reset, so its future ends with std::future_errc::broken_promise (take
   /// the future before scheduling). A stopped executor stays stopped.
   void stop();
   /// Queues `task`. False, queuing nothing, before start and once stop
   /// has begun.
   bool schedule(const Task &task);

 private:
   struct Impl;
   std::string mName;
   std::atomic<bool> mStopped{true};
   std::atomic<bool> mEverStarted{false};
   int mThreads;
   std::unique_ptr<Impl> mImpl;
};

#endif
