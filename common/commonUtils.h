/// CommonUtils: static utilities shared by the agent components: shell
/// execution (execShell.cpp), the desktop magic and tokens (desktopMagic.cpp),
/// the per-display files (displayFiles.cpp), host information (hostInfo.cpp),
/// password masking (maskPassword.cpp) and time stamps (timeUtils.cpp). Not
/// thread safe unless a function says otherwise.
#ifndef COMMON_COMMONUTILS_H
#define COMMON_COMMONUTILS_H

#include <stdint.h>
#include <sys/types.h>

#include <string>

class CommonUtils
{
 public:
   CommonUtils() = delete;

   /// Status form: runs `cmd` through "sh -c" (popen), appends everything it
   /// prints on standard output to `output` (never cleared) and stores the raw
   /// wait status of pclose in `status` (exit code 1 is 256). Returns false,
   /// leaving `status` untouched, when the command could not be started.
   /// Takes no lock and logs nothing; safe on several threads at once.
   static bool ExecShell(const std::string &cmd, std::string &output, int &status);

   /// Capture form: like the status form but discards the wait status and
   /// logs the command with the whole `output` at level 8, or the popen
   /// failure at level 2. Serialised by a process-wide capture lock held from
   /// before popen until after pclose.
   static bool ExecShell(const std::string &cmd, std::string &output);

   /// Fork form: forks a child that runs "sh -c cmd" (shown as "execshell")
   /// and, when `wait` is set, reaps it (retrying on EINTR); the child's exit
   /// status is not examined. Returns false only when fork failed. Serialised
   /// by a process-wide fork lock, held across the wait too. Independent of
   /// the capture lock.
   static bool ExecShell(const std::string &cmd, bool wait);

   /// Runs the status form with the status preset to -1: returns the raw wait
   /// status, or -1 when the command was not started.
   static int ExecShellStatus(const std::string &cmd, std::string &output);

   /// Returns `text` as one shell word: unchanged when it consists only of
   /// A-Z a-z 0-9 and _ . / @ % + = : , - (the empty text too), otherwise
   /// single-quoted with each embedded ' written as '\''.
   static std::string ShellQuote(const std::string &text);

   // Supported distributions, desktop environments and the account of the
   // remote display worker.
   static constexpr const char *kDistRhel = "rhel";
   static constexpr const char *kDistCentos = "centos";
   static constexpr const char *kDistRocky = "rocky";
   static constexpr const char *kDistUbuntu = "ubuntu";
   static constexpr const char *kDistSuse = "suse";
   static constexpr const char *kDistDebian = "debian";
   static constexpr const char *kDesktopGnome = "gnome";
   static constexpr const char *kDesktopMate = "mate";
   static constexpr const char *kDesktopKde = "kde";
   static constexpr const char *kRelayUser = "plxrelay";

   static constexpr const char *kDesktopMagicPath = "/var/keltria/plx_desktop_magic";
   static constexpr int kDesktopMagicLength = 40;
   static constexpr const char *kDesktopIdPrefix = "/var/keltria/plx_desktop/plx_desktopid.";
   static constexpr const char *kDpiSyncPrefix = "/var/keltria/plx_desktop/plx_dpisync.";

   /// The cached magic; on first success it reads at most 63 bytes of the
   /// magic file, up to the first NUL. Empty (and retried next time) when the
   /// file cannot be read.
   static std::string GetDesktopMagic();

   /// Replaces the magic file with a new 40-character magic, mode 0600, and
   /// hands it to kRelayUser. False, with the file possibly left, when any
   /// step failed. Does not update the cache of GetDesktopMagic.
   static bool SetDesktopMagic();

   static void RemoveDesktopMagic();

   /// First 20 bytes of SHA-256(subject + magic) as 40 lower-case hex
   /// characters; empty when the magic is not 40 characters or the digest
   /// failed.
   static std::string GenerateDesktopToken(const std::string &subject, const std::string &magic);

   /// `length` characters from the kernel's random source, uniform over
   /// a-z A-Z 1-9 0. Empty (and logged) when that source fails.
   static std::string GenerateRandomString(int length);

   /// Lower-case hex, two characters per byte; empty for null or 0.
   static std::string BytesToHex(const unsigned char *bytes, uint32_t count);

   /// Makes `user` the owner of `path`, group unchanged. False (logged) when
   /// the user is unknown or chown failed.
   static bool FileChown(const std::string &path, const std::string &user);

   /// Unlinks `path`; silent when it does not exist.
   static void RemoveFile(const std::string &path);

   /// Stores the id of `user` in `uid`; false (logged) when unknown.
   static bool Username2Uid(const std::string &user, uid_t &uid);

   /// Local time as "%Y%m%d_%H%M%S".
   static std::string GetTimeStamp();

   /// System-clock milliseconds since the epoch.
   static int64_t GetNowMs();

   /// `text` with the value of every "password": key replaced by "***",
   /// blanks before it included and the text around it unchanged. After
   /// blanks, a string ends at its closing quote and an object or array at
   /// its matching bracket (strings inside skipped, a backslash escaping the
   /// next character); any other value ends before the next , } or ]. An
   /// unterminated value runs to the end of the text.
   static std::string MaskPassword(const std::string &text);

   /// `prefix` followed by the display part of `display`: what follows
   /// "wayland-", else what follows the first ":", else the whole name.
   static std::string BuildDisplayFile(const std::string &prefix, const std::string &display);

   /// Writes "DESKTOPID=<id>\n" to the display's identity file (0644).
   static bool SetDesktopId(const std::string &display, const std::string &id);

   /// The value of the first "DESKTOPID=" line, unchanged; empty (logged)
   /// when there is none or the file cannot be read.
   static std::string GetDesktopId(const std::string &display);

   /// Removes the display's identity file; with a non-empty `id` only when
   /// the file holds that identity (a mismatch is logged).
   static void RemoveDesktopId(const std::string &display, const std::string &id);

   /// Writes "CLIENTDPI=<dpi>\nDPISYNC=<sync>\n" to the display's DPI file
   /// (0644). False, leaving the file alone, when either text is empty.
   static bool SetDpiSync(const std::string &display, const std::string &clientDpi,
                          const std::string &dpiSync);

   /// The supported distribution named in `text` (first match of rhel,
   /// centos, rocky, ubuntu, sled/sles/suse, debian), or "" (logged).
   static std::string NormalizeDistribution(const std::string &text);

   /// True when `path` can be opened for reading.
   static bool FileExists(const std::string &path);

   /// The host's distribution from the id= line of /etc/os-release, else the
   /// centos, rocky and redhat release files, else "lsb_release -is"; "" when
   /// none names a supported one.
   static std::string GetDistribution();

   /// What follows the first "." of the host's official name, or the host
   /// name when there is no such domain or the lookup failed.
   static std::string GetHostDomain();
};

#endif
