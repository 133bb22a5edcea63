// Possible-CPU counting from the file's text form: the odd forms. The usual
// ones are read through bind-mounted files by the tool's process tests.
#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "bpfproxy/bpfSyscall.h"

namespace {

TEST(PossibleCpusTest, CountsListsAndRanges)
{
   const std::pair<const char *, int> cases[] = {
       {"0-3,8-11\n", 8},
       {",,0-1\n", 2},         // empty items are skipped
       {"0-1", 2},             // no final newline
       {"", 0},                // no item
       {",,,", 0},             // only empty items
       {"3-1\n", -1},          // a range must grow
       {"1-2-3\n", -1},        // three pieces
       {"0-3,5-5\n", -1},      // a bad item anywhere
       {"x\n", 1},             // one piece is counted, not converted
       {"-3\n", 4},            // empty first piece converts to 0
       {"0-2147483647\n", -1}, // would overflow the count
       {"0-1,0-2147483646\n", -1},
   };
   for (const auto &[text, count] : cases) {
      SCOPED_TRACE(text);
      std::istringstream in(text);
      EXPECT_EQ(count, CountPossibleCpus(in));
   }
}

} // namespace
