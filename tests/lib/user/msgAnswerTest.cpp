// Automatic answers and silenced posts driven by real preference values, and
// what the dictionary and the message module write to the log.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "lib/config/preference.h"
#include "lib/user/dictionary.h"
#include "lib/user/msg.h"
#include "support/logTestOutput.h"

namespace {

std::vector<std::string> shown;

struct MsgAnswer : public ::testing::Test
{
   LogOutput *out = nullptr;
   void SetUp() override
   {
      LogTestOutputOptions opts;
      opts.wholeMessage = TRUE;
      out = LogTestOutput_Create(&opts);
      ASSERT_TRUE(Log_AddOutput(out));
      Preference_InitSystemOnly();
      MsgCallback cb = {};
      cb.post = [](MsgType, const char *id, const char *) {
         shown.push_back(std::string("post ") + id);
      };
      cb.question = [](const char *const *, int, const char *id, const char *) {
         shown.push_back(std::string("question ") + id);
         return 0;
      };
      cb.hint = [](HintType, const char *id, const char *) {
         shown.push_back(std::string("hint ") + id);
         return HINT_CONTINUE;
      };
      Msg_SetCallback(&cb);
   }
   void TearDown() override
   {
      Preference_Exit();
      Log_Exit();
   }
   void Set(const char *text) { ASSERT_TRUE(Preference_SetFromString(text, TRUE)) << text; }
   // The logged messages that start with one of the prefixes.
   std::vector<std::string> Logged(std::vector<std::string> prefixes)
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

TEST_F(MsgAnswer, AnswerKeyPicksAChoiceAndListsAreLogged)
{
   const char *choices[] = {MSGID(button.yes) "_Yes", MSGID(button.no) "_No",
                            MSGID(button.later) "Ask me _later", nullptr};
   // Case and the choice's "_" ignored on both sides.
   const std::pair<const char *, uint32> cases[] = {{"answer.q.pick=No", 1},
                                                    {"answer.q.pick=A_SK ME later", 2}};

   for (const auto &c : cases) {
      Set(c.first);
      EXPECT_EQ(c.second, Msg_Question(choices, 0, MSGID(q.pick) "Pick one")) << c.first;
   }
   Set("answer.h.risky=Cancel");
   EXPECT_EQ(HINT_CANCEL, Msg_Hint(MSG_HINT_OKCANCEL, MSGID(h.risky) "Risky"));
   EXPECT_TRUE(shown.empty());

   // An answer that matches no choice asks the host, as does an unanswered hint.
   Set("answer.q.pick=maybe");
   EXPECT_EQ(0u, Msg_Question(choices, 2, MSGID(q.pick) "Pick one"));
   EXPECT_EQ(HINT_CONTINUE, Msg_Hint(MSG_HINT_OKCANCEL, MSGID(h.other) "Other"));
   EXPECT_EQ((std::vector<std::string>{"question q.pick", "hint h.other"}), shown);

   // A list is logged newest first; posts and resets log oldest first.
   LogTestOutput_Clear(out);
   MsgList *list = nullptr;
   MsgList_Append(&list, MSGID(l.one) "one %d", 1);
   MsgList_Append(&list, MSGID(l.two) "two\n");
   MsgList_Log(list);
   MsgList_Free(list);
   Msg_Append(MSGID(p.one) "one");
   Msg_Post(MSG_WARNING, MSGID(p.two) "two");
   Msg_Append(MSGID(r.one) "dropped");
   Msg_Reset(TRUE);
   Msg_Append(MSGID(r.two) "silently dropped");
   Msg_Reset(FALSE);
   const std::string dashes(40, '-');
   EXPECT_EQ((std::vector<std::string>{"[l.two] two\n", "[l.one] one 1\n", "Msg_Post: Warning\n",
                                       "[p.one] one\n", "[p.two] two\n", dashes + "\n",
                                       "Msg_Reset:\n", "[r.one] dropped\n", dashes + "\n"}),
             Logged({"Msg_", "[", "---"}));
}

TEST_F(MsgAnswer, AutoAnswerTakesTheDefault)
{
   Set("msg.autoAnswer=TRUE");
   const char *choices[] = {MSGID(button.yes) "Yes", MSGID(button.no) "No", nullptr};
   EXPECT_EQ(1u, Msg_Question(choices, 1, MSGID(q.auto) "Auto"));
   Msg_Post(MSG_ERROR, MSGID(p.auto) "answered, so not shown");
   EXPECT_EQ(HINT_CONTINUE, Msg_Hint(MSG_HINT_OKCANCEL, MSGID(h.auto) "Auto"));
   EXPECT_TRUE(shown.empty());
   // Posting consumed the pending list all the same.
   EXPECT_EQ(nullptr, Msg_Pending());
   EXPECT_EQ((std::vector<std::string>{
                 "MsgIsAnswered: Using builtin default 'No' as the answer for 'q.auto'\n",
                 "MsgQuestion: q.auto reply=1\n",
                 "MsgIsAnswered: Using builtin default 'OK' as the answer for 'p.auto'\n",
                 "MsgIsAnswered: Using builtin default 'OK' as the answer for 'h.auto'\n"}),
             Logged({"MsgIsAnswered", "MsgQuestion"}));
}

TEST_F(MsgAnswer, NoOkSilencesAllButErrors)
{
   Set("msg.noOK=TRUE");
   Msg_Post(MSG_WARNING, MSGID(p.warn) "warning");
   Msg_Post(MSG_INFO, MSGID(p.info) "info");
   Msg_Post(MSG_ERROR, MSGID(p.err) "error");
   EXPECT_EQ(HINT_NOT_SHOWN, Msg_Hint(MSG_HINT_OK, MSGID(h.quiet) "quiet"));
   Set("msg.noOKnoWarning=TRUE");
   Msg_Post(MSG_WARNING, MSGID(p.warn2) "warning");
   EXPECT_EQ((std::vector<std::string>{"post p.err"}), shown);
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
      wrong += expected != text;
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
