// The per-display identity and DPI files.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "common/commonUtils.h"
#include "lib/log/log.h"

namespace {

const char kSetDesktopId[] =
    "static bool CommonUtils::SetDesktopId(const std::string&, const std::string&)";
const char kSetDpiSync[] = "static bool CommonUtils::SetDpiSync(const std::string&, const "
                           "std::string&, const std::string&)";
const char kRemoveDesktopId[] =
    "static void CommonUtils::RemoveDesktopId(const std::string&, const std::string&)";
const char kIdKey[] = "DESKTOPID=";
constexpr mode_t kDisplayFileMode = 0644;

// Gives the descriptor `open` returned for `path` the files' mode, writes
// `content` to it, closes it and logs either failure under `origin`.
bool WriteDisplayFile(const char *origin, int fd, const std::string &path,
                      const std::string &display, const std::string &content)
{
   if (fd < 0) {
      Log_Level(2, "CommonUtils->%s: Fail to open file %s by display %s, %s.\n", origin,
                path.c_str(), display.c_str(), strerror(errno));
      return false;
   }
   // The mode is set, not left to the umask: other users read these files.
   bool ok = fchmod(fd, kDisplayFileMode) == 0 &&
             write(fd, content.data(), content.size()) == (ssize_t)content.size();
   if (!ok) {
      Log_Level(2, "CommonUtils->%s: Fail to write file %s by display %s, %s.\n", origin,
                path.c_str(), display.c_str(), strerror(errno));
   }
   close(fd);
   return ok;
}

} // namespace

std::string CommonUtils::BuildDisplayFile(const std::string &prefix, const std::string &display)
{
   static const std::string kWayland = "wayland-";
   std::string idPart;
   size_t colon = display.find(':');
   if (display.compare(0, kWayland.size(), kWayland) == 0) {
      idPart = display.substr(kWayland.size());
   } else if (colon != std::string::npos) {
      idPart = display.substr(colon + 1);
   } else {
      idPart = display;
   }
   Log_Level(8, "prefix: %s, display: %s, idPart: %s", prefix.c_str(), display.c_str(),
             idPart.c_str());
   return prefix + idPart;
}

bool CommonUtils::SetDesktopId(const std::string &display, const std::string &id)
{
   std::string path = BuildDisplayFile(kDesktopIdPrefix, display);
   std::string content = kIdKey + id + "\n";
   int fd = creat(path.c_str(), kDisplayFileMode);
   return WriteDisplayFile(kSetDesktopId, fd, path, display, content);
}

std::string CommonUtils::GetDesktopId(const std::string &display)
{
   std::string path = BuildDisplayFile(kDesktopIdPrefix, display);
   std::ifstream in(path);
   if (!in) {
      Log_Level(2, "Failed to open file %s.\n", path.c_str());
      return "";
   }
   std::string id;
   for (std::string line; std::getline(in, line);) {
      if (line.compare(0, sizeof kIdKey - 1, kIdKey) == 0) {
         id = line.substr(sizeof kIdKey - 1);
         break;
      }
   }
   if (id.empty()) {
      Log_Level(2, "Failed to get desktop id from %s.\n", path.c_str());
   }
   return id;
}

void CommonUtils::RemoveDesktopId(const std::string &display, const std::string &id)
{
   std::string path = BuildDisplayFile(kDesktopIdPrefix, display);
   if (!id.empty()) {
      std::string fileId = GetDesktopId(display);
      if (fileId != id) {
         Log_Level(2,
                   "CommonUtils->%s: Desktop ID %s mismatchs with %s of file %s by display %s, "
                   "%s.\n",
                   kRemoveDesktopId, id.c_str(), fileId.c_str(), path.c_str(), display.c_str(),
                   strerror(errno));
         return;
      }
   }
   if (unlink(path.c_str()) != 0) {
      Log_Level(2, "CommonUtils->%s: Fail to remove file %s by display %s, %s.\n", kRemoveDesktopId,
                path.c_str(), display.c_str(), strerror(errno));
   }
}

bool CommonUtils::SetDpiSync(const std::string &display, const std::string &clientDpi,
                             const std::string &dpiSync)
{
   std::string path = BuildDisplayFile(kDpiSyncPrefix, display);
   if (clientDpi.empty() || dpiSync.empty()) {
      return false;
   }
   Log_Level(8,
             "CommonUtils->%s: Update DpiSync file %s by display %s, clientDpi: %s, dpiSync: "
             "%s\n",
             kSetDpiSync, path.c_str(), display.c_str(), clientDpi.c_str(), dpiSync.c_str());
   std::string content = "CLIENTDPI=" + clientDpi + "\nDPISYNC=" + dpiSync + "\n";
   int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, kDisplayFileMode);
   return WriteDisplayFile(kSetDpiSync, fd, path, display, content);
}
