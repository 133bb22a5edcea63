// Automatic answers and silenced posts, driven by real preference values.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "lib/config/preference.h"
#include "lib/user/msg.h"

namespace {

std::vector<std::string> shown;

struct MsgAnswer : public ::testing::Test
{
   void SetUp() override
   {
      Preference_InitSystemOnly();
      shown.clear();
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
   void TearDown() override { Preference_Exit(); }
   void Set(const char *text) { ASSERT_TRUE(Preference_SetFromString(text, TRUE)) << text; }
};

TEST_F(MsgAnswer, AnswerKeyPicksAChoiceWithoutAsking)
{
   const char *choices[] = {MSGID(button.yes) "_Yes", MSGID(button.no) "_No",
                            MSGID(button.later) "Ask me _later", nullptr};
   struct
   {
      const char *setting;
      uint32 expected;
   } cases[] = {
       {"answer.q.pick=No", 1},
       {"answer.q.pick=_no", 1},
       {"answer.q.pick=ASK ME LATER", 2},
       {"answer.q.pick=A_sk me later", 2},
   };
   for (const auto &c : cases) {
      Set(c.setting);
      EXPECT_EQ(c.expected, Msg_Question(choices, 0, MSGID(q.pick) "Pick one")) << c.setting;
   }
   EXPECT_TRUE(shown.empty());

   // An answer that matches no choice asks the host.
   Set("answer.q.pick=maybe");
   EXPECT_EQ(0u, Msg_Question(choices, 2, MSGID(q.pick) "Pick one"));
   EXPECT_EQ((std::vector<std::string>{"question q.pick"}), shown);
}

TEST_F(MsgAnswer, HintAnsweredCancel)
{
   Set("answer.h.risky=Cancel");
   EXPECT_EQ(HINT_CANCEL, Msg_Hint(MSG_HINT_OKCANCEL, MSGID(h.risky) "Risky"));
   EXPECT_TRUE(shown.empty());
   EXPECT_EQ(HINT_CONTINUE, Msg_Hint(MSG_HINT_OKCANCEL, MSGID(h.other) "Other"));
   EXPECT_EQ((std::vector<std::string>{"hint h.other"}), shown);
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

} // namespace
