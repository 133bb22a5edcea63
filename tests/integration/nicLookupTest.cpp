// getNicFromIp against the interfaces of a private network namespace.
#include <sched.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bpfproxy/nicLookup.h"
#include "support/kernelFixture.h"

namespace {

fwdtest::RunResult Ip(std::vector<std::string> args)
{
   args.insert(args.begin(), {"/usr/bin/env", "ip"});
   return fwdtest::RunProcess(args);
}

class NicLookupTest : public ::testing::Test
{
 protected:
   void SetUp() override
   {
      std::string why = fwdtest::EnterPrivateNamespaces();
      if (!why.empty()) {
         FWD_SKIP_OR_FAIL("private namespaces unavailable: " + why);
      }
      // Two veth pairs; 10.5.0.7 sits on both nl1 and nl2 (nl1 first).
      const std::vector<std::vector<std::string>> steps = {
          {"link", "set", "lo", "up"},
          {"link", "add", "nl1", "type", "veth", "peer", "name", "nl1p"},
          {"link", "add", "nl2", "type", "veth", "peer", "name", "nl2p"},
          {"addr", "add", "10.5.0.7/24", "dev", "nl1"},
          {"addr", "add", "10.5.0.7/24", "dev", "nl2"},
          {"addr", "add", "10.6.0.1/24", "dev", "nl2"},
          {"-6", "addr", "add", "fd05::7/64", "dev", "nl2", "nodad"},
          {"-6", "addr", "add", "::ffff:10.6.0.9/128", "dev", "nl1p", "nodad"},
      };
      for (const auto &args : steps) {
         auto r = Ip(args);
         if (r.status != 0) {
            FWD_SKIP_OR_FAIL("cannot set up interfaces: ip " + args[1] + ": " + r.err);
         }
      }
   }
};

TEST_F(NicLookupTest, FindsTheFirstInterfaceWithExactlyThatAddress)
{
   struct Case
   {
      const char *ip;
      int result;
      const char *nic;
   } cases[] = {
       {"10.5.0.7", 0, "nl1"},    // on two interfaces: the first one
       {"10.6.0.1", 0, "nl2"},    // second address of an interface
       {"fd05::7", 0, "nl2"},     // IPv6
       {"FD05:0:0::7", 0, "nl2"}, // other spelling, same 16 bytes
       {"127.0.0.1", 0, "lo"},
       {"::1", 0, "lo"},
       {"::ffff:10.6.0.9", 0, "nl1p"}, // mapped text matches the IPv6 entry
       {"10.6.0.9", -1, ""},           // ...never an IPv4 one
       {"::ffff:10.5.0.7", -1, ""},    // nor does it match the IPv4 10.5.0.7
       {"10.5.0.8", -1, ""},
       {"10.5.0.0", -1, ""}, // the network, not an address
       {"", -1, ""},
       {"nl1", -1, ""},
       {"10.5.0.7 ", -1, ""},
       {"fd05::7%nl2", -1, ""},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.ip);
      std::string nic = "untouched";
      EXPECT_EQ(getNicFromIp(c.ip, nic), c.result);
      EXPECT_EQ(nic, c.result == 0 ? std::string(c.nic) : std::string("untouched"));
   }
}

} // namespace
