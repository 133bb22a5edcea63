// The desktop magic, desktop tokens and the small file and user utilities
// they rely on.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <openssl/evp.h>

#include "common/commonUtils.h"
#include "lib/log/log.h"

namespace {

const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
constexpr unsigned kAlphabetSize = sizeof kAlphabet - 1;
// The largest multiple of the alphabet size in a byte's range: bytes from
// here up are redrawn, so every character is equally likely.
constexpr unsigned kUnbiasedLimit = 256 / kAlphabetSize * kAlphabetSize;

std::string gMagicCache;

// getpwnam_r for FileChown and Username2Uid, with their shared messages.
bool LookupUid(const char *origin, const std::string &user, uid_t &uid)
{
   long size = sysconf(_SC_GETPW_R_SIZE_MAX);
   if (size == -1) {
      size = 16384;
   }
   std::unique_ptr<char, decltype(&free)> buf(static_cast<char *>(malloc(size)), free);
   if (!buf) {
      Log_Level(2, "CommonUtils->%s: Failed to malloc %lu.\n", origin, (unsigned long)size);
      return false;
   }
   struct passwd pwd;
   struct passwd *found = nullptr;
   int rc = getpwnam_r(user.c_str(), &pwd, buf.get(), size, &found);
   if (found == nullptr) {
      if (rc != 0) {
         Log_Level(2, "CommonUtils->%s: getpwnam_r failed, error code %d.\n", origin, rc);
      } else {
         Log_Level(2, "CommonUtils->%s: User %s doesn't exist.\n", origin, user.c_str());
      }
      return false;
   }
   uid = pwd.pw_uid;
   return true;
}

} // namespace

std::string CommonUtils::GetDesktopMagic()
{
   if (!gMagicCache.empty()) {
      return gMagicCache;
   }
   int fd = open(kDesktopMagicPath, O_RDONLY);
   if (fd < 0) {
      Log_Level(2, "CommonUtils->%s: Fail to open file %s, %s.\n", "GetDesktopMagic",
                kDesktopMagicPath, strerror(errno));
      return "";
   }
   char buf[64] = {0};
   ssize_t n = read(fd, buf, sizeof buf - 1);
   if (n < 0) {
      Log_Level(2, "CommonUtils->%s: Fail to read file %s, %s.\n", "GetDesktopMagic",
                kDesktopMagicPath, strerror(errno));
   } else {
      buf[n] = '\0';
      gMagicCache = buf;
   }
   close(fd);
   return gMagicCache;
}

bool CommonUtils::SetDesktopMagic()
{
   RemoveFile(kDesktopMagicPath);
   std::string magic = GenerateRandomString(kDesktopMagicLength);
   if (magic.empty()) {
      return false;
   }
   int fd = open(kDesktopMagicPath, O_RDWR | O_CREAT | O_EXCL, 0600);
   if (fd < 0) {
      Log_Level(2, "CommonUtils->%s: Fail to open file %s, %s.\n", "SetDesktopMagic",
                kDesktopMagicPath, strerror(errno));
      return false;
   }
   bool ok;
   if (write(fd, magic.data(), magic.size()) != (ssize_t)magic.size()) {
      Log_Level(2, "CommonUtils->%s: Fail to write file %s, %s.\n", "SetDesktopMagic",
                kDesktopMagicPath, strerror(errno));
      ok = false;
   } else {
      ok = FileChown(kDesktopMagicPath, kRelayUser);
   }
   close(fd);
   return ok;
}

void CommonUtils::RemoveDesktopMagic()
{
   RemoveFile(kDesktopMagicPath);
}

std::string CommonUtils::GenerateDesktopToken(const std::string &subject, const std::string &magic)
{
   const char *origin = "GenerateDesktopToken";
   std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
   if (!ctx) {
      return "";
   }
   if (magic.size() != (size_t)kDesktopMagicLength) {
      Log_Level(2,
                "CommonUtils->%s: Invalid desktop magic number, expected length %d, actual "
                "length %zu.\n",
                origin, kDesktopMagicLength, magic.size());
      return "";
   }
   EVP_MD_CTX_reset(ctx.get());
   if (EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
      Log_Level(2, "CommonUtils->%s: Failed to init SHA256 context.\n", origin);
      return "";
   }
   std::string input = subject + magic;
   if (EVP_DigestUpdate(ctx.get(), input.data(), input.size()) != 1) {
      Log_Level(2, "CommonUtils->%s: Failed to update SHA256 string.\n", origin);
      return "";
   }
   unsigned char digest[32];
   if (EVP_DigestFinal_ex(ctx.get(), digest, nullptr) != 1) {
      Log_Level(2, "CommonUtils->%s: Failed to compute SHA256 digest.\n", origin);
      return "";
   }
   return BytesToHex(digest, 20);
}

std::string CommonUtils::GenerateRandomString(int length)
{
   // The magic is a shared secret: it must not be reproducible from the
   // time it was made, so it comes from the kernel, not from rand().
   std::string out;
   unsigned char bytes[64];
   while ((int)out.size() < length) {
      ssize_t n = getrandom(bytes, sizeof bytes, 0);
      if (n < 0) {
         if (errno == EINTR) {
            continue;
         }
         Log_Level(2, "CommonUtils->%s: getrandom failed, %s.\n", "GenerateRandomString",
                   strerror(errno));
         return "";
      }
      for (ssize_t i = 0; i < n && (int)out.size() < length; i++) {
         if (bytes[i] < kUnbiasedLimit) {
            out += kAlphabet[bytes[i] % kAlphabetSize];
         }
      }
   }
   return out;
}

std::string CommonUtils::BytesToHex(const unsigned char *bytes, uint32_t count)
{
   static const char kDigits[] = "0123456789abcdef";
   std::string hex;
   if (bytes == nullptr) {
      return hex;
   }
   hex.reserve(2 * (size_t)count);
   for (uint32_t i = 0; i < count; i++) {
      hex += kDigits[bytes[i] >> 4];
      hex += kDigits[bytes[i] & 0xf];
   }
   return hex;
}

bool CommonUtils::FileChown(const std::string &path, const std::string &user)
{
   uid_t uid;
   if (!LookupUid("FileChown", user, uid)) {
      return false;
   }
   if (chown(path.c_str(), uid, (gid_t)-1) != 0) {
      Log_Level(2,
                "CommonUtils->%s: chown faild, file name: %s, owner name: %s, error code: "
                "%d.\n",
                "FileChown", path.c_str(), user.c_str(), errno);
      return false;
   }
   return true;
}

void CommonUtils::RemoveFile(const std::string &path)
{
   if (access(path.c_str(), F_OK) != 0) {
      return;
   }
   if (unlink(path.c_str()) != 0) {
      Log_Level(2, "CommonUtils->%s: Fail to remove file %s, %s.\n", "RemoveFile", path.c_str(),
                strerror(errno));
   } else {
      Log_Level(8, "CommonUtils->Remove file %s successfully.\n", path.c_str());
   }
}

bool CommonUtils::Username2Uid(const std::string &user, uid_t &uid)
{
   return LookupUid("Username2Uid", user, uid);
}
