// The message module: pending order, posting through callbacks, thread
// overrides, localisation, sizes, and the console forms over real pipes.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "lib/user/dictionaryInt.h"
#include "lib/user/msg.h"
#include "lib/user/msgInt.h"
#include "support/childProcess.h"
#include "support/textFiles.h"

namespace {

std::vector<std::string> posted; // "<type>:<id>:<text>" (MSG_INFO is 0, MSG_ERROR 3)

struct Msg : public ::testing::Test
{
   void SetUp() override
   {
      mCb.post = [](MsgType type, const char *id, const char *text) {
         posted.push_back(std::to_string(type) + ":" + id + ":" + text);
      };
      Msg_SetCallback(&mCb);
   }
   MsgCallback mCb = {};
};

TEST_F(Msg, ListNewestFirstPostedOldestFirst)
{
   MsgList *list = nullptr;
   MsgList_Append(&list, MSGID(c.one) "one");
   MsgList_Append(&list, MSGID(c.two) "two");
   MsgList_Append(&list, MSGID(c.three) "three");
   EXPECT_EQ("three\ntwo\none\n", fwdtest::MsgText(list));
   Msg_PostMsgList(MSG_ERROR, list);
   // The list stays the caller's.
   EXPECT_STREQ("c.three", list->id);
   MsgList_Free(list);

   Msg_Append(MSGID(m.first) "first %d", 1);
   Msg_Append(MSGID(m.second) "second %s\n", "two");
   Msg_Post(MSG_WARNING, MSGID(m.third) "third");
   EXPECT_EQ(nullptr, Msg_Pending());
   Msg_Append(MSGID(r.a) "dropped");
   Msg_Reset(TRUE);
   EXPECT_EQ(nullptr, Msg_Pending());
   Msg_Post(MSG_INFO, MSGID(r.c) "c");
   EXPECT_EQ((std::vector<std::string>{"3:c.three:one\ntwo\nthree\n",
                                       "2:m.third:first 1\nsecond two\nthird\n", "0:r.c:c\n"}),
             posted);

   // A host that takes lists gets the pending ones, oldest first, apart.
   mCb.postList = [](MsgType, const MsgList *messages) {
      posted.push_back(std::string(messages->id) + ":" + fwdtest::MsgText(messages));
   };
   Msg_SetCallback(&mCb);
   posted.clear();
   Msg_Append(MSGID(l.first) "first");
   Msg_Post(MSG_INFO, MSGID(l.second) "second");
   EXPECT_EQ((std::vector<std::string>{"l.first:first\nsecond\n", "0:l.second:first\nsecond\n"}),
             posted);
}

TEST_F(Msg, ThreadOverridesPerThreadListsAndQuestionReposts)
{
   static std::vector<std::string> overridden;
   MsgCallback mine = {};
   mine.post = [](MsgType, const char *, const char *text) { overridden.push_back(text); };
   Msg_Append(MSGID(main.pending) "main pending");
   std::thread worker([&mine]() {
      Msg_SetThreadCallback(&mine);
      Msg_Post(MSG_INFO, MSGID(w) "from worker");
   });
   worker.join();
   EXPECT_EQ((std::vector<std::string>{"from worker\n"}), overridden);
   EXPECT_TRUE(posted.empty());
   Msg_Post(MSG_INFO, MSGID(m) "from main");
   EXPECT_EQ((std::vector<std::string>{"0:m:main pending\nfrom main\n"}), posted);

   static std::vector<int> replies;
   static std::vector<std::string> seenChoices;
   MsgCallback cb = {};
   cb.question = [](const char *const *choices, int, const char *, const char *) {
      seenChoices.assign(choices, choices + 2);
      int r = replies.front();
      replies.erase(replies.begin());
      return r;
   };
   Msg_SetCallback(&cb);
   const char *choices[] = {MSGID(button.yes) "_Yes", MSGID(button.no) "_No", nullptr};
   replies = {7, 1};
   EXPECT_EQ(1u, Msg_Question(choices, 0, MSGID(q.one) "Continue?")); // 7 is asked again
   EXPECT_EQ((std::vector<std::string>{"_Yes", "_No"}), seenChoices);
   replies = {5, -1};
   EXPECT_EQ(1u, Msg_Question(choices, 1, MSGID(q.two) "Again?"));
   EXPECT_TRUE(replies.empty());
   // Without any question callback the default is used.
   MsgCallback none = {};
   Msg_SetCallback(&none);
   EXPECT_EQ(1u, Msg_Question(choices, 1, MSGID(q.three) "Nobody asks"));
}

TEST_F(Msg, LocalizedFromMessageDictionary)
{
   Dictionary *dict = Dictionary_Create();
   Dictionary_SetText(dict, "Bonjour %s, %d fois.", "greet.hello");
   Dictionary_SetText(dict, "_Annuler", "button.cancel");
   // A message file is data: a format that does not fit the captured
   // arguments shows its conversions instead of misreading them.
   Dictionary_SetText(dict, "Hallo %d, %n%s %s", "greet.bad");
   MsgLock();
   MsgSetDictionaryLocked(dict, "fr");
   MsgUnlock();

   Msg_Post(MSG_INFO, MSGID(greet.hello) "Hello %s, %d times.", "Ann", 3);
   Msg_Post(MSG_INFO, MSGID(greet.other) "Press %s", MSGID(button.cancel) "_Cancel");
   Msg_Post(MSG_INFO, MSGID(greet.bad) "Hello %s, %d", "Cy", 4);
   EXPECT_EQ((std::vector<std::string>{"0:greet.hello:Bonjour Ann, 3 fois.\n",
                                       "0:greet.other:Press Annuler\n",
                                       "0:greet.bad:Hallo %d, %n%s %s\n"}),
             posted);
   for (auto fn : {Msg_GetString, Msg_GetPlainButtonText}) {
      char *s = fn(MSGID(button.cancel) "_Cancel");
      EXPECT_STREQ(fn == Msg_GetString ? "_Annuler" : "Annuler", s);
      free(s);
   }
   Msg_Exit();
}

/* ---- Console forms through real pipes ---------------------------------- */

// Runs body in a child whose standard streams are pipes; feeds input. The
// child's exit status is body's result.
fwdtest::ChildResult RunWithPipes(const std::string &input, int (*body)())
{
   return fwdtest::RunInChild(
       [body] {
          int code = body();
          fflush(nullptr);
          _exit(code);
       },
       fwdtest::ChildIo{input, ""});
}

TEST(MsgConsole, QuestionPromptsUntilValidPostAndProgressToStandardError)
{
   const std::tuple<std::string, int, long> cases[] = {
       {"2\n", 2, 1},
       {"5\nabc\n1x\n 1 \t\n", 1, 4},
       {std::string(2000, '1') + "\n0\n", 0, 2}, // an overlong line is refused whole
       {"", 1, 1},                               // nobody answers: the default
   };
   for (const auto &[input, reply, prompts] : cases) {
      fwdtest::ChildResult r = RunWithPipes(input, []() {
         const char *choices[] = {MSGID(button.a) "_Alpha", MSGID(button.b) "Beta",
                                  MSGID(button.c) "Gamma", nullptr};
         return (int)Msg_Question(choices, 1, MSGID(q.console) "Pick %s", "one");
      });
      EXPECT_EQ(reply, r.status) << input;
      EXPECT_EQ(0u, r.out.find(
                        "\n\nKeltria Pellory Question:\nPick one\n\n0) Alpha\n1) Beta\n2) Gamma\n"))
          << r.out;
      const std::regex prompt("Select a number from 0-2: ");
      EXPECT_EQ(prompts, std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), prompt),
                                       std::sregex_iterator()))
          << input;
   }

   fwdtest::ChildResult r = RunWithPipes("", []() {
      Msg_Append(MSGID(e.first) "first");
      Msg_Post(MSG_ERROR, MSGID(e.second) "second %d", 2);
      Msg_Progress(-1, FALSE, MSGID(p.copy) "Copying");
      Msg_Progress(50, FALSE, MSGID(p.copy) "ignored");
      Msg_Progress(101, FALSE, MSGID(p.copy) "ignored");
      return 0;
   });
   EXPECT_EQ(0, r.status);
   EXPECT_EQ("", r.out);
   const std::string pad(65, ' '); // each progress line fills 79 columns
   EXPECT_EQ("\nKeltria Pellory Error:\nfirst\nsecond 2\n\n\rCopying (0%)  " + pad +
                 "\rCopying (50%) " + pad + "\rCopying (101%)" + pad + "\n",
             r.err);
}

} // namespace
