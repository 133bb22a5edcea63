// The desktop identity utilities on the real system paths, inside private
// mount, network and UTS namespaces: a tmpfs over /var (the host may have no
// /var/keltria to mount on) or /etc, and files bound over /etc.
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/commonUtils.h"
#include "support/kernelFixture.h"
#include "support/logTestOutput.h"
#include "support/textFiles.h"

namespace {

using fwdtest::ReadFile;
using fwdtest::WriteFile;
using Msgs = std::vector<std::string>;

const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
const std::string kMagic = CommonUtils::kDesktopMagicPath;
const std::string kIdPrefix = CommonUtils::kDesktopIdPrefix;
const std::string kStage = "/var/fwdtest/";

class DesktopIdentityTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      std::string why = fwdtest::EnterPrivateNamespaces();
      if (!why.empty()) {
         FWD_SKIP_OR_FAIL("private namespaces unavailable: " + why);
      }
      // The mounts end with the test's process and its namespaces.
      ASSERT_EQ(mount("tmpfs", "/var", "tmpfs", 0, "mode=0755"), 0);
      std::filesystem::create_directories("/var/keltria/plx_desktop");
   }
   /// Binds a staged file holding `content` over the existing `path`.
   void BindFile(const std::string &path, const std::string &content)
   {
      std::string copy = WriteFile(kStage + std::to_string(mStaged++), content);
      ASSERT_EQ(mount(copy.c_str(), path.c_str(), nullptr, MS_BIND, nullptr), 0) << path;
   }

   int mStaged = 0;
   fwdtest::LogCapture mLog{LOG_WARNING};
};

// The cache fills once, from at most 63 bytes up to the first NUL; a
// NUL-led file leaves it empty, so the next call reads again.
TEST_F(DesktopIdentityTest, MagicCacheFillsOnceAndTokensFollowSha256)
{
   WriteFile(kMagic, std::string("\0", 1) + std::string(39, 'a'));
   EXPECT_EQ(CommonUtils::GetDesktopMagic(), "");
   WriteFile(kMagic, std::string(70, 'x'));
   EXPECT_EQ(CommonUtils::GetDesktopMagic(), std::string(63, 'x'));
   WriteFile(kMagic, std::string(40, 'b'));
   EXPECT_EQ(CommonUtils::GenerateDesktopToken("s", CommonUtils::GetDesktopMagic()), "");
   EXPECT_EQ(mLog.Take(), (Msgs{"error: CommonUtils->GenerateDesktopToken: Invalid desktop magic "
                                "number, expected length 40, actual length 63.\n"}));

   // A valid magic: the token is the truncated sha256 of subject, then magic.
   const std::string magic = "Abcdefghij1234567890KLMNOPQRSTuvwxyz0987";
   const std::string subject = "a b,\n\"c\"" + std::string(300, 'z');
   std::string input = WriteFile(kStage + "token", subject + magic);
   fwdtest::RunResult sum = fwdtest::RunProcess({"/usr/bin/sha256sum", input});
   ASSERT_EQ(sum.status, 0) << sum.err;
   EXPECT_EQ(CommonUtils::GenerateDesktopToken(subject, magic), sum.out.substr(0, 40));
}

