// Saving a dictionary onto a full file system (a tiny tmpfs in this process's
// private mount namespace): the save fails with its complaint and the file
// on disk keeps its old contents.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "lib/misc/msgList.h"
#include "lib/user/dictionary.h"
#include "lib/user/msg.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"

namespace {

class DictionaryWriteFullTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      std::string why = fwdtest::EnterPrivateNamespaces();
      if (!why.empty()) {
         FWD_SKIP_OR_FAIL("private namespaces unavailable: " + why);
      }
      mMount = mDir.path() + "/small";
      ASSERT_EQ(mkdir(mMount.c_str(), 0755), 0);
      // 64 KiB: room for the old file, not for a second, larger copy.
      if (mount("tmpfs", mMount.c_str(), "tmpfs", 0, "size=64k") != 0) {
         FWD_SKIP_OR_FAIL(std::string("mount tmpfs: ") + strerror(errno));
      }
      mPath = mMount + "/config";
      fwdtest::WriteFile(mPath, "# keep me\nold = \"value\"\n");
      Msg_Reset(FALSE);
   }
   void TearDown() override
   {
      umount2(mMount.c_str(), MNT_DETACH); // fails harmlessly when never mounted
   }

   fwdtest::TempDir mDir;
   std::string mMount;
   std::string mPath;
};

TEST_F(DictionaryWriteFullTest, FailedSaveKeepsTheOldFile)
{
   Dictionary *dict = Dictionary_Create();
   ASSERT_TRUE(Dictionary_Load(dict, mPath.c_str(), TRUE, 0, nullptr));
   // About 100 KiB of new values: more than the file system holds.
   for (int i = 0; i < 1000; i++) {
      Dictionary_SetString(dict, std::string(90, 'x').c_str(), "key%d", i);
   }
   EXPECT_FALSE(Dictionary_Write(dict, mPath.c_str()));
   std::string complaints = fwdtest::MsgText(Msg_Pending());
   for (const std::string &part :
        {"configuration file \"" + mPath + "~\"", std::string("No space left on device")}) {
      EXPECT_NE(complaints.find(part), std::string::npos) << complaints;
   }
   // The temporary file is gone and the target is as it was.
   EXPECT_NE(access((mPath + "~").c_str(), F_OK), 0);
   EXPECT_EQ(fwdtest::ReadFile(mPath), "# keep me\nold = \"value\"\n");
   // The dictionary still counts as changed, so a later save can retry.
   EXPECT_TRUE(Dictionary_IsDirty(dict));
   Dictionary_Free(dict);
}

} // namespace
