#include <signal.h>
#include <string.h>

#include <gtest/gtest.h>

#include "lib/sig/sig.h"

namespace {

struct Seen
{
   int sig = 0;
   void *clientData = nullptr;
   int count = 0;
};
Seen gSeen;

void Record(int sig, siginfo_t *, void *clientData)
{
   gSeen.sig = sig;
   gSeen.clientData = clientData;
   gSeen.count++;
}

class SigTest : public ::testing::Test
{
 protected:
   void TearDown() override { Sig_Exit(); }
};

} // namespace

// A set-up signal nobody claims, or whose callback was removed, must not be
// swallowed: it takes its default action.
TEST_F(SigTest, UnclaimedSignalsTakeTheirDefaultActionOrAreDropped)
{
   EXPECT_EXIT(
       {
          const int sig = SIGUSR1;
          Sig_Init(&sig, 1);
          Sig_Callback(SIGUSR1, SIG_IMMEDIATELY, Record, nullptr);
          Sig_Callback(SIGUSR1, SIG_NOHANDLER, nullptr, nullptr);
          raise(SIGUSR1);
          _exit(0);
       },
       ::testing::KilledBySignal(SIGUSR1), "");

   // An unclaimed signal whose default is to be ignored is dropped, and the
   // module keeps handling it.
   const int sig = SIGURG;
   ASSERT_TRUE(Sig_Init(&sig, 1));
   ASSERT_EQ(raise(SIGURG), 0);
   gSeen = Seen();
   Sig_Callback(SIGURG, SIG_IMMEDIATELY, Record, nullptr);
   ASSERT_EQ(raise(SIGURG), 0);
   EXPECT_EQ(gSeen.count, 1);
   EXPECT_EQ(gSeen.sig, SIGURG);
}

TEST_F(SigTest, ExitRestoresAndInitRefusesWhatCannotBeHandled)
{
   struct sigaction ign = {}, old, now;
   ign.sa_handler = SIG_IGN;
   ASSERT_EQ(sigaction(SIGHUP, &ign, &old), 0);
   const int sig = SIGHUP;
   ASSERT_TRUE(Sig_Init(&sig, 1));
   ASSERT_EQ(sigaction(SIGHUP, nullptr, &now), 0);
   EXPECT_NE(now.sa_handler, SIG_IGN);
   Sig_Exit();
   EXPECT_FALSE(Sig_IsHandled(SIGHUP));
   ASSERT_EQ(sigaction(SIGHUP, nullptr, &now), 0);
   EXPECT_EQ(now.sa_handler, SIG_IGN);
   sigaction(SIGHUP, &old, nullptr);

   const int cases[][2] = {{SIGUSR1, SIGKILL}, {SIGUSR1, NSIG}};
   for (const auto &c : cases) {
      SCOPED_TRACE(c[1]);
      EXPECT_FALSE(Sig_Init(c, 2));
      EXPECT_TRUE(Sig_IsHandled(SIGUSR1));
      EXPECT_FALSE(Sig_IsHandled(c[1]));
      Sig_Exit();
   }
}

// Registering for a signal the module does not handle is a failed internal
// check: a panic naming the signal module, status 255.
TEST_F(SigTest, MisuseOfCallbackRegistrationPanics)
{
   const char *verify = "VERIFY vela/lib/sig/sigPosix:[0-9]+\n";
   struct Case
   {
      int sig;
      int kind;
      SigCallbackFunc func;
   } cases[] = {
       {SIGTERM, SIG_IMMEDIATELY, Record}, // not set up
       {SIGUSR1, SIG_IMMEDIATELY, nullptr},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.sig);
      EXPECT_EXIT(
          {
             const int sig = SIGUSR1;
             Sig_Init(&sig, 1);
             Sig_Callback(c.sig, static_cast<SigCallbackKind>(c.kind), c.func, nullptr);
             _exit(0);
          },
          ::testing::ExitedWithCode(255), verify);
   }
}
