// The file output on a full disk: a small tmpfs in this test's private
// mount namespace.
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "lib/log/logConfig.h"
#include "lib/misc/threadState.h"
#include "lib/user/dictionary.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"

namespace {

off_t SizeOf(const std::string &path)
{
   struct stat st;
   return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(LogFileDiskFull, DiscardedBytesAreReportedOnceSpaceReturns)
{
   std::string why = fwdtest::EnterPrivateNamespaces();
   if (!why.empty()) {
      FWD_SKIP_OR_FAIL(why);
   }
   fwdtest::TempDir dir;
   ASSERT_EQ(0, mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k")) << strerror(errno);
   setenv("TMPDIR", dir.path().c_str(), 1);
   ThreadState_SetName("main");
   std::string path = dir.path() + "/app.log";
   ASSERT_NE(nullptr, Log_InitWithFile(nullptr, nullptr, path.c_str()));

   // Some 130 KB offered to a file system of 64 KiB, which then grows.
   const std::string message(100, 'm');
   off_t before = SizeOf(path);
   for (int i = 0; i < 1000; i++) {
      Log("%s", message.c_str());
   }
   off_t landed = SizeOf(path) - before;
   ASSERT_EQ(0, mount("tmpfs", dir.path().c_str(), "tmpfs", MS_REMOUNT, "size=1m"))
       << strerror(errno);
   Log("after");
   Log("later");
   Log_Exit();

   std::string text = fwdtest::ReadFile(path);
   size_t after = text.rfind("after\n");
   size_t lineStart = text.rfind('\n', after) + 1;
   uint64_t offered = 1000 * (after - lineStart + message.size() + 1);
   std::smatch m;
   std::regex re("No\\(00\\) main >>> Error writing log, (\\d+) bytes discarded\\. Disk full\\?\n");
   ASSERT_TRUE(std::regex_search(text, m, re)) << text.substr(text.size() - 400);
   EXPECT_EQ(offered - (uint64_t)landed, std::stoull(m[1]));
   EXPECT_EQ(std::string::npos, text.find(">>> Error", (size_t)(m.position(0) + m.length(0))))
       << "reported once";
   EXPECT_LT((size_t)m.position(0), lineStart);
}

} // namespace
