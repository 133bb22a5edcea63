// Util_ExpandString: home directories, environment variables and limits.
#include "lib/misc/util.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

std::string Expand(const char *text)
{
   char *out = Util_ExpandString(text);
   EXPECT_NE(out, nullptr) << text;
   std::string s = out ? out : "";
   free(out);
   return s;
}

TEST(UtilExpandStringTest, Expansions)
{
   setenv("HOME", "/home/tester", 1);
   setenv("FWD_VAR", "val", 1);
   setenv("FWD_EMPTY", "", 1);
   unsetenv("FWD_UNSET");
   unsetenv("PID");
   unsetenv("pid");
   struct passwd *root = getpwuid(0);
   ASSERT_NE(root, nullptr);
   std::string rootHome = root->pw_dir;
   std::string pid = std::to_string(getpid());
   const std::pair<const char *, std::string> cases[] = {
       {"", ""},
       {"~", "/home/tester"},
       {"~/.keltria/config", "/home/tester/.keltria/config"},
       {"~root/x", rootHome + "/x"},
       {"~no_such_user_fwd/x", "~no_such_user_fwd/x"},
       {"/a/$FWD_VAR/b", "/a/val/b"},
       {"x$FWD_EMPTY.y$FWD_UNSET/y", "x.y/y"},
       {"log-$PID.txt", "log-" + pid + ".txt"},
       {"cost $ 5 end$", "cost $ 5 end$"},

       {"~/$FWD_VAR", "/home/tester/val"},
   };
   for (const auto &[text, expanded] : cases) {
      EXPECT_EQ(Expand(text), expanded) << text;
   }

   // Fallbacks when the variables are unset.
   unsetenv("USER");
   unsetenv("user");
   unsetenv("HOME");
   struct passwd *pw = getpwuid(getuid());
   std::string login = pw != nullptr ? pw->pw_name : "unknown";
   EXPECT_EQ(Expand("/tmp/$USER/x"), "/tmp/" + login + "/x");
   EXPECT_EQ(Expand("$User"), login);
   EXPECT_EQ(Expand("~/.keltria/config"), "~/.keltria/config");
   setenv("USER", "someone", 1);
   EXPECT_EQ(Expand("$USER"), "someone");
}

TEST(UtilExpandStringTest, ChunkLimit)
{
   setenv("A", "a", 1);
   setenv("HOME", "/h", 1);
   auto repeat = [](const std::string &s, int n) {
      std::string out;
      while (n-- > 0) {
         out += s;
      }
      return out;
   };
   // "$A" and "-" alternate, so 50 pairs are exactly 100 chunks.
   EXPECT_EQ(Expand(repeat("$A-", 50).c_str()), repeat("a-", 50));
   EXPECT_EQ(Util_ExpandString((repeat("$A-", 50) + "$A").c_str()), nullptr);
   // The leading "~" and the "/" after it count: 2 + 98 chunks pass, 2 + 99 fail.
   EXPECT_EQ(Expand(("~/" + repeat("$A-", 49)).c_str()), "/h/" + repeat("a-", 49));
   EXPECT_EQ(Util_ExpandString(("~/" + repeat("$A-", 49) + "$A").c_str()), nullptr);
   EXPECT_EQ(Util_ExpandString(nullptr), nullptr);
}

} // namespace
