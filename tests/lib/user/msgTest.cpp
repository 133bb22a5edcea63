// The message module: message lists and argument capture, pending order,
// posting through callbacks and the log,
// automatic answers and silenced posts driven by real preference values,
// localisation through message files, thread overrides and the console
// forms over real pipes.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "lib/config/preference.h"
#include "lib/misc/msgList.h"
#include "lib/user/msg.h"
#include "support/childProcess.h"
#include "support/logTestOutput.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

namespace {

// "post <type>:<id>:<text>" (MSG_INFO is 0, MSG_ERROR 3), "question <id>", "hint <id>".
std::vector<std::string> shown;

struct Msg : public ::testing::Test
{
   void SetUp() override
   {
      Preference_InitSystemOnly();
      mCb.post = [](MsgType type, const char *id, const char *text) {
         shown.push_back("post " + std::to_string(type) + ":" + id + ":" + text);
      };
      mCb.question = [](const char *const *, int, const char *id, const char *) {
         shown.push_back(std::string("question ") + id);
         return 0;
      };
      mCb.hint = [](HintType, const char *id, const char *) {
         shown.push_back(std::string("hint ") + id);
         return HINT_CONTINUE;
      };
      Msg_SetCallback(&mCb);
   }
   void TearDown() override { Preference_Exit(); }
   void Set(const char *text) { ASSERT_TRUE(Preference_SetFromString(text, TRUE)) << text; }
   // The logged messages that start with one of the prefixes.
   std::vector<std::string> Logged(std::vector<std::string> prefixes)
   {
      std::vector<std::string> kept;
      for (const std::string &t : mLog.Texts()) {
         if (std::any_of(prefixes.begin(), prefixes.end(),
                         [&t](const std::string &p) { return t.rfind(p, 0) == 0; })) {
            kept.push_back(t);
         }
      }
      return kept;
   }
   MsgCallback mCb = {};
   fwdtest::LogCapture mLog;
};

TEST_F(Msg, ListNewestFirstPostedAndLoggedOldestFirst)
{
   mLog.Clear(); // the start-up's complaints about missing files
   MsgList *list = nullptr, *more = nullptr;
   MsgList_Append(&list, MSGID(c.one) "one %d", 1);
   MsgList_Append(&more, MSGID(c.two) "two\n");
   MsgList_AppendStr(&more, MSGID(c.three) "three");
   MsgList_AppendMsgList(&list, MsgList_Copy(more));
   MsgList_Free(more);
   EXPECT_EQ("three\ntwo\none 1\n", fwdtest::MsgText(list));
   EXPECT_STREQ("c.one", MsgList_GetMsgID(list));
   // Without a list, appending records nothing and a handed-over list is freed.
   MsgList_Append(nullptr, MSGID(x) "dropped %d", 1);
   MsgList_AppendStr(nullptr, "dropped");
   MsgList_AppendMsgList(nullptr, MsgList_Copy(list));
   EXPECT_FALSE(MsgList_Present(nullptr));
   MsgList_Log(list);
   Msg_PostMsgList(MSG_ERROR, list);
   // The list stays the caller's.
   EXPECT_STREQ("c.three", list->id);
   MsgList_Free(list);

   Msg_Append(MSGID(m.first) "first %d", 1);
   Msg_Append(MSGID(m.second) "second %s\n", "two");
   Msg_Post(MSG_WARNING, MSGID(m.third) "third");
   Msg_Append(MSGID(r.one) "dropped");
   Msg_Reset(TRUE);
   Msg_Append(MSGID(r.two) "silently dropped");
   Msg_Reset(FALSE);
   EXPECT_EQ(nullptr, Msg_Pending());
   Msg_Post(MSG_INFO, MSGID(r.c) "c");
   EXPECT_EQ(
       (std::vector<std::string>{"post 3:c.three:one 1\ntwo\nthree\n",
                                 "post 2:m.third:first 1\nsecond two\nthird\n", "post 0:r.c:c\n"}),
       shown);
   // The log gets a list newest first; posts and resets oldest first.
   const std::string dashes(40, '-');
   EXPECT_EQ((std::vector<std::string>{
                 "[c.three] three\n", "[c.two] two\n", "[c.one] one 1\n", "Msg_Post: Error\n",
                 "[c.one] one 1\n", "[c.two] two\n", "[c.three] three\n", dashes + "\n",
                 "Msg_Post: Warning\n", "[m.first] first 1\n", "[m.second] second two\n",
                 "[m.third] third\n", dashes + "\n", "Msg_Reset:\n", "[r.one] dropped\n",
                 dashes + "\n", "Msg_Post: Information\n", "[r.c] c\n", dashes + "\n"}),
             Logged({"Msg_", "[", "---"}));

   // A host that takes lists gets the pending ones, oldest first, apart.
   mCb.postList = [](MsgType, const MsgList *messages) {
      shown.push_back(std::string(messages->id) + ":" + fwdtest::MsgText(messages));
   };
   Msg_SetCallback(&mCb);
   shown.clear();
   Msg_Append(MSGID(l.first) "first");
   Msg_Post(MSG_INFO, MSGID(l.second) "second");
   EXPECT_EQ(
       (std::vector<std::string>{"l.first:first\nsecond\n", "post 0:l.second:first\nsecond\n"}),
       shown);
}

TEST_F(Msg, ThreadOverridesPerThreadListsAndQuestionReposts)
{
   static std::vector<std::string> overridden;
   MsgCallback mine = {};
   mine.post = [](MsgType, const char *, const char *text) { overridden.push_back(text); };
   Msg_Append(MSGID(main.pending) "main pending");
   fwdtest::RunThreads(1, [&mine](int) {
      Msg_SetThreadCallback(&mine);
      Msg_Post(MSG_INFO, MSGID(w) "from worker");
   });
   EXPECT_EQ((std::vector<std::string>{"from worker\n"}), overridden);
   EXPECT_TRUE(shown.empty());
   Msg_Post(MSG_INFO, MSGID(m) "from main");
   EXPECT_EQ((std::vector<std::string>{"post 0:m:main pending\nfrom main\n"}), shown);

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
   replies = {5, -1}; // twice out of range: the default
   EXPECT_EQ(0u, Msg_Question(choices, 0, MSGID(q.two) "Again?"));
   EXPECT_TRUE(replies.empty());
   // Without any question callback the default is used.
   MsgCallback none = {};
   Msg_SetCallback(&none);
   EXPECT_EQ(1u, Msg_Question(choices, 1, MSGID(q.three) "Nobody asks"));
}

TEST_F(Msg, AnswerKeyPicksAChoice)
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
}

