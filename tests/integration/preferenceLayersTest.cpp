// The preference layers with their system files: /etc/keltria and
// /usr/lib/keltria exist only inside this process's private mount
// namespace (fwdtest::OverlaySystemDirs); racing starts (also run under
// ThreadSanitizer); and the tool reading BpfProxy.FsPath from the user's
// configuration.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lib/config/config.h"
#include "lib/config/preference.h"
#include "lib/log/log.h"
#include "support/kernelFixture.h"
#include "support/logTestOutput.h"
#include "support/textFiles.h"

namespace {

namespace fs = std::filesystem;

class PreferenceLayersTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      std::string why = fwdtest::OverlaySystemDirs();
      if (!why.empty()) {
         FWD_SKIP_OR_FAIL(why);
      }
      fs::remove_all("/etc/keltria");
      fs::remove_all("/usr/lib/keltria");
      setenv("HOME", mHome.path().c_str(), 1);
   }
   void TearDown() override
   {
      Preference_Exit(); // the overlaid system files go with this process
   }

   static constexpr auto Write = fwdtest::WriteFile;
   std::string UserFile(const char *name) const { return mHome.path() + "/.keltria/" + name; }
   static std::string Get(const char *key) { return fwdtest::ConfigText("<default>", key); }

   fwdtest::TempDir mHome;
   fwdtest::LogCapture mLog{LOG_INFO, FALSE};
};

TEST_F(PreferenceLayersTest, PrecedenceOfTheFiveFiles)
{
   // Each key is set in some of the files, so its value tells which layer won.
   Write("/usr/lib/keltria/settings", "k1 = settings\nk3 = settings\n");
   Write(UserFile("preferences"), "k1 = prefs\nk2 = prefs\nk4 = prefs\n");
   Write(UserFile("config"), "k2 = config\nk4 = config\nk5 = config\n");
   Write("/etc/keltria/config", "k4 = host\nk5 = host\nk6 = host\n");
   Write("/usr/lib/keltria/config", "k3 = site\nk5 = site\nk6 = site\nk7 = site\n");
   ASSERT_TRUE(Preference_Init());
   // Settings over preferences over user config over host over site.
   std::string got;
   for (const char *key : {"k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8"}) {
      got += Get(key) + " ";
   }
   EXPECT_EQ(got, "settings prefs settings prefs config host site <default> ");
   // The in-memory layer is second only to the global settings, and
   // replaces a value only when asked to.
   EXPECT_TRUE(Preference_SetFromString("k1=memory", TRUE));
   EXPECT_TRUE(Preference_SetFromString("k2=memory", TRUE));
   EXPECT_FALSE(Preference_SetFromString("k2=again", FALSE));
   EXPECT_TRUE(Preference_SetFromString("k9=new", FALSE));
   EXPECT_EQ(Get("k1") + " " + Get("k2") + " " + Get("k9"), "settings memory new");
}

