// The atomic file writer on real files: the new file appears whole with mode
// 0644 whatever the umask, under a temporary name that no reader's pattern
// matches; a failure leaves the target and no temporary file; a terminating
// signal removes the temporary file too.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/tempDir.h"
#include "support/textFiles.h"
#include "tool/atomicFile.h"

namespace {

namespace fs = std::filesystem;
using fwdtest::DirEntries;
using fwdtest::ReadFile;
using fwdtest::WriteFile;

bool WriteText(int fd, const std::string &text)
{
   return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

class AtomicFileTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      mFile = mDir.path() + "/fwdmaps.prom";
      WriteFile(mFile, "old\n");
   }
   fwdtest::TempDir mDir;
   std::string mFile;
};

TEST_F(AtomicFileTest, CommitReplacesTheFileWholeWithMode0644)
{
   mode_t oldMask = umask(077);
   AtomicFile file(mFile);
   ASSERT_EQ(file.Open(), 0) << file.FailedStep();
   umask(oldMask);

   const std::string temp = fs::path(file.TempPath()).filename();
   EXPECT_EQ(temp.rfind(".fwdmaps.prom.", 0), 0u) << temp;
   EXPECT_EQ(temp.size(), std::string(".fwdmaps.prom.").size() + 6) << temp;
   EXPECT_NE(temp.substr(temp.size() - 5), ".prom");
   EXPECT_EQ(fs::path(file.TempPath()).parent_path(), mDir.path());
   ASSERT_TRUE(WriteText(file.Fd(), "new\n"));
   EXPECT_EQ(ReadFile(mFile), "old\n") << "nothing shows before the commit";

   ASSERT_EQ(file.Commit(), 0) << file.FailedStep();
   EXPECT_TRUE(file.Renamed());
   EXPECT_EQ(ReadFile(mFile), "new\n");
   struct stat st;
   ASSERT_EQ(stat(mFile.c_str(), &st), 0);
   EXPECT_EQ(st.st_mode & 07777, 0644u);
   EXPECT_EQ(DirEntries(mDir.path()), std::vector<std::string>{"fwdmaps.prom"});
}

// Failures at either end: the target keeps its content, the directory
// holds nothing else.
TEST_F(AtomicFileTest, FailuresLeaveTheOldFileAndNoTemporary)
{
   const std::string subdir = mDir.path() + "/a-directory";
   fs::create_directories(subdir + "/not-empty");
   const struct
   {
      std::string path;
      int openRc, commitRc;
      const char *step;
   } cases[] = {
       {subdir, 0, -EISDIR, "cannot rename the temporary file over it"},
       {mDir.path() + "/missing/fwdmaps.prom", -ENOENT, 0,
        "cannot create a temporary file in its directory"},
       {mDir.path() + "/", -EISDIR, 0, "not a file name"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.path);
      AtomicFile file(c.path);
      int rc = file.Open();
      EXPECT_EQ(rc, c.openRc);
      if (rc == 0) {
         ASSERT_TRUE(WriteText(file.Fd(), "new\n"));
         EXPECT_EQ(file.Commit(), c.commitRc);
         EXPECT_FALSE(file.Renamed());
      }
      EXPECT_EQ(file.Fd(), -1);
      EXPECT_EQ(file.FailedStep(), c.step);
      EXPECT_EQ(ReadFile(mFile), "old\n");
      EXPECT_EQ(DirEntries(mDir.path()), (std::vector<std::string>{"a-directory", "fwdmaps.prom"}));
      EXPECT_EQ(DirEntries(subdir), std::vector<std::string>{"not-empty"});
   }
}

// A run stopped by the service manager (SIGTERM) or at the terminal cleans
// up after itself, also when another file was written and discarded
// meanwhile; the signal still ends the process.
TEST_F(AtomicFileTest, ATerminatingSignalRemovesTheTemporaryFile)
{
   for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
      SCOPED_TRACE(strsignal(sig));
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
         AtomicFile file(mFile);
         AtomicFile other(mDir.path() + "/other.prom");
         if (file.Open() != 0 || !WriteText(file.Fd(), "partial") || other.Open() != 0) {
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
      EXPECT_EQ(DirEntries(mDir.path()), std::vector<std::string>{"fwdmaps.prom"});
      EXPECT_EQ(ReadFile(mFile), "old\n");
   }
}

} // namespace
