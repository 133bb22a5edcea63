// Single-threaded behaviour of the locks: identity, the lock list, counting,
// condition-variable time-outs, and the misuse panics in forked children.
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/lock/userlock.h"
#include "lib/log/childRun.h"

namespace {

std::vector<uint64> ListedSerials()
{
   std::vector<uint64> serials;
   MXUser_ForEachLock(
       [](uint64 serial, const char *, void *data) {
          static_cast<std::vector<uint64> *>(data)->push_back(serial);
       },
       &serials);
   return serials;
}

TEST(LockFreshProcess, SerialNumbersStartAtOne)
{
   if (getenv("FWD_LOCK_FRESH") != nullptr) {
      // Re-executed: no lock exists yet in this process.
      MXUserRecLock *first = MXUser_CreateRecLock("first", 0);
      MXUserExclLock *second = MXUser_CreateExclLock("second", 0);
      EXPECT_EQ(1u, MXUser_GetRecLockSerialNumber(first));
      EXPECT_EQ(2u, MXUser_GetExclLockSerialNumber(second));
      MXUser_DestroyExclLock(second);
      MXUser_DestroyRecLock(first);
      return;
   }
   pid_t pid = fork();
   ASSERT_GE(pid, 0);
   if (pid == 0) {
      setenv("FWD_LOCK_FRESH", "1", 1);
      execl("/proc/self/exe", "lib_tests", "--gtest_filter=LockFreshProcess.*", (char *)nullptr);
      _exit(127);
   }
   int status = 0;
   ASSERT_EQ(pid, waitpid(pid, &status, 0));
   ASSERT_TRUE(WIFEXITED(status));
   EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(Lock, SignaturesShareOneBaseAndCarryTheKind)
{
   MXUserRecLock *r1 = MXUser_CreateRecLock("r1", 0);
   MXUserRecLock *r2 = MXUser_CreateRecLock("r2", 0);
   MXUserExclLock *x = MXUser_CreateExclLock("x", 0);

   uint32 s1 = MXUser_GetRecLockSignature(r1);
   EXPECT_EQ(s1, MXUser_GetRecLockSignature(r2));
   EXPECT_EQ(MXUSER_TYPE_REC, s1 >> 28);
   EXPECT_EQ(MXUSER_TYPE_EXCL, MXUser_GetExclLockSignature(x) >> 28);
   EXPECT_EQ(s1 & 0x0FFFFFFF, MXUser_GetExclLockSignature(x) & 0x0FFFFFFF);
   EXPECT_NE(0u, s1 & 0x0FFFFFFF);

   EXPECT_EQ(MXUser_GetRecLockSerialNumber(r1) + 1, MXUser_GetRecLockSerialNumber(r2));
   EXPECT_EQ(MXUser_GetRecLockSerialNumber(r2) + 1, MXUser_GetExclLockSerialNumber(x));

   MXUser_DestroyExclLock(x);
   MXUser_DestroyRecLock(r2);
   MXUser_DestroyRecLock(r1);
}

TEST(Lock, NamesAreCopiedOrMadeFromTheCaller)
{
   char name[] = "mine";
   MXUserRecLock *named = MXUser_CreateRecLock(name, RANK_msgLock);
   name[0] = 'X';
   EXPECT_STREQ("mine", MXUser_GetRecLockName(named));

   MXUserRecLock *anonR = MXUser_CreateRecLock(nullptr, 0);
   MXUserExclLock *anonX = MXUser_CreateExclLock(nullptr, 0);
   EXPECT_EQ(0, strncmp("R-0x", MXUser_GetRecLockName(anonR), 4));
   EXPECT_EQ(0, strncmp("X-0x", MXUser_GetExclLockName(anonX), 4));

   MXUser_DestroyExclLock(anonX);
   MXUser_DestroyRecLock(anonR);
   MXUser_DestroyRecLock(named);
}

TEST(Lock, ListKeepsCreationOrderAcrossRemovals)
{
   uint32 before = MXUser_LockCount();
   MXUserRecLock *a = MXUser_CreateRecLock("a", 0);
   MXUserExclLock *b = MXUser_CreateExclLock("b", 0);
   MXUserRecLock *c = MXUser_CreateRecLock("c", 0);
   EXPECT_EQ(before + 3, MXUser_LockCount());

   std::vector<uint64> all = ListedSerials();
   ASSERT_GE(all.size(), 3u);
   std::vector<uint64> tail(all.end() - 3, all.end());
   EXPECT_EQ(
       (std::vector<uint64>{MXUser_GetRecLockSerialNumber(a), MXUser_GetExclLockSerialNumber(b),
                            MXUser_GetRecLockSerialNumber(c)}),
       tail);

   uint64 serialC = MXUser_GetRecLockSerialNumber(c);
   MXUser_DestroyRecLock(a); // possibly the head
   MXUser_DestroyExclLock(b);
   all = ListedSerials();
   EXPECT_EQ(before + 1, all.size());
   EXPECT_EQ(serialC, all.back());
   MXUser_DestroyRecLock(c);
   EXPECT_EQ(before, MXUser_LockCount());
}

TEST(Lock, ReferencesKeepARecursiveLockAlive)
{
   uint32 before = MXUser_LockCount();
   MXUserRecLock *lock = MXUser_CreateRecLock("shared", 0);
   MXUser_IncRefRecLock(lock);
   MXUser_DestroyRecLock(lock);
   EXPECT_EQ(before + 1, MXUser_LockCount());
   MXUser_AcquireRecLock(lock); // still usable
   MXUser_ReleaseRecLock(lock);
   MXUser_DestroyRecLock(lock);
   EXPECT_EQ(before, MXUser_LockCount());
}

TEST(Lock, OwnerCountsNestedAcquires)
{
   MXUserRecLock *r = MXUser_CreateRecLock("r", 0);
   MXUserExclLock *x = MXUser_CreateExclLock("x", 0);

   EXPECT_FALSE(MXUser_IsCurThreadOwnerRecLock(r));
   MXUser_AcquireRecLock(r);
   EXPECT_TRUE(MXUser_TryAcquireRecLock(r));
   MXUser_AcquireRecLock(r);
   EXPECT_EQ(3, MXUser_GetRecLockCount(r));
   for (int i = 0; i < 3; i++) {
      EXPECT_TRUE(MXUser_IsCurThreadOwnerRecLock(r));
      MXUser_ReleaseRecLock(r);
   }
   EXPECT_FALSE(MXUser_IsCurThreadOwnerRecLock(r));

   EXPECT_TRUE(MXUser_TryAcquireExclLock(x));
   MXUser_AcquireExclLock(x); // the owner only counts
   MXUser_ReleaseExclLock(x);
   EXPECT_TRUE(MXUser_IsCurThreadOwnerExclLock(x));
   MXUser_ReleaseExclLock(x);
   EXPECT_FALSE(MXUser_IsCurThreadOwnerExclLock(x));

   MXUser_DestroyExclLock(x);
   MXUser_DestroyRecLock(r);
}

TEST(Lock, TimedWaitThatExpiresRestoresTheCount)
{
   MXUserRecLock *r = MXUser_CreateRecLock("r", 0);
   MXUserCondVar *cv = MXUser_CreateCondVarRecLock(r);
   MXUser_AcquireRecLock(r);
   MXUser_AcquireRecLock(r);
   MXUser_AcquireRecLock(r);
   EXPECT_FALSE(MXUser_TimedWaitCondVarRecLock(r, cv, 1));
   EXPECT_EQ(3, MXUser_GetRecLockCount(r));
   EXPECT_TRUE(MXUser_IsCurThreadOwnerRecLock(r));
   for (int i = 0; i < 3; i++) {
      MXUser_ReleaseRecLock(r);
   }
   EXPECT_FALSE(MXUser_IsCurThreadOwnerRecLock(r));

   MXUserExclLock *x = MXUser_CreateExclLock("x", 0);
   MXUserCondVar *xcv = MXUser_CreateCondVarExclLock(x);
   MXUser_AcquireExclLock(x);
   EXPECT_FALSE(MXUser_TimedWaitCondVarExclLock(x, xcv, 1));
   EXPECT_TRUE(MXUser_IsCurThreadOwnerExclLock(x));
   MXUser_ReleaseExclLock(x);

   MXUser_DestroyCondVar(xcv);
   MXUser_DestroyExclLock(x);
   MXUser_DestroyCondVar(cv);
   MXUser_DestroyRecLock(r);
}

TEST(Lock, PanicStateIsSticky)
{
   ChildResult child = RunInChild([] {
      if (MXUser_InPanic()) {
         _exit(2);
      }
      MXUser_SetInPanic("%s", "test");
      _exit(MXUser_InPanic() ? 0 : 3);
   });
   ASSERT_TRUE(child.exited);
   EXPECT_EQ(0, child.status);
}

struct MisuseCase
{
   const char *what;
   std::function<void()> body;
   const char *message;
};

// Each misuse must end the process with 255 and name what went wrong.
TEST(Lock, MisusePanicsInAChild)
{
   const MisuseCase cases[] = {
       {"destroy held recursive",
        [] {
           MXUserRecLock *r = MXUser_CreateRecLock("held", 0);
           MXUser_AcquireRecLock(r);
           MXUser_DestroyRecLock(r);
        },
        "MXUserCondDestroyRecLock: Destroy of an acquired recursive lock\n"},
       {"destroy held exclusive",
        [] {
           MXUserExclLock *x = MXUser_CreateExclLock("held", 0);
           MXUser_AcquireExclLock(x);
           MXUser_DestroyExclLock(x);
        },
        "MXUser_DestroyExclLock: Destroy of an acquired exclusive lock\n"},
       {"release free recursive",
        [] {
           MXUserRecLock *r = MXUser_CreateRecLock("free", 0);
           MXUser_ReleaseRecLock(r);
        },
        "MXUser_ReleaseRecLock: Non-owner release of a recursive lock\n"},
       {"release free exclusive",
        [] {
           MXUserExclLock *x = MXUser_CreateExclLock("free", 0);
           MXUser_ReleaseExclLock(x);
        },
        "MXUser_ReleaseExclLock: Non-owner release of an exclusive lock\n"},
       {"wait with another lock",
        [] {
           MXUserRecLock *a = MXUser_CreateRecLock("alpha", 0);
           MXUserRecLock *b = MXUser_CreateRecLock("beta", 0);
           MXUserCondVar *cv = MXUser_CreateCondVarRecLock(a);
           MXUser_AcquireRecLock(b);
           MXUser_WaitCondVarRecLock(b, cv);
        },
        "MXUserWaitCondVar: invalid use of lock beta with condVar (0x"},
       {"wait without holding",
        [] {
           MXUserExclLock *x = MXUser_CreateExclLock("loose", 0);
           MXUserCondVar *cv = MXUser_CreateCondVarExclLock(x);
           MXUser_TimedWaitCondVarExclLock(x, cv, 1);
        },
        "MXUserWaitCondVar: lock loose not held by caller for condVar (0x"},
   };
   for (const MisuseCase &c : cases) {
      SCOPED_TRACE(c.what);
      ChildResult child = RunInChild(c.body);
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(255, child.status);
      EXPECT_NE(std::string::npos, child.err.find(c.message)) << child.err;
   }
}

} // namespace
