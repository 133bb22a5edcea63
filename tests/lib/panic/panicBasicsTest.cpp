// The panic path as seen from outside: what reaches standard error and how
// the process ends.
#include <string.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "lib/lock/userlock.h"
#include "lib/log/logOutput.h"
#include "lib/log/logTestSupport.h"
#include "lib/panic/panic.h"
#include "support/logTestOutput.h"

namespace {

TEST(PanicBasics, WritesTheMessageAndExits255)
{
   struct
   {
      const char *what;
      std::function<void()> body;
      std::string err;
   } cases[] = {
       {"verify", [] { Panic("VERIFY %s:%d\n", "vela/lib/config/configUL", 120); },
        "VERIFY vela/lib/config/configUL:120\n"},
       {"percent signs survive", [] { Panic("%s", "100% sure %d\n"); }, "100% sure %d\n"},
       {"no newline added", [] { Panic("bare"); }, "bare"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.what);
      ChildResult child = RunInChild(c.body);
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(255, child.status);
      EXPECT_EQ(c.err, child.err);
   }
}

TEST(PanicBasics, LongMessagesAreCutOnACharacter)
{
   for (int shift = 0; shift < 3; shift++) {
      ChildResult child = RunInChild([shift] {
         std::string big(shift, '-');
         while (big.size() < 3000) {
            big += "\xE2\x82\xAC"; // three bytes
         }
         Panic("%s", big.c_str());
      });
      ASSERT_TRUE(child.exited);
      EXPECT_EQ(255, child.status);
      EXPECT_LE(child.err.size(), 1023u);
      EXPECT_GE(child.err.size(), 1021u);
      EXPECT_EQ(0u, (child.err.size() - shift) % 3) << "cut inside a character";
   }
}

TEST(PanicBasics, LogsTheMessageAtLevelOne)
{
   ChildResult child = RunInChild([] {
      LogTestOutputOptions opts;
      opts.stderrLevel = LOG_PANIC; // copies the level-1 line to stderr
      Log_AddOutput(LogTestOutput_Create(&opts));
      Panic("boom %d\n", 7);
   });
   ASSERT_TRUE(child.exited);
   EXPECT_EQ(255, child.status);
   EXPECT_EQ("boom 7\nPANIC: boom 7\n", child.err);
}

// An output that panics on every write makes the panic path re-enter.
void PanicAgain(LogOutput *, const LogRecord *, size_t, const char *)
{
   Panic("second\n");
}

TEST(PanicBasics, APanicInsideThePanicEndsWithStatusOne)
{
   ChildResult child = RunInChild([] {
      static LogOutput out;
      memset(&out, 0, sizeof out);
      out.kind = LOG_OUTPUT_KIND_3;
      out.wholeMessage = TRUE;
      out.name = strdup("panicky");
      out.fileLevel = LOG_INFO;
      out.stderrLevel = -1;
      out.write = PanicAgain;
      if (!Log_AddOutput(&out)) {
         _exit(2);
      }
      Panic("first\n");
   });
   ASSERT_TRUE(child.exited);
   EXPECT_EQ(1, child.status);
   EXPECT_EQ("first\nsecond\nPanic loop\n", child.err);
}

} // namespace
