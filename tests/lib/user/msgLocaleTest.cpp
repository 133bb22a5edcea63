// Loading a locale's message file from the library directory.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "lib/config/preference.h"
#include "lib/user/msg.h"

namespace {

class MsgLocaleTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      char tmpl[] = "/tmp/msglocale.XXXXXX";
      ASSERT_NE(mkdtemp(tmpl), nullptr);
      mDir = tmpl;
      setenv("HOME", mDir.c_str(), 1);
      ASSERT_TRUE(Preference_Init());
      ASSERT_TRUE(Preference_SetFromString(("libdir=" + mDir).c_str(), TRUE));
   }
   void TearDown() override
   {
      Msg_SetLocaleEx(nullptr, nullptr);
      Preference_Exit();
      std::string cmd = "rm -rf '" + mDir + "'";
      ASSERT_EQ(system(cmd.c_str()), 0);
   }
   void WriteMessages(const std::string &locale, const std::string &content)
   {
      std::string dir = mDir + "/messages/" + locale;
      ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
      std::ofstream(dir + "/fwdmaps.lmsg") << content;
   }
   static std::string Text(const char *id)
   {
      char *s = Msg_GetString(id);
      std::string out = s != nullptr ? s : "<null>";
      free(s);
      return out;
   }
   std::string mDir;
};

const char kId[] = "@&!*@*@(msg.test.hello)Hello";

TEST_F(MsgLocaleTest, LoadsAndDropsTheLocale)
{
   WriteMessages("fr", "msg.test.hello = \"Bonjour \xC3\xA0 vous\"\n");
   EXPECT_EQ(Text(kId), "Hello");
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   EXPECT_EQ(Text(kId), "Bonjour \xC3\xA0 vous");
   char *locale = Msg_GetLocale();
   EXPECT_STREQ(locale, "fr");
   free(locale);
   ASSERT_TRUE(Msg_SetLocaleEx(nullptr, nullptr));
   EXPECT_EQ(Text(kId), "Hello");
}

TEST_F(MsgLocaleTest, FailureKeepsTheCurrentDictionary)
{
   WriteMessages("fr", "msg.test.hello = \"Bonjour\"\n");
   WriteMessages("de", "msg.test.hello = \"Hallo\"\nbroken line\n");
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   EXPECT_FALSE(Msg_SetLocaleEx("de", "fwdmaps"));
   EXPECT_FALSE(Msg_SetLocaleEx("en_US", "fwdmaps"));
   EXPECT_FALSE(Msg_SetLocaleEx("fr", "otherprogram"));
   EXPECT_EQ(Text(kId), "Bonjour");
   char *locale = Msg_GetLocale();
   EXPECT_STREQ(locale, "fr");
   free(locale);
}

TEST_F(MsgLocaleTest, MessageFilesAreUTF8ByDefault)
{
   // Not valid UTF-8 and no declaration: the file is refused.
   WriteMessages("fr", "msg.test.hello = \"\xE0\"\n");
   EXPECT_FALSE(Msg_SetLocaleEx("fr", "fwdmaps"));
   WriteMessages("fr", ".encoding = \"ISO-8859-1\"\nmsg.test.hello = \"\xE0\"\n");
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   EXPECT_EQ(Text(kId), "\xC3\xA0");
}

} // namespace
