/// Socket addresses from text, shared by the tests and the example agent
/// (header only, so the agent needs no test library).
#ifndef TESTS_SUPPORT_SOCKADDR_H
#define TESTS_SUPPORT_SOCKADDR_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include <string>

namespace fwdtest {

/// Fills `ss` and `len` with `address` (IPv4 or IPv6 text) and `port` (host
/// order). False when the text is neither.
inline bool SockAddrFromText(const std::string &address, uint16_t port, struct sockaddr_storage *ss,
                             socklen_t *len)
{
   memset(ss, 0, sizeof *ss);
   auto *sin = reinterpret_cast<struct sockaddr_in *>(ss);
   auto *sin6 = reinterpret_cast<struct sockaddr_in6 *>(ss);
   if (inet_pton(AF_INET, address.c_str(), &sin->sin_addr) == 1) {
      sin->sin_family = AF_INET;
      sin->sin_port = htons(port);
      *len = sizeof *sin;
   } else if (inet_pton(AF_INET6, address.c_str(), &sin6->sin6_addr) == 1) {
      sin6->sin6_family = AF_INET6;
      sin6->sin6_port = htons(port);
      *len = sizeof *sin6;
   } else {
      return false;
   }
   return true;
}

} // namespace fwdtest

#endif
