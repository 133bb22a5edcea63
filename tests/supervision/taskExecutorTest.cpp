// TaskExecutor on real worker threads; these run under ThreadSanitizer too.
#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "supervision/taskExecutor.h"
#include "supervisionFixture.h"

namespace {

class TaskExecutorTest : public fwdtest::LogCaptureTest
{
 protected:
   static TaskExecutor::Task MakeTask(std::function<void()> fn)
   {
      return std::make_shared<std::packaged_task<void()>>(std::move(fn));
   }
   size_t Count(const std::string &line)
   {
      std::string log = LogText();
      size_t n = 0;
      for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
         n++;
      }
      return n;
   }
};

TEST_F(TaskExecutorTest, OneWorkerRunsTasksInOrder)
{
   TaskExecutor exec("ordered");
   exec.start();
   std::vector<int> order;
   std::vector<std::future<void>> done;
   for (int i = 0; i < 50; i++) {
      TaskExecutor::Task task = MakeTask([&order, i] { order.push_back(i); });
      done.push_back(task->get_future());
      ASSERT_TRUE(exec.schedule(task));
   }
   for (auto &f : done) {
      f.get();
   }
   std::vector<int> expected(50);
   for (int i = 0; i < 50; i++) {
      expected[i] = i;
   }
   EXPECT_EQ(expected, order);
}

TEST_F(TaskExecutorTest, ScheduleIsRefusedUnlessRunning)
{
   struct Row
   {
      const char *state;
      int starts;
      int stops;
      bool accepted;
   };
   const std::vector<Row> rows = {
       {"new", 0, 0, false},
       {"started", 1, 0, true},
       {"stopped", 1, 1, false},
       {"started again after stop", 2, 1, false},
   };
   for (const Row &row : rows) {
      TaskExecutor exec(row.state, 2);
      for (int i = 0; i < row.starts; i++) {
         exec.start();
         if (i < row.stops) {
            exec.stop();
         }
      }
      std::atomic<bool> ran{false};
      TaskExecutor::Task task = MakeTask([&ran] { ran = true; });
      std::future<void> result = task->get_future();
      EXPECT_EQ(row.accepted, exec.schedule(task)) << row.state;
      if (row.accepted) {
         result.get();
         EXPECT_TRUE(ran.load());
      }
   }
   EXPECT_EQ(0u, Count("Schedule task in executor of new")) << "a refused task is not logged";
}

TEST_F(TaskExecutorTest, ConcurrentStartAndStopTakeEffectOnce)
{
   TaskExecutor exec("racy", 2);
   auto race = [](const std::function<void()> &fn) {
      std::vector<std::thread> threads;
      for (int i = 0; i < 8; i++) {
         threads.emplace_back(fn);
      }
      for (auto &t : threads) {
         t.join();
      }
   };
   race([&] { exec.start(); });
   EXPECT_EQ(1u, Count("TaskExecutor->Start task executor of racy.\n"));
   TaskExecutor::Task task = MakeTask([] {});
   ASSERT_TRUE(exec.schedule(task));
   task->get_future().get();
   race([&] { exec.stop(); });
   EXPECT_EQ(1u, Count("TaskExecutor->Stop task executor of racy.\n"));
   EXPECT_FALSE(exec.schedule(MakeTask([] {})));
}

} // namespace
