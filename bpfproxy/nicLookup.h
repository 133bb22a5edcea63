/// Interface lookup by address.
#ifndef BPFPROXY_NICLOOKUP_H
#define BPFPROXY_NICLOOKUP_H

#include <string>

/// Finds the first interface (in getifaddrs order) that has exactly the
/// address `ip` configured; `ip` is IPv4 or IPv6 text as inet_pton reads it.
/// An IPv4-mapped IPv6 text matches only an IPv6 entry. Scope id and flow
/// information are not compared. Returns 0 and replaces `nic` with the
/// interface name, or -1 with `nic` unchanged. Keeps no state; reentrant.
int getNicFromIp(const std::string &ip, std::string &nic);

#endif
