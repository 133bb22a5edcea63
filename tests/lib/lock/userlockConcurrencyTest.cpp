// Locks shared between threads; these suites also run under ThreadSanitizer.
#include <algorithm>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lib/lock/userlock.h"
#include "support/logTestOutput.h"

using fwdtest::RunThreads;

namespace {

// A recursive lock is another thread's only after its owner's last release,
// also when a timed-out wait gave it up and took it back meanwhile.
TEST(LockConcurrency, NestedAcquiresExcludeOtherThreads)
{
   MXUserRecLock *r = MXUser_CreateRecLock("counter", 0);
   MXUserCondVar *cv = MXUser_CreateCondVarRecLock(r);
   MXUserExclLock *x = MXUser_CreateExclLock("counter2", 0);
   const int threads = 4;
   const int rounds = 5000;
   long counter = 0;
   long counter2 = 0;
   RunThreads(threads, [&](int t) {
      for (int i = 0; i < rounds; i++) {
         MXUser_AcquireRecLock(r);
         EXPECT_TRUE(MXUser_TryAcquireRecLock(r)) << "its owner gets it again";
         if (t == 0 && i % 100 == 0) { // 50 waits while the others contend
            MXUser_TimedWaitCondVarRecLock(r, cv, 1);
            EXPECT_EQ(2, MXUser_GetRecLockCount(r));
            EXPECT_TRUE(MXUser_IsCurThreadOwnerRecLock(r));
         }
         long seen = counter;
         MXUser_ReleaseRecLock(r);
         counter = seen + 1; // still held once
         MXUser_ReleaseRecLock(r);

         while (!MXUser_TryAcquireExclLock(x)) {
            std::this_thread::yield();
         }
         counter2++;
         MXUser_ReleaseExclLock(x);
      }
   });
   EXPECT_EQ(threads * rounds, counter);
   EXPECT_EQ(threads * rounds, counter2);
   MXUser_DestroyCondVar(cv);
   MXUser_DestroyExclLock(x);
   MXUser_DestroyRecLock(r);
}

TEST(LockConcurrency, SingletonRaceLeavesOneLock)
{
   const int threads = 8;
   for (int round = 0; round < 20; round++) {
      MXUserRecLock *recStorage = nullptr;
      MXUserExclLock *exclStorage = nullptr;
      uint32 before = MXUser_LockCount();
      std::vector<MXUserRecLock *> recs(threads);
      std::vector<MXUserExclLock *> excls(threads);
      RunThreads(threads, [&](int t) {
         recs[t] = MXUser_CreateSingletonRecLock(&recStorage, "single", RANK_msgLock);
         excls[t] = MXUser_CreateSingletonExclLock(&exclStorage, "singleX", 0);
      });
      EXPECT_EQ(threads, std::count(recs.begin(), recs.end(), recStorage));
      EXPECT_EQ(threads, std::count(excls.begin(), excls.end(), exclStorage));
      EXPECT_EQ(before + 2, MXUser_LockCount()) << "losers must destroy their copies";
      MXUser_DestroyRecLock(recStorage);
      MXUser_DestroyExclLock(exclStorage);
   }
}

TEST(LockConcurrency, ConditionVariablePassesItemsBetweenThreads)
{
   MXUserExclLock *x = MXUser_CreateExclLock("queue", 0);
   MXUserCondVar *notEmpty = MXUser_CreateCondVarExclLock(x);
   MXUserCondVar *notFull = MXUser_CreateCondVarExclLock(x);
   const int items = 2000;
   int queued = 0;
   int consumed = 0;
   std::thread producer([&] {
      MXUser_AcquireExclLock(x);
      for (int produced = 0; produced < items; produced++) {
         while (queued >= 4) {
            MXUser_TimedWaitCondVarExclLock(x, notFull, 50);
         }
         queued++;
         MXUser_SignalCondVar(notEmpty);
      }
      MXUser_ReleaseExclLock(x);
   });
   RunThreads(3, [&](int) {
      MXUser_AcquireExclLock(x);
      for (;;) {
         while (queued == 0 && consumed < items) {
            MXUser_WaitCondVarExclLock(x, notEmpty);
         }
         if (consumed == items) {
            break;
         }
         queued--;
         consumed++;
         MXUser_SignalCondVar(notFull);
         if (consumed == items) {
            MXUser_BroadcastCondVar(notEmpty);
         }
      }
      MXUser_ReleaseExclLock(x);
   });
   producer.join();
   EXPECT_EQ(items, consumed);
   MXUser_DestroyCondVar(notFull);
   MXUser_DestroyCondVar(notEmpty);
   MXUser_DestroyExclLock(x);
}

} // namespace
