// Host information: the distribution and the DNS domain.
#include <ctype.h>
#include <errno.h>
#include <netdb.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>

#include "common/commonUtils.h"
#include "lib/log/log.h"

namespace {

std::string Lowered(std::string text)
{
   for (char &c : text) {
      c = (char)tolower((unsigned char)c);
   }
   return text;
}

} // namespace

std::string CommonUtils::NormalizeDistribution(const std::string &text)
{
   // Tried in order: a text naming both centos and rhel is rhel.
   static const struct
   {
      const char *needle;
      const char *dist;
   } kRows[] = {
       {"rhel", kDistRhel}, {"centos", kDistCentos}, {"rocky", kDistRocky}, {"ubuntu", kDistUbuntu},
       {"sled", kDistSuse}, {"sles", kDistSuse},     {"suse", kDistSuse},   {"debian", kDistDebian},
   };
   for (const auto &row : kRows) {
      if (text.find(row.needle) != std::string::npos) {
         return row.dist;
      }
   }
   Log_Level(3, "Can not find the supported distribution from %s.\n", text.c_str());
   return "";
}

bool CommonUtils::FileExists(const std::string &path)
{
   return std::ifstream(path).good();
}

std::string CommonUtils::GetDistribution()
{
   std::ifstream osRelease("/etc/os-release");
   for (std::string line; std::getline(osRelease, line);) {
      line = Lowered(line);
      if (line.size() < 3 || line.compare(0, 3, "id=") != 0) {
         continue;
      }
      std::string dist = NormalizeDistribution(line);
      if (!dist.empty()) {
         return dist;
      }
   }
   if (FileExists("/etc/centos-release")) {
      return kDistCentos;
   }
   if (FileExists("/etc/rocky-release")) {
      return kDistRocky;
   }
   if (FileExists("/etc/redhat-release")) {
      return kDistRhel;
   }
   std::string output;
   ExecShell("lsb_release -is", output);
   return NormalizeDistribution(Lowered(output));
}

std::string CommonUtils::GetHostDomain()
{
   const char *origin = "GetHostDomain";
   // Room for the longest host name (64 characters) and its NUL, plus a
   // last byte gethostname is never given, so the text always ends.
   char host[66] = {0};
   if (gethostname(host, sizeof host - 1) != 0) {
      Log_Level(2, "CommonUtils->%s Failed to get host name, error: %s\n", origin, strerror(errno));
      return host;
   }
   size_t size = 1024;
   char *buf = static_cast<char *>(malloc(size));
   if (buf == nullptr) {
      Log_Level(2, "CommonUtils->%s failed to malloc %d.\n", origin, (int)size);
      return host;
   }
   struct hostent entry;
   struct hostent *result = nullptr;
   int herr = 0;
   int rc;
   while ((rc = gethostbyname_r(host, &entry, buf, size, &result, &herr)) == ERANGE) {
      size *= 2;
      char *grown = static_cast<char *>(realloc(buf, size));
      if (grown == nullptr) {
         Log_Level(2, "CommonUtils->%s Failed to realloc %d.\n", origin, (int)size);
         free(buf);
         return host;
      }
      buf = grown;
   }
   std::string domain = host;
   if (rc != 0 || result == nullptr) {
      Log_Level(2, "CommonUtils->%s Failed to call gethostbyname_r, error: %s\n", origin,
                hstrerror(herr));
   } else if (result->h_name == nullptr || result->h_name[0] == '\0') {
      Log_Level(3, "CommonUtils->%s hostfqdn is empty, use %s instead.\n", origin, host);
   } else {
      const char *dot = strchr(result->h_name, '.');
      if (strcmp(result->h_name, host) != 0 && dot != nullptr) {
         domain = dot + 1;
      }
   }
   free(buf);
   return domain;
}
