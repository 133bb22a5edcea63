// Locks shared between threads; these suites also run under ThreadSanitizer.
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lib/lock/userlock.h"
#include "support/logTestOutput.h"

using fwdtest::RunThreads;

namespace {

TEST(LockConcurrency, RecursiveLockStaysWithItsOwnerUntilTheLastRelease)
{
   MXUserRecLock *r = MXUser_CreateRecLock("r", 0);
   auto otherGets = [r] {
      bool got = false;
      std::thread t([&] {
         got = MXUser_TryAcquireRecLock(r);
         if (got) {
            MXUser_ReleaseRecLock(r);
         }
      });
      t.join();
      return got;
   };
   for (int i = 0; i < 3; i++) {
      MXUser_AcquireRecLock(r);
   }
   for (int i = 0; i < 3; i++) {
      EXPECT_FALSE(otherGets()) << "held " << 3 - i << " times";
      MXUser_ReleaseRecLock(r);
   }
   EXPECT_TRUE(otherGets());
   EXPECT_FALSE(MXUser_IsCurThreadOwnerRecLock(r));
   MXUser_DestroyRecLock(r);
}

TEST(LockConcurrency, NestedAcquiresExcludeOtherThreads)
{
   MXUserRecLock *r = MXUser_CreateRecLock("counter", 0);
   MXUserExclLock *x = MXUser_CreateExclLock("counter2", 0);
   const int threads = 4;
   const int rounds = 5000;
   long counter = 0;
   long counter2 = 0;
   RunThreads(threads, [&](int) {
      for (int i = 0; i < rounds; i++) {
         MXUser_AcquireRecLock(r);
         MXUser_AcquireRecLock(r);
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
      EXPECT_EQ(std::set<MXUserRecLock *>{recStorage},
                std::set<MXUserRecLock *>(recs.begin(), recs.end()));
      EXPECT_EQ(std::set<MXUserExclLock *>{exclStorage},
                std::set<MXUserExclLock *>(excls.begin(), excls.end()));
      EXPECT_EQ(before + 2, MXUser_LockCount()) << "losers must destroy their copies";
      MXUser_DestroyRecLock(recStorage);
      MXUser_DestroyExclLock(exclStorage);
   }
}

TEST(LockConcurrency, TimedOutWaitsRestoreTheCountUnderContention)
{
   MXUserRecLock *r = MXUser_CreateRecLock("r", 0);
   MXUserCondVar *cv = MXUser_CreateCondVarRecLock(r);
   std::atomic<bool> done{false};
   long shared = 0;
   std::thread contender([&] {
      while (!done.load()) {
         MXUser_AcquireRecLock(r);
         shared++;
         MXUser_ReleaseRecLock(r);
      }
   });
   MXUser_AcquireRecLock(r);
   MXUser_AcquireRecLock(r);
   for (int i = 0; i < 50; i++) {
      MXUser_TimedWaitCondVarRecLock(r, cv, 1);
      ASSERT_EQ(2, MXUser_GetRecLockCount(r));
      ASSERT_TRUE(MXUser_IsCurThreadOwnerRecLock(r));
      long now = shared; // held again: the contender cannot change it
      EXPECT_EQ(now, shared);
   }
   MXUser_ReleaseRecLock(r);
   MXUser_ReleaseRecLock(r);
   done.store(true);
   contender.join();
   MXUser_DestroyCondVar(cv);
   MXUser_DestroyRecLock(r);
}

TEST(LockConcurrency, ConditionVariablePassesItemsBetweenThreads)
{
   MXUserExclLock *x = MXUser_CreateExclLock("queue", 0);
   MXUserCondVar *notEmpty = MXUser_CreateCondVarExclLock(x);
   MXUserCondVar *notFull = MXUser_CreateCondVarExclLock(x);
   const int items = 2000;
   int queued = 0;
   long sum = 0;
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
         sum += ++consumed;
         MXUser_SignalCondVar(notFull);
         if (consumed == items) {
            MXUser_BroadcastCondVar(notEmpty);
         }
      }
      MXUser_ReleaseExclLock(x);
   });
   producer.join();
   EXPECT_EQ(items, consumed);
   EXPECT_EQ((long)items * (items + 1) / 2, sum);
   MXUser_DestroyCondVar(notFull);
   MXUser_DestroyCondVar(notEmpty);
   MXUser_DestroyExclLock(x);
}

} // namespace
