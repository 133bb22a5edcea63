#include "support/tempDir.h"

#include <stdlib.h>

#include <filesystem>

namespace fwdtest {

TempDir::TempDir()
{
   char tmpl[] = "/tmp/fwdtest.XXXXXX";
   const char *p = mkdtemp(tmpl);
   mPath = p != nullptr ? p : "/tmp";
}

TempDir::~TempDir()
{
   // A failed mkdtemp left /tmp itself, which is never removed.
   if (mPath != "/tmp") {
      std::error_code ec;
      std::filesystem::remove_all(mPath, ec);
   }
}

} // namespace fwdtest