TEST_F(Msg, AutoAnswerTakesTheDefault)
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

TEST_F(Msg, NoOkSilencesAllButErrors)
{
   Set("msg.noOK=TRUE");
   Msg_Post(MSG_WARNING, MSGID(p.warn) "warning");
   Msg_Post(MSG_INFO, MSGID(p.info) "info");
   Msg_Post(MSG_ERROR, MSGID(p.err) "error");
   EXPECT_EQ(HINT_NOT_SHOWN, Msg_Hint(MSG_HINT_OK, MSGID(h.quiet) "quiet"));
   Set("msg.noOKnoWarning=TRUE");
   Msg_Post(MSG_WARNING, MSGID(p.warn2) "warning");
   EXPECT_EQ((std::vector<std::string>{"post 3:p.err:error\n"}), shown);
}

// The hello text and the locale now in use.
std::string Now()
{
   char *s = Msg_GetString("@&!*@*@(msg.test.hello)Hello");
   char *locale = Msg_GetLocale();
   std::string out = std::string(s) + "/" + (locale != nullptr ? locale : "<none>");
   free(s);
   free(locale);
   return out;
}

// A locale's message file from the library directory, and the messages it
// localises.
TEST_F(Msg, LocaleLoadsKeepsOnFailureDropsAndReadsUTF8)
{
   fwdtest::TempDir lib;
   Set(("libdir=" + lib.path()).c_str());
   auto messages = [&lib](const std::string &locale, const std::string &content) {
      fwdtest::WriteFile(lib.path() + "/messages/" + locale + "/fwdmaps.lmsg", content);
   };
   messages("fr", "msg.test.hello = \"Bonjour \xC3\xA0 vous\"\n");
   messages("de", "msg.test.hello = \"Hallo\"\nbroken line\n");
   const std::string english = Now();
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   EXPECT_EQ(Now(), "Bonjour \xC3\xA0 vous/fr");
   // A broken or missing file keeps the current dictionary.
   EXPECT_FALSE(Msg_SetLocaleEx("de", "fwdmaps"));
   EXPECT_FALSE(Msg_SetLocaleEx("en_US", "fwdmaps"));
   EXPECT_FALSE(Msg_SetLocaleEx("fr", "otherprogram"));
   EXPECT_EQ(Now(), "Bonjour \xC3\xA0 vous/fr");
   ASSERT_TRUE(Msg_SetLocaleEx(nullptr, nullptr));
   EXPECT_EQ(Now(), english);
   EXPECT_EQ(Now().substr(0, 6), "Hello/");

   // Arguments fill the localised format, a button's text included; a
   // message file is data: a format that does not fit the captured
   // arguments shows its conversions instead of misreading them.
   messages("fr", "greet.hello = \"Bonjour %s, %d fois.\"\nbutton.cancel = \"_Annuler\"\n"
                  "greet.bad = \"Hallo %d, %n%s %s\"\n");
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   const std::pair<char *, const char *> localised[] = {
       {Msg_Format(MSGID(greet.hello) "Hello %s, %d times.", "Ann", 3), "Bonjour Ann, 3 fois."},
       {Msg_Format(MSGID(greet.other) "Press %s", MSGID(button.cancel) "_Cancel"), "Press Annuler"},
       {Msg_Format(MSGID(greet.bad) "Hello %s, %d", "Cy", 4), "Hallo %d, %n%s %s"},
       {Msg_Format("no id: %s", "unused"), "no id: %s"}, // taken as written
       {Msg_GetString(MSGID(button.cancel) "_Cancel"), "_Annuler"},
       {Msg_GetPlainButtonText(MSGID(button.cancel) "_Cancel"), "Annuler"},
   };
   for (const auto &[text, want] : localised) {
      EXPECT_STREQ(text, want);
      free(text);
   }

   // Message files are UTF-8 unless they say otherwise.
   messages("fr", "msg.test.hello = \"\xE0\"\n");
   EXPECT_FALSE(Msg_SetLocaleEx("fr", "fwdmaps"));
   messages("fr", ".encoding = \"ISO-8859-1\"\nmsg.test.hello = \"\xE0\"\n");
   ASSERT_TRUE(Msg_SetLocaleEx("fr", "fwdmaps"));
   EXPECT_EQ(Now(), "\xC3\xA0/fr");

   // After shutdown, messages are dropped, not kept or crashed on.
   Msg_Exit();
   Msg_Append(MSGID(late) "after the end");
   EXPECT_EQ(Msg_Pending(), nullptr);
}

