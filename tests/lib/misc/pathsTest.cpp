// The user's paths: the private temporary directory (made, repaired, or
// refused when it is not the user's own) and Util_ExpandString's home
// directories of other users and fallbacks for unset variables. The rules for
// "~", "$NAME" and the chunk limit are checked against a reference by the
// expansion fuzz target.
#include <gtest/gtest.h>

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "lib/misc/file.h"
#include "lib/misc/util.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

namespace {

TEST(FileSafeTmpDir, OnlyAPrivateDirectoryOfTheUsersOwn)
{
   struct
   {
      const char *what;
      std::function<void(const std::string &)> prepare;
      int error; // 0: the directory is handed out
   } cases[] = {
       // Missing, it is made: see the log configuration tests.
       {"too open", [](const std::string &d) { mkdir(d.c_str(), 0777), chmod(d.c_str(), 0777); },
        0},
       {"a link",
        [](const std::string &d) {
           mkdir((d + ".real").c_str(), 0700), symlink((d + ".real").c_str(), d.c_str());
        },
        ELOOP},
       {"someone else's",
        [](const std::string &d) { mkdir(d.c_str(), 0700), chown(d.c_str(), 4321, 4321); }, EPERM},
       {"a file", [](const std::string &d) { fwdtest::WriteFile(d, ""); }, ENOTDIR},
   };
   for (const auto &c : cases) {
      fwdtest::TempDir tmp;
      setenv("TMPDIR", tmp.path().c_str(), 1);
      std::string dir = tmp.path() + "/keltria-" + getpwuid(geteuid())->pw_name;
      c.prepare(dir);
      errno = 0;
      char *got = File_GetSafeTmpDir();
      if (c.error == 0) {
         ASSERT_NE(nullptr, got) << c.what;
         EXPECT_EQ(dir, got);
         struct stat st;
         ASSERT_EQ(0, lstat(got, &st));
         EXPECT_TRUE(S_ISDIR(st.st_mode));
         EXPECT_EQ(0700u, st.st_mode & 07777) << c.what;
      } else {
         EXPECT_EQ(nullptr, got) << c.what;
         EXPECT_EQ(c.error, errno) << c.what;
      }
      free(got);
   }
}

std::string Expand(const char *text)
{
   char *out = Util_ExpandString(text);
   EXPECT_NE(out, nullptr) << text;
   std::string s = out ? out : "";
   free(out);
   return s;
}

TEST(UtilExpandStringTest, UsersAndFallbacks)
{
   setenv("FWD_VAR", "val", 1);
   unsetenv("FWD_UNSET");
   struct passwd *root = getpwuid(0);
   ASSERT_NE(root, nullptr);
   EXPECT_EQ(Expand("~root/x"), std::string(root->pw_dir) + "/x");
   EXPECT_EQ(Expand("~no_such_user_fwd/x"), "~no_such_user_fwd/x");
   EXPECT_EQ(Expand("/a/$FWD_VAR$FWD_UNSET/$"), "/a/val/$"); // a lone "$" stays

   // Fallbacks when the variables are unset.
   unsetenv("USER");
   unsetenv("user");
   unsetenv("HOME");
   struct passwd *pw = getpwuid(getuid());
   std::string login = pw != nullptr ? pw->pw_name : "unknown";
   EXPECT_EQ(Expand("/tmp/$USER/x"), "/tmp/" + login + "/x");
   EXPECT_EQ(Expand("$User"), login);
   EXPECT_EQ(Expand("~/.keltria/config"), "~/.keltria/config");
   EXPECT_EQ(Util_ExpandString(nullptr), nullptr);
}

} // namespace
