// The configuration getters before the preference layers start: every
// getter gives its default, texts are fresh copies owned by the caller.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "lib/config/config.h"

namespace {

TEST(Config, GettersGiveDefaultsBeforeStartUp)
{
   const char *def = "/sys/fs/bpf/";
   char *s = Config_GetString(def, "BpfProxy.FsPath");
   ASSERT_NE(nullptr, s);
   EXPECT_STREQ(def, s);
   EXPECT_NE(def, s); // a copy the caller frees
   free(s);
   EXPECT_EQ(nullptr, Config_GetString(nullptr, "absent.%s", "key"));
   EXPECT_EQ(nullptr, Config_GetPathName(nullptr, "absent"));

   EXPECT_TRUE(Config_GetBool(TRUE, "BpfProxy.Enabled"));
   EXPECT_FALSE(Config_GetBool(FALSE, "BpfProxy.Enabled"));
   EXPECT_EQ(-1, Config_GetTriState(-1, "t"));
   EXPECT_EQ(1, Config_GetTriState(1, "t"));
   EXPECT_EQ(-7, Config_GetLong(-7, "l.%d", 3));
   EXPECT_EQ(INT64_C(1) << 50, Config_GetInt64(INT64_C(1) << 50, "i"));
   EXPECT_EQ(0.25, Config_GetDouble(0.25, "d"));
   EXPECT_TRUE(isnan(Config_GetDouble(NAN, "d")));
}

TEST(Config, PathNamesAreExpanded)
{
   setenv("HOME", "/home/tester", 1);
   setenv("FWD_TEST_DIR", "logs", 1);
   char *p = Config_GetPathName("~/x/$FWD_TEST_DIR/f", "log.dir");
   ASSERT_NE(nullptr, p);
   EXPECT_STREQ("/home/tester/x/logs/f", p);
   free(p);
   p = Preference_GetPathName("/plain", "log.dir");
   EXPECT_STREQ("/plain", p);
   free(p);
}

} // namespace

#include "lib/config/preference.h"

namespace {

// Values from the in-memory layer, converted on first typed lookup.
TEST(ConfigWithPreferences, ValuesAndFallbacks)
{
   Preference_InitSystemOnly();
   const char *settings[] = {"k.maybe=maybe", "k.str=hello", "k.num=0x10", "k.big=-1",
                             "k.d=2.5",       "k.tri=auto",  "k.bad=12abc"};
   for (const char *s : settings) {
      ASSERT_TRUE(Preference_SetFromString(s, TRUE));
   }
   // Not a boolean word: the default, and the entry keeps it.
   EXPECT_TRUE(Config_GetBool(TRUE, "k.maybe"));
   EXPECT_TRUE(Config_GetBool(FALSE, "k.maybe"));
   char *s = Config_GetString("x", "k.%s", "str");
   EXPECT_STREQ("hello", s);
   free(s);
   EXPECT_EQ(16, Config_GetLong(0, "k.num"));
   EXPECT_EQ(-1, Config_GetInt64(0, "k.big"));
   EXPECT_EQ(2.5, Config_GetDouble(0, "k.d"));
   EXPECT_EQ(-1, Config_GetTriState(0, "k.tri"));
   EXPECT_EQ(5, Config_GetLong(5, "k.bad"));
   EXPECT_EQ(nullptr, Config_GetString(nullptr, "k.absent"));

   EXPECT_FALSE(Config_NotSet("k.str"));
   EXPECT_TRUE(Config_NotSet("k.absent"));
   // A remembered default does not count as set.
   s = Config_GetString("remembered", "k.remember");
   free(s);
   EXPECT_TRUE(Config_NotSet("k.remember"));
   s = Config_GetString("other", "k.remember");
   EXPECT_STREQ("remembered", s);
   free(s);
   Preference_Exit();
}

} // namespace