TEST_F(PreferenceLayersTest, MissingAndBadFilesDoNotStopStartUp)
{
   Write("/etc/keltria/config", "first = 1\nbroken line\nsecond = 2\n");
   Write("/usr/lib/keltria/config", "site = ok\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(Get("first"), "1");
   EXPECT_EQ(Get("second"), "<default>");
   EXPECT_EQ(Get("site"), "ok");
   std::string log = mLog.Joined();
   for (const std::string &path : {std::string("/usr/lib/keltria/settings"), UserFile("config")}) {
      EXPECT_NE(log.find("PREF Optional preferences file not found at " + path +
                         ". Using default values.\n"),
                std::string::npos)
          << path;
   }
   // The host file is read first.
   EXPECT_LT(log.find("/etc/keltria/config"), log.find("/usr/lib/keltria/settings"));
}

TEST_F(PreferenceLayersTest, LibdirMovesSettingsAndSiteDefaults)
{
   fwdtest::TempDir lib;
   Write(lib.path() + "/settings", "fromsettings = moved\n");
   Write(lib.path() + "/config", "fromsite = moved\n");
   Write("/usr/lib/keltria/settings", "fromsettings = default\nstale = 1\n");
   Write("/usr/lib/keltria/config", "fromsite = default\n");
   // The directory is joined to the file name as it stands.
   for (const std::string &dir : {lib.path(), lib.path() + "/"}) {
      Write("/etc/keltria/config", "libdir = \"" + dir + "\"\n");
      ASSERT_TRUE(Preference_Init());
      EXPECT_EQ(Get("fromsettings"), "moved");
      EXPECT_EQ(Get("fromsite"), "moved");
      EXPECT_EQ(Get("stale"), "<default>");
      // The dump names each layer's file.
      mLog.Clear();
      Preference_Log();
      std::string log = mLog.Joined();
      EXPECT_NE(log.find("DICT --- GLOBAL SETTINGS " + dir + "/settings\n"), std::string::npos)
          << log;
      Preference_Exit();
   }
}

// The user files are read unless the host file disables them, the start is
// system-only, or the process is setuid.
TEST_F(PreferenceLayersTest, UserFilesIgnoredWhenDisabledSystemOnlyOrSetuid)
{
   Write(UserFile("config"), "k = user\n");
   Write(UserFile("preferences"), "p = user\n");
   Write("/usr/lib/keltria/settings", "disableUserPreferences = TRUE\n");
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(Get("k"), "user");
   Preference_Exit();

   Preference_InitSystemOnly();
   EXPECT_EQ(Get("k"), "<default>");
   EXPECT_TRUE(Config_NotSet("k")); // a remembered default is no setting
   Preference_Exit();

   fwdtest::ChildResult child = fwdtest::RunInChild([this] {
      // Real user nobody, effective user root: a setuid program.
      if (setresuid(65534, 0, 0) != 0) {
         _exit(3);
      }
      Preference_Init();
      bool ignored = Get("k") == "<default>";
      bool logged = mLog.Logged("setuid: ignoring user's config and preferences\n");
      _exit(ignored && logged ? 0 : 1);
   });
   EXPECT_EQ(0, child.status) << child.err;

   Write("/etc/keltria/config", "disableUserPreferences = TRUE\nk = host\n");
   mLog.Clear();
   ASSERT_TRUE(Preference_Init());
   EXPECT_EQ(Get("k"), "host");
   EXPECT_EQ(Get("p"), "<default>");
   EXPECT_FALSE(mLog.Logged(UserFile("config")));
}

// The tool itself: BpfProxy.FsPath from ~/.keltria/config decides where it
// opens the pinned maps.
TEST_F(PreferenceLayersTest, ToolHonoursFsPathFromTheUserConfig)
{
   fwdtest::TempDir pins;
   std::string bpffs = pins.path() + "/bpffs";
   fwdtest::ProxyMaps maps;
   // An empty bpffs at the default place, so only the configured one works.
   for (const std::string &why :
        {fwdtest::MountBpfFs(bpffs), fwdtest::MountBpfFs("/sys/fs/bpf"), maps.Create(bpffs)}) {
      if (!why.empty()) {
         FWD_SKIP_OR_FAIL("bpffs or the proxy maps unavailable: " + why);
      }
   }
   ASSERT_EQ(0, maps.AddWorkerPort(8080));

   fwdtest::ChildResult r = fwdtest::RunProcess({FWD_FWDMAPS_PATH, "worker_port_map"});
   EXPECT_EQ(r.status, 255) << r.out << r.err;

   Write(UserFile("config"), "# where tc pins the maps\nBpfProxy.FsPath = \"" + bpffs + "\"\n");
   r = fwdtest::RunProcess({FWD_FWDMAPS_PATH, "worker_port_map"});
   EXPECT_EQ(r.status, 0) << r.err;
   EXPECT_EQ(r.out, "worker bind port: 8080\n");
   // The one below the temporary directory goes first; the other goes with
   // this process's namespace.
   umount2(bpffs.c_str(), MNT_DETACH);
}

// Run under ThreadSanitizer too.
class PreferenceConcurrencyTest : public PreferenceLayersTest
{
};

TEST_F(PreferenceConcurrencyTest, RacingStartersAndReadersShareOneState)
{
   Write(UserFile("config"), "shared = \"value\"\n");
   const int kThreads = 4;
   std::vector<std::string> seen(kThreads), remembered(kThreads);
   fwdtest::RunThreads(kThreads, [&seen, &remembered](int t) {
      Preference_Init();
      for (int i = 0; i < 200; i++) {
         seen[t] = Get("shared");
         remembered[t] = fwdtest::ConfigText(("thread" + std::to_string(t)).c_str(), "unset.key");
      }
   });
   for (int t = 0; t < kThreads; t++) {
      EXPECT_EQ(seen[t], "value");
      // Whichever default came first is the one every thread sees.
      EXPECT_EQ(remembered[t], remembered[0]);
   }
}

} // namespace
