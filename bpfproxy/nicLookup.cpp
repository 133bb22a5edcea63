#include "bpfproxy/nicLookup.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

int getNicFromIp(const std::string &ip, std::string &nic)
{
   struct ifaddrs *list = nullptr;
   if (getifaddrs(&list) != 0) {
      return -1;
   }
   int result = -1;
   for (struct ifaddrs *ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
      if (ifa->ifa_addr == nullptr) {
         continue;
      }
      bool match = false;
      if (ifa->ifa_addr->sa_family == AF_INET) {
         struct in_addr want;
         if (inet_pton(AF_INET, ip.c_str(), &want) != 1) {
            continue;
         }
         const auto *sin = reinterpret_cast<const struct sockaddr_in *>(ifa->ifa_addr);
         match = memcmp(&want, &sin->sin_addr, sizeof want) == 0;
      } else if (ifa->ifa_addr->sa_family == AF_INET6) {
         struct in6_addr want;
         if (inet_pton(AF_INET6, ip.c_str(), &want) != 1) {
            continue;
         }
         const auto *sin6 = reinterpret_cast<const struct sockaddr_in6 *>(ifa->ifa_addr);
         match = memcmp(&want, &sin6->sin6_addr, sizeof want) == 0;
      }
      if (match) {
         nic = ifa->ifa_name;
         result = 0;
         break;
      }
   }
   freeifaddrs(list);
   return result;
}
