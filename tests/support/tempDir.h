/// A temporary directory for tests that need real files.
#ifndef TESTS_SUPPORT_TEMPDIR_H
#define TESTS_SUPPORT_TEMPDIR_H

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace fwdtest {

/// A fresh directory below /tmp, removed with its contents on destruction.
class TempDir
{
 public:
   TempDir()
   {
      char tmpl[] = "/tmp/fwdtest.XXXXXX";
      const char *p = mkdtemp(tmpl);
      mPath = p != nullptr ? p : "/tmp";
   }
   ~TempDir()
   {
      // A failed mkdtemp left /tmp itself, which is never removed.
      if (mPath != "/tmp") {
         std::error_code ec;
         std::filesystem::remove_all(mPath, ec);
      }
   }
   TempDir(const TempDir &) = delete;
   TempDir &operator=(const TempDir &) = delete;
   const std::string &path() const { return mPath; }

 private:
   std::string mPath;
};

} // namespace fwdtest

#endif