// Message lists and argument capture: ids and formatting.

TEST(MsgList, IdParsing)
{
   struct
   {
      const char *text;
      const char *id;
      const char *formatted;
   } cases[] = {
       {"plain %d text", "msg.literal", "plain %d text\n"},
       {"@&!*@*@()empty id", "", "empty id\n"},
       {MSGID(p) "100%% (ok)", "p", "100% (ok)\n"},
   };
   for (const auto &c : cases) {
      MsgList *list = MsgList_CreateStr(c.text);
      ASSERT_NE(nullptr, list);
      EXPECT_STREQ(c.id, list->id) << c.text;
      EXPECT_EQ(c.formatted, fwdtest::MsgText(list)) << c.text;
      MsgList_Free(list);
   }
}

// Hidden from the compiler's format checks, which reject a literal null.
const char *volatile nullText = nullptr;

TEST(MsgList, CapturesEveryWidth)
{
   char buf[16];
   strcpy(buf, "mutable");
   MsgList *list = MsgList_Create(
       MSGID(t) "%s|%d|%u|%ld|%lld|%llu|%zu|%hhd|%x|%#o|%5.2f|%Lg|%c|%-4s|%*d|%.*s|%%|%e|%s", buf,
       -7, 4000000000u, -9000000000L, (long long)INT64_MIN, (unsigned long long)UINT64_MAX,
       (size_t)12, 65, 255u, 8u, 3.14159, (long double)2.5, 'z', "ab", 4, 9, 2, "xyz", 1e10,
       nullText);
   // The copy is taken at append time.
   strcpy(buf, "changed");
   EXPECT_EQ("mutable|-7|4000000000|-9000000000|-9223372036854775808|18446744073709551615|12|65|"
             "ff|010| 3.14|2.5|z|ab  |   9|xy|%|1.000000e+10|(null)\n",
             fwdtest::MsgText(list));
   EXPECT_EQ(20, list->numArgs); // two of them are * fields
   MsgList_Free(list);
   std::string big(5000, 'q');
   list = MsgList_Create(MSGID(big) "<%s>", big.c_str());
   EXPECT_EQ("<" + big + ">\n", fwdtest::MsgText(list));
   MsgList_Free(list);
}

