// Core dumps by a cloned copy, and the prediction of the core file's name.
// The host's core_pattern is only ever read.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/log/logTestSupport.h"
#include "lib/sig/sig.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"

namespace {

// In a child: a core size limit of `limit` (the hard limit for all ones),
// level-3 lines on standard error.
void CoreChildSetUp(rlim_t limit)
{
   struct rlimit core;
   getrlimit(RLIMIT_CORE, &core);
   core.rlim_cur = limit == RLIM_INFINITY ? core.rlim_max : limit;
   setrlimit(RLIMIT_CORE, &core);
   AddTestOutput("core", LOG_WARNING, TRUE, LOG_WARNING);
}

TEST(SigCoreDump, NoCoreLimitMakesNoCopy)
{
   ChildResult child = RunInChild([] {
      CoreChildSetUp(0);
      int pid = Sig_CoreDump();
      bool noChild = waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
      _exit(pid == -1 && noChild ? 0 : 1);
   });
   ASSERT_TRUE(child.exited);
   EXPECT_EQ(0, child.status);
   EXPECT_EQ("\nThe core dump limit is set to ZERO; no core dump should be expected\n", child.err);
}

// A set-uid process (real user nobody, effective root) is not dumpable: its
// copy dumps core only when told to regain root and give it up for good.
TEST(SigCoreDump, ARealCoreAppearsWherePredicted)
{
   std::string pattern = fwdtest::ReadFile("/proc/sys/kernel/core_pattern");
   if (pattern.compare(0, 1, "|") == 0) {
      GTEST_SKIP() << "this host pipes core dumps to a helper: " << pattern;
   }
   struct rlimit core;
   getrlimit(RLIMIT_CORE, &core);
   if (core.rlim_max == 0) {
      GTEST_SKIP() << "the hard core size limit is 0";
   }
   bool suidDumps = fwdtest::ReadFile("/proc/sys/fs/suid_dumpable") != "0\n";
   struct
   {
      const char *what;
      bool setuid;
      bool regainsRoot;
      int status; // 0: the predicted file was there
      const char *log;
   } cases[] = {
       {"root", false, false, 0, "Core dumped.\n"},
       {"set-uid", true, false, 1, "failed to dump core (status 0x6)"},
       {"set-uid regaining root", true, true, 0, "Core dumped.\n"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.what);
      if (c.setuid && !c.regainsRoot && suidDumps) {
         continue; // the host lets set-uid processes dump anyway
      }
      fwdtest::TempDir dir;
      chmod(dir.path().c_str(), 0777); // the set-uid copy writes as nobody
      ChildResult child = RunInChild([&] {
         CoreChildSetUp(RLIM_INFINITY);
         if (chdir(dir.path().c_str()) != 0 || (c.setuid && setresuid(65534, 0, 0) != 0)) {
            _exit(3);
         }
         Sig_SetCoreDumpRegainsRoot(c.regainsRoot);
         int pid = Sig_CoreDump();
         char *name = nullptr;
         if (pid <= 0 || !Sig_GetCoreFileName(&name, pid)) {
            _exit(1);
         }
         struct stat st;
         bool there = stat(name, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
         unlink(name);
         _exit(there ? 0 : 2);
      });
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(c.status, child.status) << child.err;
      EXPECT_NE(std::string::npos, child.err.find("\nAttempting a core dump using ")) << child.err;
      EXPECT_NE(std::string::npos, child.err.find(c.log)) << child.err;
   }
}

TEST(SigCoreDump, PredictionFromThePattern)
{
   fwdtest::TempDir dir;
   char cwd[4096];
   ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
   struct utsname host;
   ASSERT_EQ(0, uname(&host));
   const std::string D = dir.path(), C = std::string(cwd) + (cwd[1] != '\0' ? "/" : "");
   const std::string ids = std::to_string(getuid()) + "-" + std::to_string(getgid());
   const std::string x70(70, 'x');

   struct
   {
      const char *pattern; // "$D" is the temporary directory
      bool usesPid;
      std::vector<std::string> files;
      bool found;
      std::string want;
      std::string log;
   } cases[] = {
       {nullptr, false, {}, true, C + "core", ""},
       {"core", true, {}, true, C + "core.42", ""},
       {"core.%p", true, {}, true, C + "core.42", ""},
       {"|/usr/lib/helper %p",
        false,
        {},
        true,
        C + "core",
        "Core dump pipes to process /usr/lib/helper %p, core file unreliable\n"},
       {"", true, {}, true, C + ".42", ""},
       {"", false, {}, true, C, ""},
       {"%%x%", false, {}, true, C + "%x", ""},
       {"a%qb%", true, {}, true, C + "ab.42", ""},
       {"$D/c-%s-%u-%g", false, {}, true, D + "/c-6-" + ids, ""},
       {"$D/%h", false, {}, true, D + "/" + host.nodename, ""},
       {"$D/c.%e", false, {"c.one"}, true, D + "/c.one", ""},
       {"$D/c.%e", false, {"c.one", "c.two"}, false, "untouched", ""},
       {"$D/c.%t.%p", true, {}, true, D + "/c.*.42", ""},
       {x70.c_str(), false, {}, true, C + x70.substr(0, 64), ""},
       {x70.c_str(), true, {}, true, C + x70.substr(0, 64), ""},
   };
   for (const auto &c : cases) {
      std::string pattern = c.pattern != nullptr ? c.pattern : "(unreadable)";
      if (pattern.compare(0, 2, "$D") == 0) {
         pattern = D + pattern.substr(2);
      }
      SCOPED_TRACE(pattern);
      std::filesystem::remove_all(D);
      std::filesystem::create_directory(D);
      for (const auto &f : c.files) {
         fwdtest::WriteFile(D + "/" + f, "");
      }
      LogOutput *out = AddTestOutput("predict", LOG_INFO, TRUE);
      char *name = strdup("untouched");
      char *before = name;
      EXPECT_EQ(c.found, Sig_PredictCoreFileName(c.pattern != nullptr ? pattern.c_str() : nullptr,
                                                 c.usesPid, 42, &name));
      EXPECT_EQ(c.want, name);
      EXPECT_EQ(c.log, LogTestOutput_Joined(out));
      if (name != before) {
         free(name);
      }
      free(before);
      Log_Exit();
   }
}

TEST(SigCoreDump, ReadSmallSystemFile)
{
   fwdtest::TempDir dir;
   struct
   {
      const char *content; // nullptr: no such file
      size_t size;
      bool ok;
      std::string want;
   } cases[] = {
       {"1\n", 32, true, "1"},          {"a\n\n", 32, true, "a\n"},  {"", 8, true, ""},
       {"1234567", 8, true, "1234567"}, {"1234567\n", 8, false, ""}, {nullptr, 8, false, ""},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.content != nullptr ? c.content : "(none)");
      std::string path = dir.path() + "/file";
      unlink(path.c_str());
      if (c.content != nullptr) {
         fwdtest::WriteFile(path, c.content);
      }
      std::vector<char> buf(c.size + 1, '#');
      ASSERT_EQ(c.ok, Sig_ReadSmallSystemFile(path.c_str(), buf.data(), c.size));
      if (c.ok) {
         EXPECT_EQ(c.want, buf.data());
      }
      EXPECT_EQ('#', buf[c.size]) << "wrote past the buffer";
   }
}

} // namespace
