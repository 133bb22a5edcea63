/// SigPipeGuard: while it lives, a write to a pipe whose reader has gone
/// fails with EPIPE instead of killing the process with SIGPIPE. Children
/// of a supervisor end whenever they like, so every write towards one is
/// made under a guard.
///
/// Not thread safe, and it need not be: it changes only the calling
/// thread's signal mask and must be destroyed on the thread that made it.
#ifndef SUPERVISION_SIGPIPEGUARD_H
#define SUPERVISION_SIGPIPEGUARD_H

#include <signal.h>

class SigPipeGuard
{
 public:
   /// Blocks SIGPIPE for the calling thread.
   SigPipeGuard();
   /// Discards a SIGPIPE raised while the guard lived (one that was already
   /// pending stays) and restores the thread's signal mask.
   ~SigPipeGuard();
   SigPipeGuard(const SigPipeGuard &) = delete;
   SigPipeGuard &operator=(const SigPipeGuard &) = delete;

 private:
   sigset_t mOldMask;
   bool mWasPending = false;
};

#endif
