// The output registry: which outputs may be registered together,
// replacement and removal, and what Log_Exit leaves behind.
#include <stdio.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/logTestOutput.h"

namespace {

LogOutput *Make(uint32 kind, const char *name, uint32 *destroyed = nullptr, Bool failOpen = FALSE)
{
   LogTestOutputOptions opts;
   opts.kind = kind;
   opts.name = name;
   opts.destroyCount = destroyed;
   opts.failOpen = failOpen;
   return LogTestOutput_Create(&opts);
}

// Registers outputs of the given kinds, then tries one more.
bool TryAdd(const std::vector<uint32> &present, uint32 adding)
{
   for (size_t i = 0; i < present.size(); i++) {
      std::string name = "p" + std::to_string(i);
      EXPECT_TRUE(Log_AddOutput(Make(present[i], name.c_str()))) << std::hex << present[i];
   }
   LogOutput *extra = Make(adding, "extra");
   bool added = Log_AddOutput(extra);
   if (!added) {
      EXPECT_TRUE(Log_FreeOutput(extra));
   }
   Log_Exit();
   return added;
}

TEST(LogRegistry, KindRules)
{
   const uint32 F = LOG_OUTPUT_KIND_FILE, K2 = LOG_OUTPUT_KIND_2, K3 = LOG_OUTPUT_KIND_3,
                K4 = LOG_OUTPUT_KIND_4, K5 = LOG_OUTPUT_KIND_5;
   struct
   {
      std::vector<uint32> present;
      uint32 adding;
      bool added;
   } cases[] = {
       {{}, K5, true},   {{}, 0x99999, false}, {{F}, F, true},   {{F, K3}, K2, true},
       {{K4}, F, false}, {{K2}, K2, false},    {{F}, K4, false}, {{K4}, K4, true},
       {{F}, K5, false}, {{K5}, K5, false},
   };
   for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
      EXPECT_EQ(cases[i].added, TryAdd(cases[i].present, cases[i].adding)) << "case " << i;
   }
}

Bool FixedOpId(size_t size, char *buf)
{
   snprintf(buf, size, "op-%s", "42");
   return TRUE;
}

TEST(LogRegistry, CountNameOpenRulesAndWhatExitLeaves)
{
   std::vector<LogOutput *> outs;
   for (int i = 0; i < LOG_MAX_OUTPUTS; i++) {
      std::string name = "o" + std::to_string(i);
      outs.push_back(Make(LOG_OUTPUT_KIND_FILE, name.c_str()));
      ASSERT_TRUE(Log_AddOutput(outs.back()));
   }
   LogOutput *eleventh = Make(LOG_OUTPUT_KIND_3, "eleventh");
   EXPECT_FALSE(Log_AddOutput(eleventh));
   EXPECT_TRUE(Log_FreeOutput(eleventh));
   EXPECT_FALSE(Log_AddOutput(outs[0])) << "already registered";
   EXPECT_FALSE(Log_FreeOutput(outs[0])) << "registered outputs are not freed";
   Log_Exit();

   ASSERT_TRUE(Log_AddOutput(Make(LOG_OUTPUT_KIND_FILE, "file")));
   LogOutput *twin = Make(LOG_OUTPUT_KIND_FILE, "file");
   EXPECT_FALSE(Log_AddOutput(twin));
   EXPECT_EQ(1u, LogTestOutput_OpenCount(twin));
   EXPECT_TRUE(Log_FreeOutput(twin));
   AddTestOutput("file"); // same name, other kind
   Log_Exit();

   uint32 destroyed = 0;
   LogOutput *broken = Make(LOG_OUTPUT_KIND_3, "broken", &destroyed, TRUE);
   EXPECT_FALSE(Log_AddOutput(broken));
   EXPECT_FALSE(Log_HaveOutputs());
   EXPECT_EQ(0u, destroyed) << "a refused output stays the caller's";
   EXPECT_TRUE(Log_FreeOutput(broken));
   EXPECT_EQ(1u, destroyed);

   // Exit clears the operation id and keeps the buffer.
   LogOutput *first = AddTestOutput();
   Log_RegisterOpIdFunction(FixedOpId);
   Log("with id");
   EXPECT_STREQ("op-42", LogTestOutput_Entries(first).back().record.opId);
   Log_Exit();

   Log("buffered after exit");
   LogOutput *second = AddTestOutput();
   std::vector<LogTestEntry> got = LogTestOutput_Entries(second);
   ASSERT_FALSE(got.empty());
   EXPECT_EQ("buffered after exit\n", got.back().text);
   EXPECT_STREQ("", got.back().record.opId);
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

   ASSERT_TRUE(Log_ReplaceOutput(c, nullptr, FALSE));
   EXPECT_EQ(1u, destroyedC);
   Log("only b");
   EXPECT_EQ((std::vector<std::string>{"after replace\n", "only b\n"}), LogTestOutput_Texts(b));

   Log_DisableThrottling();
   EXPECT_EQ(1u, LogTestOutput_ThrottleOffCount(b));
   Log_Exit();
   EXPECT_EQ(1u, destroyedB);
   EXPECT_FALSE(Log_HaveOutputs());
}

// With locking, what an output logs from its write waits for the next
// message; without, it arrives at once, and the nesting stays bounded.
TEST(LogRegistry, MessagesAnOutputLogs)
{
   struct
   {
      Bool noLocking;
      std::vector<std::string> afterFirst;
      std::vector<std::string> afterSecond;
   } cases[] = {
       {FALSE, {"first\n"}, {"first\n", "from the output\n", "second\n"}},
       {TRUE,
        {"first\n", "from the output\n"},
        {"first\n", "from the output\n", "from the output\n", "from the output\n", "second\n",
         "from the output\n"}},
   };
   for (const auto &c : cases) {
      DrainPreOutputBuffer(); // so that registration replays nothing
      LogTestOutputOptions opts;
      opts.logFromWrite = "from the output";
      LogOutput *out = LogTestOutput_Create(&opts);
      ASSERT_TRUE(Log_AddOutput(out));
      Log_SetNoLocking(c.noLocking);
      Log("first");
      EXPECT_EQ(c.afterFirst, LogTestOutput_Texts(out)) << "no locking: " << (int)c.noLocking;
      Log("second");
      Log_SetNoLocking(FALSE);
      EXPECT_EQ(c.afterSecond, LogTestOutput_Texts(out)) << "no locking: " << (int)c.noLocking;
      Log_Exit();
   }
}

} // namespace
