// Signal set-up and callback dispatch.
#include "lib/sig/sig.h"

#include <errno.h>
#include <pthread.h>
#include <string.h>

#include <atomic>

#include "lib/log/log.h"
#include "lib/misc/threadState.h"
#include "lib/panic/panic.h"

#define PANIC_SOURCE "vela/lib/sig/sigPosix"

namespace {

struct SigSlot
{
   std::atomic<bool> handled{false};
   struct sigaction previous;
   // The handler reads function and data; both are published before and
   // cleared after `func` so it never pairs one callback with another's data.
   std::atomic<SigCallbackFunc> func{nullptr};
   std::atomic<void *> clientData{nullptr};
};

SigSlot gSlots[NSIG];

// Lets `sig` take its default action now, from inside its handler: a
// terminating signal ends the process, an ignored one is dropped, and the
// module's handler is back in place for the next one.
void SigTakeDefaultAction(int sig)
{
   struct sigaction dfl, ours;
   memset(&dfl, 0, sizeof dfl);
   dfl.sa_handler = SIG_DFL;
   sigemptyset(&dfl.sa_mask);
   sigaction(sig, &dfl, &ours);
   sigset_t only, old;
   sigemptyset(&only);
   sigaddset(&only, sig);
   raise(sig); // pending: the handler runs with the signal blocked
   pthread_sigmask(SIG_UNBLOCK, &only, &old);
   pthread_sigmask(SIG_SETMASK, &old, nullptr);
   sigaction(sig, &ours, nullptr);
}

void SigHandler(int sig, siginfo_t *info, void *)
{
   int savedErrno = errno;
   // Log calls made from here on take the handler-safe time stamp.
   ThreadState_EnterSignalHandler();
   SigCallbackFunc func = gSlots[sig].func.load();
   if (func == nullptr) {
      // Nobody claimed the signal: behave as if it had never been set up.
      SigTakeDefaultAction(sig);
   } else {
      // A callback that jumps out of the handler leaves it first itself.
      func(sig, info, gSlots[sig].clientData.load());
   }
   ThreadState_LeaveSignalHandler();
   errno = savedErrno;
}

bool SigInRange(int sig)
{
   return sig > 0 && sig < NSIG;
}

} // namespace

Bool Sig_Init(const int *signals, int count)
{
   Panic_PrepareBacktrace();
   for (int i = 0; i < count; i++) {
      int sig = signals[i];
      if (!SigInRange(sig)) {
         Log_Level(2, "SIG cannot handle signal %d\n", sig);
         return FALSE;
      }
      if (gSlots[sig].handled.load()) {
         continue;
      }
      struct sigaction sa;
      memset(&sa, 0, sizeof sa);
      sa.sa_sigaction = SigHandler;
      sa.sa_flags = SA_SIGINFO | SA_RESTART;
      sigemptyset(&sa.sa_mask);
      if (sigaction(sig, &sa, &gSlots[sig].previous) != 0) {
         Log_Level(2, "SIG sigaction failed on signal %d: %s\n", sig, strerror(errno));
         return FALSE;
      }
      gSlots[sig].handled.store(true);
   }
   return TRUE;
}

void Sig_Exit(void)
{
   for (int sig = 1; sig < NSIG; sig++) {
      if (!gSlots[sig].handled.load()) {
         continue;
      }
      sigaction(sig, &gSlots[sig].previous, nullptr);
      gSlots[sig].handled.store(false);
      gSlots[sig].func.store(nullptr);
      gSlots[sig].clientData.store(nullptr);
   }
}

Bool Sig_IsHandled(int sig)
{
   return SigInRange(sig) && gSlots[sig].handled.load() ? TRUE : FALSE;
}

void Sig_Callback(int sig, SigCallbackKind kind, SigCallbackFunc func, void *clientData)
{
   VERIFY(SigInRange(sig));
   VERIFY(gSlots[sig].handled.load());
   VERIFY(kind == SIG_NOHANDLER || kind == SIG_IMMEDIATELY);
   if (kind == SIG_NOHANDLER) {
      gSlots[sig].func.store(nullptr);
      gSlots[sig].clientData.store(nullptr);
      return;
   }
   VERIFY(func != nullptr);
   gSlots[sig].func.store(nullptr);
   gSlots[sig].clientData.store(clientData);
   gSlots[sig].func.store(func);
}
