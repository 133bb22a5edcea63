#include "tool/atomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A run stopped by the service manager or at the terminal removes its
// temporary file too; only SIGKILL or a crash can leave one. One file at a
// time is covered, which is all the tool ever has.
char gSignalTempPath[PATH_MAX];
volatile sig_atomic_t gSignalTempSet = 0;
const int kCleanupSignals[] = {SIGHUP, SIGINT, SIGTERM};

void RemoveTempOnSignal(int sig)
{
   int saved = errno;
   if (gSignalTempSet) {
      unlink(gSignalTempPath);
   }
   errno = saved;
   signal(sig, SIG_DFL);
   raise(sig);
}

void WatchSignals(const std::string &tempPath)
{
   if (tempPath.size() >= sizeof gSignalTempPath) {
      return;
   }
   gSignalTempSet = 0;
   memcpy(gSignalTempPath, tempPath.c_str(), tempPath.size() + 1);
   for (int sig : kCleanupSignals) {
      struct sigaction old;
      // Leave alone a signal that someone else handles or ignores.
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
         struct sigaction sa;
         memset(&sa, 0, sizeof sa);
         sa.sa_handler = RemoveTempOnSignal;
         sigemptyset(&sa.sa_mask);
         sigaction(sig, &sa, nullptr);
      }
   }
   gSignalTempSet = 1;
}

void UnwatchSignals()
{
   gSignalTempSet = 0;
}

std::string DirectoryOf(const std::string &path)
{
   size_t slash = path.rfind('/');
   if (slash == std::string::npos) {
      return ".";
   }
   return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

AtomicFile::AtomicFile(std::string path) : mPath(std::move(path)) {}

AtomicFile::~AtomicFile()
{
   Discard();
}

int AtomicFile::Fail(const char *step, int err)
{
   mFailedStep = step;
   Discard();
   return -err;
}

int AtomicFile::Open()
{
   Discard();
   mRenamed = false;
   mFailedStep.clear();
   size_t slash = mPath.rfind('/');
   std::string base = slash == std::string::npos ? mPath : mPath.substr(slash + 1);
   if (base.empty() || base == "." || base == "..") {
      return Fail("not a file name", EISDIR);
   }
   // mkstemp's six characters are letters and digits: the name never ends
   // in the target's suffix, and the leading dot hides it from globbing.
   std::string tmpl =
       mPath.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." + base + ".XXXXXX";
   int fd = mkostemp(&tmpl[0], O_CLOEXEC);
   if (fd < 0) {
      return Fail("cannot create a temporary file in its directory", errno);
   }
   mFd = fd;
   mTempPath = tmpl;
   WatchSignals(mTempPath);
   // Readers such as node exporter run as another user.
   if (fchmod(mFd, 0644) != 0) {
      return Fail("cannot set the temporary file's mode", errno);
   }
   return 0;
}

int AtomicFile::Commit()
{
   if (mFd < 0) {
      return Fail("no temporary file", EBADF);
   }
   if (fsync(mFd) != 0) {
      return Fail("cannot sync the temporary file", errno);
   }
   int fd = mFd;
   mFd = -1;
   // After a failed close the data may be lost (NFS reports write errors
   // here); the descriptor is gone either way.
   if (close(fd) != 0) {
      return Fail("cannot write the temporary file", errno);
   }
   if (rename(mTempPath.c_str(), mPath.c_str()) != 0) {
      return Fail("cannot rename the temporary file over it", errno);
   }
   mRenamed = true;
   mTempPath.clear();
   UnwatchSignals();
   int dir = open(DirectoryOf(mPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
   if (dir < 0) {
      return Fail("replaced, but cannot open its directory to sync it", errno);
   }
   int rc = fsync(dir) == 0 ? 0 : errno;
   close(dir);
   if (rc != 0) {
      return Fail("replaced, but the directory sync failed", rc);
   }
   return 0;
}

void AtomicFile::Discard()
{
   int saved = errno;
   if (mFd >= 0) {
      close(mFd);
      mFd = -1;
   }
   if (!mTempPath.empty()) {
      unlink(mTempPath.c_str());
      mTempPath.clear();
      UnwatchSignals();
   }
   errno = saved;
}
