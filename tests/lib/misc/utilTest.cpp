// Util_ExpandString: home directories of other users and the fallbacks for
// unset variables. The rules for "~", "$NAME" and the chunk limit are checked
// against a reference by the expansion fuzz target.
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
