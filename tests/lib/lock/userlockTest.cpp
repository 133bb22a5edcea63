// Single-threaded behaviour of the locks: identity, the lock list, counting,
// condition-variable time-outs, and the misuse panics in forked children.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/lock/userlock.h"
#include "support/childProcess.h"
#include "support/logTestOutput.h"

using fwdtest::ChildResult;
using fwdtest::RunInChild;

namespace {

TEST(Lock, NamesListAndReferences)
{
   char name[] = "mine";
   uint32 before = MXUser_LockCount();
   MXUserRecLock *a = MXUser_CreateRecLock(name, RANK_msgLock);
   name[0] = 'X';
   EXPECT_STREQ("mine", MXUser_GetRecLockName(a)) << "names are copied";
   MXUserExclLock *b = MXUser_CreateExclLock(nullptr, 0);
   MXUserRecLock *c = MXUser_CreateRecLock(nullptr, 0);
   EXPECT_EQ(0, strncmp("X-0x", MXUser_GetExclLockName(b), 4));
   EXPECT_EQ(0, strncmp("R-0x", MXUser_GetRecLockName(c), 4));

   // A second reference keeps a recursive lock alive and usable.
   MXUser_IncRefRecLock(a);
   MXUser_DestroyRecLock(a);
   EXPECT_EQ(before + 3, MXUser_LockCount());
   MXUser_AcquireRecLock(a);
   MXUser_ReleaseRecLock(a);
   MXUser_DestroyRecLock(a); // possibly the head
   MXUser_DestroyExclLock(b);
   std::vector<uint64> all;
   MXUser_ForEachLock(
       [](uint64 serial, const char *, void *data) {
          static_cast<std::vector<uint64> *>(data)->push_back(serial);
       },
       &all);
   EXPECT_EQ(before + 1, all.size());
   EXPECT_EQ(MXUser_GetRecLockSerialNumber(c), all.back());
   MXUser_DestroyRecLock(c);
   EXPECT_EQ(before, MXUser_LockCount());
}

// Each misuse ends the process with 255 after dumping the lock at level 3;
// an output copying warnings to standard error makes the dump visible.
TEST(Lock, MisuseDumpsTheLockThenPanics)
{
   struct
   {
      void (*body)();
      std::vector<const char *> lines; // in this order on standard error
   } cases[] = {
       {[] {
           MXUserRecLock *r = MXUser_CreateRecLock("held", RANK_msgLock);
           MXUser_AcquireRecLock(r);
           MXUser_DestroyRecLock(r);
        },
        {"MXUserDumpRecLock: Recursive lock @ 0x", "\tname held\n\trank 0xFEFFFFFF\n",
         "\tlock count 1\n", "MXUserCondDestroyRecLock: Destroy of an acquired recursive lock\n"}},
       // Both kinds share the checks: each is tried on one kind.
       {[] { MXUser_ReleaseExclLock(MXUser_CreateExclLock("free", 0)); },
        {"MXUserDumpExclLock: Exclusive lock @ 0x", "\tname free\n",
         "MXUser_ReleaseExclLock: Non-owner release of an exclusive lock\n"}},
       {[] {
           MXUserRecLock *a = MXUser_CreateRecLock("alpha", 0);
           MXUserRecLock *b = MXUser_CreateRecLock("beta", 0);
           MXUserCondVar *cv = MXUser_CreateCondVarRecLock(a);
           MXUser_AcquireRecLock(b);
           MXUser_WaitCondVarRecLock(b, cv);
        },
        {"\tname beta\n", "MXUserWaitCondVar: invalid use of lock beta with condVar (0x"}},
       {[] {
           MXUserExclLock *x = MXUser_CreateExclLock("loose", 0);
           MXUser_TimedWaitCondVarExclLock(x, MXUser_CreateCondVarExclLock(x), 1);
        },
        {"\tname loose\n", "MXUserWaitCondVar: lock loose not held by caller for condVar (0x"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.lines.back());
      ChildResult child = RunInChild([&] {
         AddTestOutput("test", LOG_WARNING, FALSE, LOG_WARNING);
         c.body();
      });
      EXPECT_EQ(255, child.status);
      size_t at = 0;
      for (const char *line : c.lines) {
         at = child.err.find(line, at);
         ASSERT_NE(std::string::npos, at) << line << " in:\n" << child.err;
      }
   }
}

} // namespace
