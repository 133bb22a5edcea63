#include "supervision/taskExecutor.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/thread/thread.hpp>

#include <cstdint>
#include <map>
#include <mutex>

#include "lib/log/log.h"

struct TaskExecutor::Impl
{
   std::mutex queueMutex;
   std::map<uint64_t, Task> queued; ///< under queueMutex: posted, not begun
   uint64_t nextId = 0;             ///< under queueMutex

   boost::asio::io_context context;
   boost::thread_group workers;
   // Keeps the run loops alive while the queue is empty.
   boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard{
       boost::asio::make_work_guard(context)};
};

TaskExecutor::TaskExecutor(const std::string &name, int threads)
    : mName(name), mThreads(threads), mImpl(new Impl)
{
}

TaskExecutor::TaskExecutor(const std::string &name) : TaskExecutor(name, 1) {}

TaskExecutor::~TaskExecutor()
{
   stop();
   // A worker created by a start that raced with stop is joined here; its
   // run loop returns at once on the stopped context.
   mImpl->workers.join_all();
}

void TaskExecutor::start()
{
   // Restarting a stopped executor is not supported: its context has been
   // stopped and its workers joined.
   bool notStarted = false;
   if (!mEverStarted.compare_exchange_strong(notStarted, true)) {
      return;
   }
   bool stopped = true;
   if (!mStopped.compare_exchange_strong(stopped, false)) {
      return;
   }
   Log_Level(5, "TaskExecutor->Start task executor of %s.\n", mName.c_str());
   for (int i = 0; i < mThreads; i++) {
      mImpl->workers.create_thread([this] { mImpl->context.run(); });
   }
}

void TaskExecutor::stop()
{
   bool stopped = false;
   if (!mStopped.compare_exchange_strong(stopped, true)) {
      return;
   }
   Log_Level(5, "TaskExecutor->Stop task executor of %s.\n", mName.c_str());
   mImpl->context.stop();
   mImpl->workers.join_all();
   std::map<uint64_t, Task> abandoned;
   {
      std::lock_guard<std::mutex> guard(mImpl->queueMutex);
      abandoned.swap(mImpl->queued);
   }
   for (auto &entry : abandoned) {
      // Gives up the task's shared state: its future reports a broken
      // promise instead of waiting for as long as the submitter holds it.
      *entry.second = std::packaged_task<void()>();
   }
}

bool TaskExecutor::schedule(const Task &task)
{
   // Checked under the mutex stop takes after setting the flag: a task is
   // either refused or seen by stop.
   std::lock_guard<std::mutex> guard(mImpl->queueMutex);
   if (mStopped.load()) {
      return false;
   }
   Log_Level(9, "TaskExecutor->Schedule task in executor of %s.\n", mName.c_str());
   const uint64_t id = mImpl->nextId++;
   mImpl->queued.emplace(id, task);
   boost::asio::post(mImpl->context, [this, id] {
      Task mine;
      {
         std::lock_guard<std::mutex> guard(mImpl->queueMutex);
         auto it = mImpl->queued.find(id);
         // Once stop began, what has not begun is left to it.
         if (mStopped.load() || it == mImpl->queued.end()) {
            return;
         }
         mine = std::move(it->second);
         mImpl->queued.erase(it);
      }
      (*mine)();
   });
   return true;
}
