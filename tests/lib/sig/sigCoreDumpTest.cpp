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

#include "lib/sig/sig.h"
#include "support/childProcess.h"
#include "support/logTestOutput.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

using fwdtest::ChildResult;
using fwdtest::RunInChild;

namespace {

// In a child: the core size limit, and level-3 lines on standard error.
void CoreChildSetUp(rlim_t limit)
{
   struct rlimit core = {limit, RLIM_INFINITY};
   setrlimit(RLIMIT_CORE, &core);
   AddTestOutput("core", LOG_WARNING, TRUE, LOG_WARNING);
}

// A set-uid process (real user nobody, effective root) is not dumpable: its
// copy dumps core only when told to regain root and give it up for good.
TEST(SigCoreDump, NoCopyWithoutALimitARealCoreWherePredicted)
{
   // No core limit: no copy is made.
   ChildResult child = RunInChild([] {
      CoreChildSetUp(0);
      int pid = Sig_CoreDump();
      _exit(pid == -1 && waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD ? 0 : 1);
   });
   EXPECT_EQ(0, child.status);
   EXPECT_EQ("\nThe core dump limit is set to ZERO; no core dump should be expected\n", child.err);

   std::string pattern = fwdtest::ReadFile("/proc/sys/kernel/core_pattern");
   if (pattern.compare(0, 1, "|") == 0) {
      GTEST_SKIP() << "this host pipes core dumps to a helper: " << pattern;
   }
   bool suidDumps = fwdtest::ReadFile("/proc/sys/fs/suid_dumpable") != "0\n";
   struct
   {
      bool setuid, regainsRoot;
      int status; // 0: the predicted file was there
      const char *log;
   } cases[] = {
       {false, false, 0, "Core dumped.\n"},
       {true, false, 1, "failed to dump core (status 0x6)"},
       {true, true, 0, "Core dumped.\n"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.log);
      if (c.setuid && !c.regainsRoot && suidDumps) {
         continue; // this host lets set-uid processes dump anyway
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
   const std::string x70(70, 'x');
   const std::string ids = std::to_string(getuid()) + "-" + std::to_string(getgid());
   struct
   {
      const char *pattern; // "$D" is the temporary directory
      bool usesPid;
      std::vector<std::string> files;
      std::string want; // "untouched": several files matched
   } cases[] = {
       {nullptr, false, {}, C + "core"},
       {"core", true, {}, C + "core.42"},
       {"core.%p", true, {}, C + "core.42"},
       {"|/usr/lib/h %p", false, {}, C + "core"}, // and a warning
       {"", true, {}, C + ".42"},
       {"%%x%qy%", false, {}, C + "%xy"},
       {"$D/c-%s-%u-%g", false, {}, D + "/c-6-" + ids},
       {"$D/%h", false, {}, D + "/" + host.nodename},
       {"$D/c.%e", false, {"c.one"}, D + "/c.one"},
       {"$D/c.%e", false, {"c.one", "c.two"}, "untouched"},
       {"$D/c.%t.%p", true, {}, D + "/c.*.42"},
       {x70.c_str(), true, {}, C + x70.substr(0, 64)},
   };
   for (const auto &c : cases) {
      std::string pattern = c.pattern != nullptr ? c.pattern : "";
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
      char *name = nullptr;
      bool found = Sig_PredictCoreFileName(c.pattern != nullptr ? pattern.c_str() : nullptr,
                                           c.usesPid, 42, &name);
      EXPECT_EQ(c.want, found ? name : "untouched");
      EXPECT_EQ(found, name != nullptr);
      EXPECT_EQ(pattern[0] != '|'
                    ? ""
                    : "Core dump pipes to process /usr/lib/h %p, core file unreliable\n",
                LogTestOutput_Joined(out));
      free(name);
      Log_Exit();
   }

   // The pattern is read with the small-file reader: one trailing newline
   // kept, a file that fills the buffer refused.
   char buf[8];
   EXPECT_FALSE(Sig_ReadSmallSystemFile((D + "/none").c_str(), buf, sizeof buf));
   EXPECT_TRUE(Sig_ReadSmallSystemFile(fwdtest::WriteFile(D + "/f", "a\n\n").c_str(), buf, 8));
   EXPECT_STREQ("a\n", buf);
   EXPECT_FALSE(Sig_ReadSmallSystemFile(fwdtest::WriteFile(D + "/f", "1234567\n").c_str(), buf, 8));
}

} // namespace
