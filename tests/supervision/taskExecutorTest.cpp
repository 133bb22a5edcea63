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

// Of concurrent starts (or stops) exactly one takes effect. Tasks are
// accepted only between start and stop, a stopped executor stays stopped,
// and the one worker runs the tasks in order.
TEST_F(TaskExecutorTest, ConcurrentStartAndStopTakeEffectOnceAndOneWorkerKeepsOrder)
{
   TaskExecutor exec("racy");
   EXPECT_FALSE(exec.schedule(MakeTask([] {}))) << "accepted before start";
   // {operation run on 8 threads at once, tasks accepted after it}
   const std::pair<void (TaskExecutor::*)(), bool> steps[] = {
       {&TaskExecutor::start, true}, {&TaskExecutor::stop, false}, {&TaskExecutor::start, false}};
   for (const auto &step : steps) {
      std::vector<std::thread> threads;
      for (int i = 0; i < 8; i++) {
         threads.emplace_back([&] { (exec.*step.first)(); });
      }
      for (auto &t : threads) {
         t.join();
      }
      std::vector<int> order, expected;
      std::future<void> last;
      for (int i = 0; i < 50; i++) {
         TaskExecutor::Task task = MakeTask([&order, i] { order.push_back(i); });
         last = task->get_future();
         ASSERT_EQ(step.second, exec.schedule(task));
         expected.push_back(i);
      }
      if (step.second) {
         last.get();
         EXPECT_EQ(expected, order);
      }
   }
   EXPECT_EQ(1u, mLog.Count("TaskExecutor->Start task executor of racy.\n"));
   EXPECT_EQ(1u, mLog.Count("TaskExecutor->Stop task executor of racy.\n"));
   EXPECT_EQ(50u, mLog.Count("Schedule task in executor of racy.")) << "a refused task is logged";
}

TEST_F(TaskExecutorTest, StopEndsTheFuturesOfQueuedTasksAndRefusesNewOnes)
{
   TaskExecutor exec("stopping");
   exec.start();
   std::promise<void> gate;
   std::shared_future<void> open = gate.get_future().share();
   std::atomic<bool> started{false};
   std::atomic<int> ran{0};
   std::vector<std::future<void>> done;
   // The first task holds the only worker; the others stay queued.
   for (int i = 0; i < 4; i++) {
      TaskExecutor::Task task = MakeTask([&, open, i] {
         if (i == 0) {
            started = true;
            open.wait();
         }
         ran++;
      });
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
