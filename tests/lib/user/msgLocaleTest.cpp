// Loading a locale's message file from the library directory.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "lib/config/preference.h"
#include "lib/user/msg.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

namespace {

class MsgLocaleTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      setenv("HOME", mDir.path().c_str(), 1);
      ASSERT_TRUE(Preference_Init());
      ASSERT_TRUE(Preference_SetFromString(("libdir=" + mDir.path()).c_str(), TRUE));
   }
   void TearDown() override
   {
      Msg_SetLocaleEx(nullptr, nullptr);
      Preference_Exit();
   }
   void Messages(const std::string &locale, const std::string &content)
   {
      fwdtest::WriteFile(mDir.path() + "/messages/" + locale + "/fwdmaps.lmsg", content);
   }
   // The hello text and the locale now in use.
   static std::string Now()
   {
      char *s = Msg_GetString("@&!*@*@(msg.test.hello)Hello");
      char *locale = Msg_GetLocale();
      std::string out = std::string(s) + "/" + (locale != nullptr ? locale : "<none>");
      free(s);
      free(locale);
      return out;
   }
   fwdtest::TempDir mDir;
};

TEST_F(MsgLocaleTest, LoadsKeepsOnFailureDropsAndReadsUTF8)
{
   Messages("fr", "msg.test.hello = \"Bonjour \xC3\xA0 vous\"\n");
   Messages("de", "msg.test.hello = \"Hallo\"\nbroken line\n");
   const std::string english = Now();
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   EXPECT_EQ(Now(), "Bonjour \xC3\xA0 vous/fr");
   // A broken or missing file keeps the current dictionary.
   EXPECT_FALSE(Msg_SetLocaleEx("de", "fwdmaps"));
   EXPECT_FALSE(Msg_SetLocaleEx("en_US", "fwdmaps"));
   EXPECT_FALSE(Msg_SetLocaleEx("fr", "otherprogram"));
   EXPECT_EQ(Now(), "Bonjour \xC3\xA0 vous/fr");
   ASSERT_TRUE(Msg_SetLocaleEx(nullptr, nullptr));
   EXPECT_EQ(Now(), english);
   EXPECT_EQ(Now().substr(0, 6), "Hello/");

   // Message files are UTF-8 unless they say otherwise.
   Messages("fr", "msg.test.hello = \"\xE0\"\n");
   EXPECT_FALSE(Msg_SetLocaleEx("fr", "fwdmaps"));
   Messages("fr", ".encoding = \"ISO-8859-1\"\nmsg.test.hello = \"\xE0\"\n");
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   EXPECT_EQ(Now(), "\xC3\xA0/fr");
}

} // namespace
