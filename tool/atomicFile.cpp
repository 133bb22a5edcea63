#include "tool/atomicFile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A run stopped by the service manager or at the terminal removes its
// temporary files too; only SIGKILL or a crash can leave one. The handler
// reads only entries whose flag is set, and an entry's path is written
// while its flag is clear.
struct WatchedPath
{
   volatile sig_atomic_t set;
   char path[PATH_MAX];
};
WatchedPath gWatched[AtomicFile::kWatchedFiles];
const int kCleanupSignals[] = {SIGHUP, SIGINT, SIGTERM};
// mkstemp's suffix.
const size_t kRandomChars = 6;

void RemoveTempsOnSignal(int sig)
{
   int saved = errno;
   for (WatchedPath &w : gWatched) {
      if (w.set) {
         unlink(w.path);
      }
   }
   errno = saved;
   signal(sig, SIG_DFL);
   raise(sig);
}

void InstallHandlers()
{
   for (int sig : kCleanupSignals) {
      struct sigaction old;
      // Leave alone a signal that someone else handles or ignores.
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
         struct sigaction sa;
         memset(&sa, 0, sizeof sa);
         sa.sa_handler = RemoveTempsOnSignal;
         sigemptyset(&sa.sa_mask);
         sigaction(sig, &sa, nullptr);
      }
   }
}

// Returns the entry now holding `tempPath`, or -1 when none is free.
int Watch(const std::string &tempPath)
{
   if (tempPath.size() >= PATH_MAX) {
      return -1;
   }
   for (int i = 0; i < AtomicFile::kWatchedFiles; i++) {
      if (!gWatched[i].set) {
         memcpy(gWatched[i].path, tempPath.c_str(), tempPath.size() + 1);
         gWatched[i].set = 1;
         InstallHandlers();
         return i;
      }
   }
   return -1;
}

std::string DirectoryOf(const std::string &path)
{
   size_t slash = path.rfind('/');
   if (slash == std::string::npos) {
      return ".";
   }
   return slash == 0 ? "/" : path.substr(0, slash);
}

bool SameFile(const struct stat &a, const struct stat &b)
{
   return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// "." + base + "." + six letters or digits: a temporary file of `base`.
bool IsTempOf(const char *name, const std::string &base)
{
   size_t len = strlen(name);
   if (len != base.size() + 2 + kRandomChars || name[0] != '.' ||
       base.compare(0, base.size(), name + 1, base.size()) != 0 || name[base.size() + 1] != '.') {
      return false;
   }
   for (const char *c = name + len - kRandomChars; *c != '\0'; c++) {
      if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9'))) {
         return false;
      }
   }
   return true;
}

// Removes the temporary files of `base` in `dir` that no live writer
// locks. Best effort: whatever cannot be checked stays.
void RemoveStaleTemps(const std::string &dir, const std::string &base)
{
   DIR *d = opendir(dir.c_str());
   if (d == nullptr) {
      return;
   }
   int dirFd = dirfd(d);
   while (struct dirent *e = readdir(d)) {
      if (!IsTempOf(e->d_name, base)) {
         continue;
      }
      int fd = openat(dirFd, e->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (fd < 0) {
         continue;
      }
      struct stat locked, named;
      // Locked here means its writer is gone; the name must still be the
      // file locked, not one created under it since.
      if (fstat(fd, &locked) == 0 && S_ISREG(locked.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
          fstatat(dirFd, e->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(locked, named)) {
         unlinkat(dirFd, e->d_name, 0);
      }
      close(fd);
   }
   closedir(d);
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

void AtomicFile::Unlock()
{
   if (mWatchSlot >= 0) {
      gWatched[mWatchSlot].set = 0;
      mWatchSlot = -1;
   }
   if (mLockFd >= 0) {
      close(mLockFd);
      mLockFd = -1;
   }
}

int AtomicFile::CreateLocked(const std::string &tmpl)
{
   // Another run's clean-up can meet the file between its creation and the
   // lock, take it for stale and remove it: then try another name.
   for (int attempt = 0; attempt < 8; attempt++) {
      std::string name = tmpl;
      int fd = mkostemp(&name[0], O_CLOEXEC);
      if (fd < 0) {
         return -errno;
      }
      int lockError = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
      struct stat held, named;
      // A file system without locks (ENOLCK and the like) keeps the file
      // as well: no other run can lock it to take it for stale either.
      if ((lockError != 0 && lockError != EWOULDBLOCK) ||
          (lockError == 0 && fstat(fd, &held) == 0 && stat(name.c_str(), &named) == 0 &&
           SameFile(held, named))) {
         mFd = fd;
         mTempPath = name;
         return 0;
      }
      close(fd);
   }
   return -EAGAIN;
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
   RemoveStaleTemps(DirectoryOf(mPath), base);
   // mkstemp's six characters are letters and digits: the name never ends
   // in the target's suffix, and the leading dot hides it from globbing.
   int rc = CreateLocked(mPath.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." + base +
                         ".XXXXXX");
   if (rc != 0) {
      return Fail("cannot create a temporary file in its directory", -rc);
   }
   mWatchSlot = Watch(mTempPath);
   mLockFd = fcntl(mFd, F_DUPFD_CLOEXEC, 3);
   if (mLockFd < 0) {
      return Fail("cannot lock the temporary file", errno);
   }
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
   // here); the descriptor is gone either way. The lock stays with mLockFd.
   if (close(fd) != 0) {
      return Fail("cannot write the temporary file", errno);
   }
   if (rename(mTempPath.c_str(), mPath.c_str()) != 0) {
      return Fail("cannot rename the temporary file over it", errno);
   }
   mRenamed = true;
   mTempPath.clear();
   Unlock();
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
   }
   // Removed before the lock goes: no other run sees it unlocked.
   Unlock();
   errno = saved;
}
