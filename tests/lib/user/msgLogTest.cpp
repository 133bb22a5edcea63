// What the dictionary and the message module write to the log, in order.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "lib/config/preference.h"
#include "lib/log/logTestOutput.h"
#include "lib/user/dictionary.h"
#include "lib/user/msg.h"

namespace {

struct MsgLogCapture : public ::testing::Test
{
   LogOutput *out = nullptr;
   void SetUp() override
   {
      LogTestOutputOptions opts;
      opts.wholeMessage = TRUE;
      out = LogTestOutput_Create(&opts);
      ASSERT_TRUE(Log_AddOutput(out));
      MsgCallback none = {};
      Msg_SetCallback(&none);
   }
   void TearDown() override { Log_Exit(); }
   // The captured messages that start with one of the given prefixes.
   std::vector<std::string> Texts(std::vector<std::string> prefixes)
   {
      std::vector<std::string> kept;
      for (const std::string &t : LogTestOutput_Texts(out)) {
         for (const std::string &p : prefixes) {
            if (t.compare(0, p.size(), p) == 0) {
               kept.push_back(t);
               break;
            }
         }
      }
      return kept;
   }
};

TEST_F(MsgLogCapture, DictionaryLog)
{
   Dictionary *dict = Dictionary_Create();
   Dictionary_SetText(dict, "raw", "a.text");
   Dictionary_SetBool(dict, TRUE, "a.bool");
   Dictionary_SetLong(dict, -3, "a.long");
   Dictionary_SetDouble(dict, 0.5, "a.double");
   Dictionary_SetInt64(dict, INT64_C(1) << 40, "a.int64");
   const char *none = nullptr;
   Dictionary_Set(dict, &none, DICT_STRING, "a.none", nullptr);
   free(Dictionary_GetString(dict, "remembered", "a.default")); // not logged
   Dictionary_Log(dict);
   Dictionary_Free(dict);
   EXPECT_EQ((std::vector<std::string>{
                 "DICT                    a.text = \"raw\"\n",
                 "DICT                    a.bool = \"TRUE\"\n",
                 "DICT                    a.long = \"-3\"\n",
                 "DICT                  a.double = \"0.5\"\n",
                 "DICT                   a.int64 = \"1099511627776\"\n",
                 "DICT                    a.none = \"\"\n",
             }),
             Texts({"DICT"}));
}

TEST_F(MsgLogCapture, ListLoggedNewestFirst)
{
   MsgList *list = nullptr;
   MsgList_Append(&list, MSGID(l.one) "one %d", 1);
   MsgList_Append(&list, MSGID(l.two) "two\n");
   MsgList_Append(&list, MSGID(l.three) "three");
   MsgList_Log(list);
   MsgList_Free(list);
   EXPECT_EQ((std::vector<std::string>{"[l.three] three\n", "[l.two] two\n", "[l.one] one 1\n"}),
             Texts({"["}));
}

TEST_F(MsgLogCapture, PostAndResetLogOldestFirst)
{
   Msg_Append(MSGID(p.one) "one");
   Msg_Post(MSG_WARNING, MSGID(p.two) "two");
   Msg_Append(MSGID(r.one) "dropped");
   Msg_Reset(TRUE);
   Msg_Append(MSGID(r.two) "silently dropped");
   Msg_Reset(FALSE);
   const std::string dashes(40, '-');
   EXPECT_EQ((std::vector<std::string>{"Msg_Post: Warning\n", "[p.one] one\n", "[p.two] two\n",
                                       dashes + "\n", "Msg_Reset:\n", "[r.one] dropped\n",
                                       dashes + "\n"}),
             Texts({"Msg_", "[", "---"}));
}

TEST_F(MsgLogCapture, AnswersAndRepliesAreLogged)
{
   Preference_InitSystemOnly();
   ASSERT_TRUE(Preference_SetFromString("answer.q.log=_No", TRUE));
   const char *choices[] = {MSGID(button.yes) "_Yes", MSGID(button.no) "_No", nullptr};
   EXPECT_EQ(1u, Msg_Question(choices, 0, MSGID(q.log) "Log me"));
   ASSERT_TRUE(Preference_SetFromString("msg.autoAnswer=yes", TRUE));
   EXPECT_EQ(0u, Msg_Question(choices, 0, MSGID(q.auto) "Auto"));
   EXPECT_EQ((std::vector<std::string>{
                 "MsgIsAnswered: Using config default '_No' as the answer for 'q.log'\n",
                 "MsgQuestion: q.log reply=1\n",
                 "MsgIsAnswered: Using builtin default 'Yes' as the answer for 'q.auto'\n",
                 "MsgQuestion: q.auto reply=0\n",
             }),
             Texts({"MsgIsAnswered", "MsgQuestion"}));
   Preference_Exit();
}

// Many threads append, post and localise at once; each sees only its own
// pending messages. Run under ThreadSanitizer too.
TEST(MsgConcurrency, ThreadsPostTheirOwnMessages)
{
   static std::atomic<int> posts{0};
   static std::atomic<int> wrong{0};
   MsgCallback cb = {};
   cb.post = [](MsgType, const char *id, const char *text) {
      posts++;
      // Every post holds exactly the poster's two messages.
      std::string expected = std::string("mine ") + (id + 2) + "\nthen " + (id + 2) + "\n";
      if (expected != text) {
         wrong++;
      }
   };
   Msg_SetCallback(&cb);
   std::vector<std::thread> threads;
   for (int t = 0; t < 4; t++) {
      threads.emplace_back([t]() {
         for (int i = 0; i < 200; i++) {
            std::string tag = std::to_string(t) + "." + std::to_string(i);
            Msg_Append(MSGID(c.first) "mine %s", tag.c_str());
            char id[32];
            snprintf(id, sizeof id, "@&!*@*@(t.%s)then %%s", tag.c_str());
            Msg_Post(MSG_INFO, id, tag.c_str());
            free(Msg_FormatSizeInBytes((uint64)i << 20));
         }
      });
   }
   for (auto &th : threads) {
      th.join();
   }
   EXPECT_EQ(800, posts.load());
   EXPECT_EQ(0, wrong.load());
}

} // namespace
