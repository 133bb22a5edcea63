/// A file replaced whole or not at all, for readers that may look at any
/// moment (node exporter's textfile collector reads whatever is there).
/// The content goes to a temporary file in the target's directory, which is
/// synced and renamed over the target.
///
/// The temporary file is locked (flock) from its creation until it is
/// renamed or removed, so a run killed outright (SIGKILL, a crash) is told
/// from a live one: Open removes the unlocked temporary files of the same
/// target that such runs left.
///
/// Process-wide state: Open installs handlers for SIGHUP, SIGINT and
/// SIGTERM (each only where the signal's disposition is the default), which
/// stay for the life of the process. They remove every live temporary file
/// and then end the process as the signal would. The handlers find the
/// files in a process-wide table of kWatchedFiles paths; each object holds
/// one entry from Open to Commit or Discard and clears only its own, so the
/// objects watched never disturb each other. Not thread safe.
#ifndef TOOL_ATOMICFILE_H
#define TOOL_ATOMICFILE_H

#include <string>

class AtomicFile
{
 public:
   /// Live temporary files a terminating signal removes; an object opened
   /// while all are taken works the same but is not removed by a signal.
   static constexpr int kWatchedFiles = 8;

   /// `path`: the file to replace. Nothing is touched before Open.
   explicit AtomicFile(std::string path);
   /// Removes the temporary file unless Commit succeeded.
   ~AtomicFile();
   AtomicFile(const AtomicFile &) = delete;
   AtomicFile &operator=(const AtomicFile &) = delete;

   /// Removes the unlocked temporary files of the same target, then creates
   /// and locks the temporary file, mode 0644 whatever the umask, in the
   /// target's directory: "." + the target's name + "." + six random
   /// letters or digits, so it never ends in the target's suffix (".prom")
   /// and never matches a reader's pattern. Returns 0 or a negated errno;
   /// on failure nothing is left behind.
   int Open();

   /// The temporary file's descriptor for the caller's writes, or -1
   /// before Open and after Commit or Discard.
   int Fd() const { return mFd; }

   /// Syncs the temporary file, closes it, renames it over the target and
   /// syncs the directory so the rename survives a crash. Returns 0 when
   /// the target is the new file; otherwise a negated errno, the temporary
   /// file is gone and the target is as it was, except when only the last
   /// step (the directory sync) failed (see Renamed).
   int Commit();

   /// True once the rename happened, even if the directory sync after it
   /// failed.
   bool Renamed() const { return mRenamed; }

   /// Closes and removes the temporary file; the target stays as it was.
   void Discard();

   /// What the last failure was doing, e.g. "cannot create a temporary file",
   /// for the "fwdmaps: FILE: why" line; empty when nothing failed.
   const std::string &FailedStep() const { return mFailedStep; }

   const std::string &Path() const { return mPath; }
   /// The temporary file's path, empty before Open.
   const std::string &TempPath() const { return mTempPath; }

 private:
   int Fail(const char *step, int err);
   /// Creates and locks a temporary file from `tmpl`; 0 or a negated errno.
   int CreateLocked(const std::string &tmpl);
   /// Closes the lock's descriptor (the lock goes with it) and leaves the
   /// signal table.
   void Unlock();

   std::string mPath;
   std::string mTempPath;
   std::string mFailedStep;
   int mFd = -1;
   /// A second descriptor of the temporary file's open file, which holds
   /// the lock until the rename, after mFd was closed.
   int mLockFd = -1;
   /// This object's entry in the signal table, or -1.
   int mWatchSlot = -1;
   bool mRenamed = false;
};

#endif