TEST(MsgList, MismatchedFormatShowsConversions)
{
   MsgList *list = MsgList_Create(MSGID(m) "%s and %d", "a", 5);
   const std::pair<const char *, const char *> cases[] = {
       {"%d then %s", "%d then %s"}, // kinds differ: shown as written
       {"%s %d %s", "a 5 %s"},       // one too many
       {"%99999s %d", "%99999s 5"},  // absurd width
       {"%n%s", "%na"},              // never writes through %n
   };
   for (const auto &c : cases) {
      char *text = MsgList_FormatOne(list, c.first, nullptr);
      EXPECT_STREQ(c.second, text) << c.first;
      free(text);
   }
   MsgList_Free(list);
}

TEST(MsgListDeathTest, UncapturableFormatPanics)
{
   EXPECT_EXIT(MsgList_Create(MSGID(bad) "%1$s", "x"), ::testing::ExitedWithCode(255),
               "MsgList_VAppend error: positional arguments are not supported\nformat <");
   int written = 0;
   EXPECT_EXIT(MsgList_Create(MSGID(bad) "%n", &written), ::testing::ExitedWithCode(255),
               "MsgList_VAppend error");
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
   fwdtest::RunThreads(4, [](int t) {
      for (int i = 0; i < 200; i++) {
         std::string tag = std::to_string(t) + "." + std::to_string(i);
         Msg_Append(MSGID(c.first) "mine %s", tag.c_str());
         char id[32];
         snprintf(id, sizeof id, "@&!*@*@(t.%s)then %%s", tag.c_str());
         Msg_Post(MSG_INFO, id, tag.c_str());
         free(Msg_FormatSizeInBytes((uint64)i << 20));
      }
   });
   EXPECT_EQ(800, posts.load());
   EXPECT_EQ(0, wrong.load());
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

   // Posts go to standard error too: see the panic tests.
   fwdtest::ChildResult r = RunWithPipes("", []() {
      Msg_Progress(-1, FALSE, MSGID(p.copy) "Copying");
      Msg_Progress(50, FALSE, MSGID(p.copy) "ignored");
      Msg_Progress(101, FALSE, MSGID(p.copy) "ignored");
      return 0;
   });
   EXPECT_EQ(0, r.status);
   EXPECT_EQ("", r.out);
   const std::string pad(65, ' '); // each progress line fills 79 columns
   EXPECT_EQ("\rCopying (0%)  " + pad + "\rCopying (50%) " + pad + "\rCopying (101%)" + pad + "\n",
             r.err);
}

} // namespace
