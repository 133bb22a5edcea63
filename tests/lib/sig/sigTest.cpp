#include <signal.h>
#include <string.h>

#include <utility>

#include <gtest/gtest.h>

#include "lib/sig/sig.h"

namespace {

volatile sig_atomic_t lastSignal = 0;
volatile sig_atomic_t signalsSeen = 0;

void Record(int sig, siginfo_t *, void *)
{
   lastSignal = sig;
   signalsSeen = signalsSeen + 1;
}

} // namespace

// A set-up signal nobody claims, or whose callback was removed, must not be
// swallowed: it takes its default action.
TEST(SigTest, UnclaimedSignalsTakeTheirDefaultActionOrAreDropped)
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
   signalsSeen = 0;
   Sig_Callback(SIGURG, SIG_IMMEDIATELY, Record, nullptr);
   ASSERT_EQ(raise(SIGURG), 0);
   EXPECT_EQ(signalsSeen, 1);
   EXPECT_EQ(lastSignal, SIGURG);
   Sig_Exit();
}

// Init stops at a signal it cannot handle, keeping those before it; exit
// gives back what was there, here an ignored signal.
TEST(SigTest, ExitRestoresAndInitRefusesWhatCannotBeHandled)
{
   struct sigaction ign = {}, old, now;
   ign.sa_handler = SIG_IGN;
   ASSERT_EQ(sigaction(SIGHUP, &ign, &old), 0);
   const int sigs[] = {SIGHUP, SIGKILL, NSIG};
   EXPECT_FALSE(Sig_Init(sigs, 2));
   ASSERT_EQ(sigaction(SIGHUP, nullptr, &now), 0);
   EXPECT_NE(now.sa_handler, SIG_IGN) << "SIGHUP stays handled";
   EXPECT_FALSE(Sig_IsHandled(SIGKILL));
   EXPECT_FALSE(Sig_Init(sigs + 2, 1));
   Sig_Exit();
   EXPECT_FALSE(Sig_IsHandled(SIGHUP));
   ASSERT_EQ(sigaction(SIGHUP, nullptr, &now), 0);
   EXPECT_EQ(now.sa_handler, SIG_IGN);
   sigaction(SIGHUP, &old, nullptr);
}

// Registering for a signal the module does not handle, or with no callback,
// is a failed internal check: a panic naming the signal module, status 255.
TEST(SigTest, MisuseOfCallbackRegistrationPanics)
{
   const std::pair<int, SigCallbackFunc> cases[] = {{SIGTERM, Record}, {SIGUSR1, nullptr}};
   for (const auto &[sig, func] : cases) { // SIGTERM is not set up
      SCOPED_TRACE(sig);
      EXPECT_EXIT(
          {
             const int handled = SIGUSR1;
             Sig_Init(&handled, 1);
             Sig_Callback(sig, SIG_IMMEDIATELY, func, nullptr);
             _exit(0);
          },
          ::testing::ExitedWithCode(255), "VERIFY vela/lib/sig/sigPosix:[0-9]+\n");
   }
}