// 0600 either way; only an existing "plxrelay" takes the file over.
TEST_F(DesktopIdentityTest, SetMagicHandsTheFileToTheRelayUser)
{
   const std::string passwd = ReadFile("/etc/passwd");
   const struct
   {
      std::string relay;
      bool result;
      uid_t owner;
      Msgs logged;
   } cases[] = {
       {"", false, 0, {"error: CommonUtils->FileChown: User plxrelay doesn't exist.\n"}},
       {"plxrelay:x:4321:4321::/nonexistent:/usr/sbin/nologin\n", true, 4321, {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.relay);
      ASSERT_NO_FATAL_FAILURE(BindFile("/etc/passwd", passwd + c.relay));
      EXPECT_EQ(CommonUtils::SetDesktopMagic(), c.result);
      EXPECT_EQ(mLog.Take(), c.logged);
      struct stat st = {};
      EXPECT_EQ(stat(kMagic.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u);
      EXPECT_EQ(st.st_uid, c.owner);
      const std::string magic = ReadFile(kMagic);
      EXPECT_EQ(magic.size(), 40u);
      EXPECT_EQ(magic.find_first_not_of(kAlphabet), std::string::npos) << magic;
   }
   CommonUtils::RemoveDesktopMagic();
   EXPECT_FALSE(std::filesystem::exists(kMagic));
}

// A modulo over random bytes would favour the first 8 characters by a
// quarter; unbiased, both sums below are 80000 give or take a few hundred.
TEST(CommonUtilsRandom, StringsAreUniformOverTheAlphabet)
{
   std::string text = CommonUtils::GenerateRandomString(620000);
   ASSERT_EQ(text.find_first_not_of(kAlphabet), std::string::npos);
   long first8 = 0, last8 = 0;
   for (char c : text) {
      size_t at = kAlphabet.find(c);
      first8 += at < 8;
      last8 += at >= 54;
   }
   EXPECT_LT(labs(first8 - last8), 8000) << first8 << " vs " << last8;
}

// Both files are 0644 whatever the umask.
TEST_F(DesktopIdentityTest, DisplayFilesFollowTheDisplayNameAndTheIdentity)
{
   umask(077);
   const auto mode = std::filesystem::perms(0644);
   const std::pair<std::string, std::string> cases[] = {
       {"wayland-1", "1"}, {"host:10.0", "10.0"}, {"wayland-", ""}, {"seat7", "seat7"}};
   for (const auto &[display, part] : cases) {
      SCOPED_TRACE(display);
      ASSERT_TRUE(CommonUtils::SetDesktopId(display, "id\r"));
      EXPECT_EQ(ReadFile(kIdPrefix + part), "DESKTOPID=id\r\n");
      EXPECT_EQ(std::filesystem::status(kIdPrefix + part).permissions(), mode);
      EXPECT_EQ(CommonUtils::GetDesktopId(display), "id\r");
      ASSERT_TRUE(CommonUtils::SetDpiSync(display, "144", "1"));
      EXPECT_EQ(ReadFile(CommonUtils::kDpiSyncPrefix + part), "CLIENTDPI=144\nDPISYNC=1\n");
      EXPECT_EQ(std::filesystem::status(CommonUtils::kDpiSyncPrefix + part).permissions(), mode);
      CommonUtils::RemoveDesktopId(display, "id\r");
      EXPECT_FALSE(std::filesystem::exists(kIdPrefix + part));
   }
   // Either text empty leaves the DPI file as it was.
   EXPECT_FALSE(CommonUtils::SetDpiSync("seat7", "96", ""));
   EXPECT_FALSE(CommonUtils::SetDpiSync("seat7", "", "0"));
   EXPECT_EQ(ReadFile(CommonUtils::kDpiSyncPrefix + std::string("seat7")),
             "CLIENTDPI=144\nDPISYNC=1\n");
   EXPECT_EQ(mLog.Take(), Msgs{});

   // A file of another identity stays.
   const std::string path = kIdPrefix + "3";
   WriteFile(path, "XDESKTOPID=abc\n\nDESKTOPID=abd\nDESKTOPID=abc\n");
   CommonUtils::RemoveDesktopId(":3", "abc");
   EXPECT_EQ(mLog.Count("Desktop ID abc mismatchs with abd of file " + path), 1u);
   EXPECT_TRUE(std::filesystem::exists(path));
   CommonUtils::RemoveDesktopId(":3", "");
   EXPECT_FALSE(std::filesystem::exists(path));
}

// os-release first (its id= lines only), then the release files in order,
// then lsb_release, for which a script alone on PATH stands in.
TEST_F(DesktopIdentityTest, DistributionSourcesAreTriedInOrder)
{
   const char *none = nullptr;
   auto notFound = [](const std::string &text) {
      return Msgs{"warning: Can not find the supported distribution from " + text + ".\n"};
   };
   const struct
   {
      const char *osRelease;
      std::vector<std::string> releaseFiles;
      const char *lsb;
      std::string dist;
      Msgs logged;
   } cases[] = {
       {"NAME=\"Rocky Linux\"\nID=Rocky\n", {}, "Ubuntu", "rocky", {}},
       {"ID=\"centos rhel\"\n", {}, none, "rhel", {}},
       {"ID=fedora\n", {}, "Ubuntu", "ubuntu", notFound("id=fedora")},
       {"ID_LIKE=debian\nID=linuxmint\n", {}, "SLED", "suse", notFound("id=linuxmint")},
       {none, {"centos-release", "rocky-release", "redhat-release"}, "Debian", "centos", {}},
       {none, {"rocky-release", "redhat-release"}, "Debian", "rocky", {}},
       {"ID=fedora\n", {"redhat-release"}, "Debian", "rhel", notFound("id=fedora")},
       {none, {}, "Fedora\n", "", notFound("fedora\n")},
       {none, {}, none, "", notFound("")},
   };
   setenv("PATH", "/etc/fwdtest-bin", 1);
   for (const auto &c : cases) {
      SCOPED_TRACE(c.dist + " " + (c.osRelease ? c.osRelease : "(none)"));
      ASSERT_EQ(mount("tmpfs", "/etc", "tmpfs", 0, "mode=0755"), 0);
      if (c.osRelease != nullptr) {
         WriteFile("/etc/os-release", c.osRelease);
      }
      for (const std::string &name : c.releaseFiles) {
         WriteFile("/etc/" + name, "");
      }
      if (c.lsb != nullptr) {
         std::string script = "/etc/fwdtest-bin/lsb_release";
         WriteFile(script, std::string("#!/bin/sh\nprintf '") + c.lsb + "'\n");
         chmod(script.c_str(), 0755);
      }
      EXPECT_EQ(CommonUtils::GetDistribution(), c.dist);
      EXPECT_EQ(mLog.Take(), c.logged);
      ASSERT_EQ(umount2("/etc", MNT_DETACH), 0);
   }
}

// Host names of up to 64 characters, the longest there are, are read whole.
TEST_F(DesktopIdentityTest, DomainFollowsTheFirstDotOfTheOfficialName)
{
   const std::string h63(63, 'h'), h64(64, 'h');
   const struct
   {
      std::string host, hosts, domain;
   } cases[] = {
       {"fwdhost", "127.0.1.1 fwdhost.corp.example.org fwdhost\n", "corp.example.org"},
       {"fwdhost", "127.0.1.1 fwdhost fwdhost.example\n", "fwdhost"},
       {h63, "127.0.1.1 " + h63 + ".corp.example " + h63 + "\n", "corp.example"},
       {h64, "127.0.1.1 " + h64 + ".corp.example " + h64 + "\n", "corp.example"},
       {"fwdhost", "127.0.1.1 otherhost\n", "fwdhost"},
   };
   ASSERT_EQ(unshare(CLONE_NEWUTS), 0) << strerror(errno);
   ASSERT_NO_FATAL_FAILURE(BindFile("/etc/nsswitch.conf", "hosts: files\n"));
   for (const auto &c : cases) {
      ASSERT_EQ(sethostname(c.host.data(), c.host.size()), 0) << c.host;
      ASSERT_NO_FATAL_FAILURE(BindFile("/etc/hosts", c.hosts));
      EXPECT_EQ(CommonUtils::GetHostDomain(), c.domain) << c.hosts;
   }
   EXPECT_EQ(mLog.Take(), Msgs{"error: CommonUtils->GetHostDomain Failed to call "
                               "gethostbyname_r, error: Unknown host\n"});
}

} // namespace
