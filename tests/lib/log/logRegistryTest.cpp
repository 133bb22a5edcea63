// The output registry: which outputs may be registered together,
// replacement and removal, what Log_Exit leaves behind, and outputs that
// log themselves.
#include <stdio.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/logTestOutput.h"

namespace {

LogOutput *Make(uint32 kind, const std::string &name, uint32 *destroyed = nullptr,
                Bool failOpen = FALSE)
{
   LogTestOutputOptions opts;
   opts.kind = kind;
   opts.name = name.c_str();
   opts.destroyCount = destroyed;
   opts.failOpen = failOpen;
   return LogTestOutput_Create(&opts);
}

// Registers `out`, or frees it when refused: a refused output stays the
// caller's.
bool AddOrFree(LogOutput *out)
{
   if (Log_AddOutput(out)) {
      return true;
   }
   EXPECT_TRUE(Log_FreeOutput(out));
   return false;
}

Bool FixedOpId(size_t size, char *buf)
{
   snprintf(buf, size, "op-%s", "42");
   return TRUE;
}

// Refused: an eleventh output, one registered already, a second of a kind
// and name, one of a kind that goes only with its own kind or of no known
// kind, and one that does not open.
TEST(LogRegistry, CountNameKindAndOpenRulesAndWhatExitLeaves)
{
   std::vector<LogOutput *> outs;
   for (int i = 0; i < LOG_MAX_OUTPUTS; i++) {
      outs.push_back(Make(LOG_OUTPUT_KIND_FILE, "o" + std::to_string(i)));
      ASSERT_TRUE(Log_AddOutput(outs.back()));
   }
   EXPECT_FALSE(AddOrFree(Make(LOG_OUTPUT_KIND_3, "eleventh")));
   EXPECT_FALSE(Log_AddOutput(outs[0])) << "already registered";
   EXPECT_FALSE(Log_FreeOutput(outs[0])) << "registered outputs are not freed";
   Log_Exit();

   ASSERT_TRUE(Log_AddOutput(Make(LOG_OUTPUT_KIND_FILE, "file")));
   EXPECT_FALSE(AddOrFree(Make(LOG_OUTPUT_KIND_FILE, "file")));
   EXPECT_FALSE(AddOrFree(Make(LOG_OUTPUT_KIND_4, "alone")));
   EXPECT_FALSE(AddOrFree(Make(0x99999, "unknown")));
   AddTestOutput("file"); // same name, other kind
   Log_Exit();

   uint32 destroyed = 0;
   EXPECT_FALSE(AddOrFree(Make(LOG_OUTPUT_KIND_3, "broken", &destroyed, TRUE)));
   EXPECT_EQ(1u, destroyed) << "by its caller only";
   EXPECT_FALSE(Log_HaveOutputs());

   // Exit clears the operation id (what is logged after it waits for the
   // next output, as the time-stamp test shows).
   LogOutput *first = AddTestOutput();
   Log_RegisterOpIdFunction(FixedOpId);
   Log("with id");
   EXPECT_STREQ("op-42", LogTestOutput_Entries(first).back().record.opId);
   Log_Exit();
   Log("without");
   EXPECT_STREQ("", LogTestOutput_Entries(AddTestOutput()).back().record.opId);
   Log_Exit();
}

TEST(LogRegistry, ReplaceAndRemove)
{
   uint32 destroyedA = 0, destroyedB = 0, destroyedC = 0;
   LogOutput *a = Make(LOG_OUTPUT_KIND_3, "a", &destroyedA);
   LogOutput *b = Make(LOG_OUTPUT_KIND_3, "b", &destroyedB);
   ASSERT_TRUE(Log_AddOutput(a));
   ASSERT_TRUE(Log_AddOutput(b));

   // Refused: another name, another kind, copying without file outputs, a
   // registered replacement, an unregistered original.
   LogOutput *wrongName = Make(LOG_OUTPUT_KIND_3, "z"),
             *wrongKind = Make(LOG_OUTPUT_KIND_FILE, "a");
   LogOutput *copyTest = Make(LOG_OUTPUT_KIND_3, "a");
   for (auto [from, to, copy] : {std::make_tuple(a, wrongName, FALSE),
                                 {a, wrongKind, FALSE},
                                 {a, copyTest, TRUE},
                                 {a, b, FALSE},
                                 {wrongName, (LogOutput *)nullptr, FALSE},
                                 {a, nullptr, TRUE}}) {
      EXPECT_FALSE(Log_ReplaceOutput(from, to, copy));
   }
   EXPECT_EQ(0u, destroyedA);
   for (LogOutput *o : {wrongName, wrongKind, copyTest}) {
      EXPECT_TRUE(Log_FreeOutput(o));
   }

   LogOutput *c = Make(LOG_OUTPUT_KIND_3, "a", &destroyedC);
   ASSERT_TRUE(Log_ReplaceOutput(a, c, FALSE));
   EXPECT_EQ(1u, destroyedA);
   Log("after replace");
   EXPECT_EQ((std::vector<std::string>{"after replace\n"}), LogTestOutput_Texts(c));

   Log_Exit();
   EXPECT_EQ(1u, destroyedC);
   EXPECT_EQ(1u, destroyedB);
}

// With locking, what an output logs from its write waits for the next
// message; without, it arrives at once, and the nesting stays bounded.
TEST(LogRegistry, MessagesAnOutputLogs)
{
   const struct
   {
      Bool noLocking;
      const char *afterFirst;
      const char *afterSecond;
   } cases[] = {
       {FALSE, "first\n", "first\nout\nsecond\n"},
       {TRUE, "first\nout\n", "first\nout\nout\nout\nsecond\nout\n"},
   };
   for (const auto &c : cases) {
      DrainPreOutputBuffer(); // so that registration replays nothing
      LogTestOutputOptions opts;
      opts.logFromWrite = "out";
      LogOutput *out = LogTestOutput_Create(&opts);
      ASSERT_TRUE(Log_AddOutput(out));
      Log_SetNoLocking(c.noLocking);
      Log("first");
      EXPECT_EQ(c.afterFirst, LogTestOutput_Joined(out)) << "no locking: " << (int)c.noLocking;
      Log("second");
      Log_SetNoLocking(FALSE);
      EXPECT_EQ(c.afterSecond, LogTestOutput_Joined(out)) << "no locking: " << (int)c.noLocking;
      Log_Exit();
   }
}

} // namespace
