/// A temporary directory for tests that need real files.
#ifndef TESTS_SUPPORT_TEMPDIR_H
#define TESTS_SUPPORT_TEMPDIR_H

#include <string>

namespace fwdtest {

/// A fresh directory below /tmp, removed with its contents on destruction.
class TempDir
{
 public:
   TempDir();
   ~TempDir();
   TempDir(const TempDir &) = delete;
   TempDir &operator=(const TempDir &) = delete;
   const std::string &path() const { return mPath; }

 private:
   std::string mPath;
};

} // namespace fwdtest

#endif
