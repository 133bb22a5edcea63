// The atomic file writer: a terminating signal removes the temporary file.
// Whole replacement, the mode, temporary names and failures are seen through
// fwdmaps -o in the process tests.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/tempDir.h"
#include "support/textFiles.h"
#include "tool/atomicFile.h"

namespace {

using fwdtest::DirEntries;
using fwdtest::ReadFile;
using fwdtest::WriteFile;

bool WriteText(int fd, const std::string &text)
{
   return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// A run stopped by the service manager (SIGTERM) or at the terminal cleans
// up after itself, also when another file was written and discarded
// meanwhile; the signal still ends the process.
TEST(AtomicFileTest, ATerminatingSignalRemovesTheTemporaryFile)
{
   fwdtest::TempDir dir;
   const std::string file = WriteFile(dir.path() + "/fwdmaps.prom", "old\n");
   for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
      SCOPED_TRACE(strsignal(sig));
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
         AtomicFile target(file);
         AtomicFile other(dir.path() + "/other.prom");
         if (target.Open() != 0 || !WriteText(target.Fd(), "partial") || other.Open() != 0) {
            _exit(3);
         }
         other.Discard();
         raise(sig);
         _exit(4);
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
      EXPECT_EQ(WTERMSIG(status), sig);
      EXPECT_EQ(DirEntries(dir.path()), std::vector<std::string>{"fwdmaps.prom"});
      EXPECT_EQ(ReadFile(file), "old\n");
   }
}

} // namespace
