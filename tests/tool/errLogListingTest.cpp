// Ordering rules of the error-log listing.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tool/errLogListing.h"

namespace {

TEST(ErrLogListingTest, ByteWiseKeyTextOrderLaterLineWins)
{
   struct Case
   {
      const char *what;
      std::string raw;
      std::string listing;
      size_t skipped;
   } cases[] = {
       {"numeric order is not listing order",
        "999:0:10.0.0.1:10.0.0.2:1:6:1:2\n"
        "1000:0:10.0.0.1:10.0.0.2:1:6:1:2\n"
        "100:0:10.0.0.1:10.0.0.2:1:6:1:2\n",
        "1000(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 1 dport: 2\n"
        "100(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 1 dport: 2\n"
        "999(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 1 dport: 2\n",
        0},
       {"extra id 10 before 9, both shown",
        "5:9:10.0.0.1:10.0.0.2:9:6:1:2\n"
        "5:10:10.0.0.1:10.0.0.2:10:6:1:2\n",
        "5(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 10 l4proto: 6 sport: 1 dport: 2\n"
        "5(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 9 l4proto: 6 sport: 1 dport: 2\n",
        0},
       {"same key text: the later line wins",
        "5:1:10.0.0.1:10.0.0.2:1:6:1:2\n"
        "5:1:10.0.0.3:10.0.0.4:2:17:3:4\n",
        "5(ns):sip: 10.0.0.3 dip: 10.0.0.4 err: 2 l4proto: 17 sport: 3 dport: 4\n", 0},
       {"IPv6 sorts by the same key text",
        "7:0:[2001:db8::1]:[2001:db8::2]:3:17:5353:53\n"
        "10:0:10.0.0.1:10.0.0.2:1:6:1:2\n",
        "10(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 1 dport: 2\n"
        "7(ns):sip: 2001:db8::1 dip: 2001:db8::2 err: 3 l4proto: 17 sport: 5353 dport: 53\n",
        0},
       {"lines that are not records are counted and left out",
        "delete log file failed. ret: -2 map name: bpf_fwd_err_log\n"
        "\n"
        "8:0:10.0.0.1:10.0.0.2:1:6:1:2\n"
        "8:0:10.0.0.1",
        "8(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6 sport: 1 dport: 2\n", 3},
       {"empty", "", "", 0},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      std::istringstream in(c.raw);
      ErrLogListing listing;
      EXPECT_EQ(c.skipped, ReadErrLogListing(in, &listing));
      std::ostringstream out;
      WriteErrLogListing(out, listing);
      EXPECT_EQ(c.listing, out.str());
   }
}

} // namespace
