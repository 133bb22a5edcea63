// TaskExecutor on real worker threads; these run under ThreadSanitizer too.
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "supervision/taskExecutor.h"
#include "supervisionFixture.h"

namespace {

using TaskExecutorTest = fwdtest::SupervisionTest;

TaskExecutor::Task MakeTask(std::function<void()> fn)
{
   return std::make_shared<std::packaged_task<void()>>(std::move(fn));
}

TEST_F(TaskExecutorTest, RefusedUnlessRunningAndOneWorkerKeepsOrder)
{
   // {starts, stops (each after a start), accepted}
   const struct
   {
      int starts, stops;
      bool accepted;
   } rows[] = {{0, 0, false}, {1, 0, true}, {1, 1, false}, {2, 1, false}};
   for (const auto &row : rows) {
      TaskExecutor exec("refusing", 2);
      for (int i = 0; i < row.starts; i++) {
         exec.start();
         if (i < row.stops) {
            exec.stop();
         }
      }
      TaskExecutor::Task task = MakeTask([] {});
      EXPECT_EQ(row.accepted, exec.schedule(task)) << row.starts << row.stops;
      if (row.accepted) {
         task->get_future().get();
      }
   }
   EXPECT_EQ(1u, mLog.Count("Schedule task in executor of refusing.")) << "a refused task is logged";

   // One worker runs the tasks in order.
   TaskExecutor exec("ordered");
   exec.start();
   std::vector<int> order, expected;
   std::vector<std::future<void>> done;
   for (int i = 0; i < 50; i++) {
      TaskExecutor::Task task = MakeTask([&order, i] { order.push_back(i); });
      done.push_back(task->get_future());
      ASSERT_TRUE(exec.schedule(task));
      expected.push_back(i);
   }
   done.back().get();
   EXPECT_EQ(expected, order);
}

TEST_F(TaskExecutorTest, ConcurrentStartAndStopTakeEffectOnce)
{
   TaskExecutor exec("racy", 2);
   for (auto op : {&TaskExecutor::start, &TaskExecutor::stop}) {
      std::vector<std::thread> threads;
      for (int i = 0; i < 8; i++) {
         threads.emplace_back([&] { (exec.*op)(); });
      }
      for (auto &t : threads) {
         t.join();
      }
      TaskExecutor::Task task = MakeTask([] {});
      if (exec.schedule(task)) {
         task->get_future().get();
      }
   }
   EXPECT_EQ(1u, mLog.Count("TaskExecutor->Start task executor of racy.\n"));
   EXPECT_EQ(1u, mLog.Count("TaskExecutor->Stop task executor of racy.\n"));
}

TEST_F(TaskExecutorTest, StopEndsTheFuturesOfQueuedTasksAndRefusesNewOnes)
{
   TaskExecutor exec("stopping");
   exec.start();
   std::promise<void> gate;
   std::shared_future<void> open = gate.get_future().share();
   std::atomic<bool> started{false};
   std::atomic<int> ran{0};
   std::vector<TaskExecutor::Task> tasks = {MakeTask([&, open] {
      started = true;
      open.wait();
      ran++;
   })};
   for (int i = 0; i < 3; i++) {
      tasks.push_back(MakeTask([&ran] { ran++; }));
   }
   std::vector<std::future<void>> done;
   for (const TaskExecutor::Task &task : tasks) {
      done.push_back(task->get_future());
      ASSERT_TRUE(exec.schedule(task));
   }
   ASSERT_TRUE(fwdtest::WaitFor([&] { return started.load(); }));
   std::thread stopper([&] { exec.stop(); });
   ASSERT_TRUE(fwdtest::WaitFor([&] { return mLog.Logged("Stop task executor of stopping."); }));
   EXPECT_FALSE(exec.schedule(MakeTask([] {}))) << "accepted once stop began";
   gate.set_value();
   stopper.join();

   done[0].get();
   for (size_t i = 1; i < done.size(); i++) {
      ASSERT_EQ(std::future_status::ready, done[i].wait_for(std::chrono::seconds(10)))
          << "the future of a task stop dropped never ends";
      try {
         done[i].get();
         ADD_FAILURE() << "a queued task ran after stop";
      } catch (const std::future_error &e) {
         EXPECT_EQ(std::future_errc::broken_promise, e.code());
      }
   }
   EXPECT_EQ(1, ran.load());
}

} // namespace
