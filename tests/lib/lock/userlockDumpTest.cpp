// A misused lock is dumped into the log at level 3 before the panic; with an
// output that copies warnings to standard error the dump becomes visible.
#include <string>

#include <gtest/gtest.h>

#include "lib/lock/userlock.h"
#include "lib/log/childRun.h"
#include "lib/log/logTestOutput.h"

namespace {

void ShowWarningsOnStderr()
{
   LogTestOutputOptions opts;
   opts.fileLevel = LOG_WARNING;
   opts.stderrLevel = LOG_WARNING;
   if (!Log_AddOutput(LogTestOutput_Create(&opts))) {
      _exit(2);
   }
}

TEST(LockDump, MisuseDumpsTheLockThenPanics)
{
   struct
   {
      const char *what;
      void (*body)();
      std::string dump;
   } cases[] = {
       {"recursive",
        [] {
           MXUserRecLock *r = MXUser_CreateRecLock("held", RANK_msgLock);
           MXUser_AcquireRecLock(r);
           MXUser_DestroyRecLock(r);
        },
        "\tname held\n\trank 0xFEFFFFFF\n"},
       {"exclusive",
        [] {
           MXUserExclLock *x = MXUser_CreateExclLock("heldX", RANK_getSafeTmpDirLock);
           MXUser_AcquireExclLock(x);
           MXUser_AcquireExclLock(x);
           MXUser_DestroyExclLock(x);
        },
        "\tname heldX\n\trank 0xF0007087\n"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.what);
      ChildResult child = RunInChild([&] {
         ShowWarningsOnStderr();
         c.body();
      });
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(255, child.status);
      const std::string &err = child.err;
      bool rec = std::string(c.what) == "recursive";
      size_t head = err.find(rec ? "MXUserDumpRecLock: Recursive lock @ 0x"
                                 : "MXUserDumpExclLock: Exclusive lock @ 0x");
      ASSERT_NE(std::string::npos, head) << err;
      size_t sig = err.find(rec ? "\tsignature 0x2" : "\tsignature 0x4", head);
      size_t name = err.find(c.dump, sig);
      size_t serial = err.find("\tserial number ", name);
      size_t refs = rec ? err.find("\treference count 0\n", serial) : serial;
      size_t count = err.find(rec ? "\tlock count 1\n" : "\tlock count 2\n", refs);
      size_t owner = err.find("\taddress of owner data 0x", count);
      size_t panic =
          err.find(rec ? "MXUserCondDestroyRecLock: Destroy of an acquired recursive lock\n"
                       : "MXUser_DestroyExclLock: Destroy of an acquired exclusive lock\n",
                   owner);
      EXPECT_NE(std::string::npos, sig) << err;
      EXPECT_NE(std::string::npos, name) << err;
      EXPECT_NE(std::string::npos, serial) << err;
      EXPECT_NE(std::string::npos, refs) << err;
      EXPECT_NE(std::string::npos, count) << err;
      EXPECT_NE(std::string::npos, owner) << err;
      EXPECT_NE(std::string::npos, panic) << err;
   }
}

} // namespace
