#include "supervision/sigPipeGuard.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

SigPipeGuard::SigPipeGuard()
{
   sigset_t pipeSet;
   sigemptyset(&pipeSet);
   sigaddset(&pipeSet, SIGPIPE);
   sigset_t pending;
   sigpending(&pending);
   mWasPending = sigismember(&pending, SIGPIPE) == 1;
   pthread_sigmask(SIG_BLOCK, &pipeSet, &mOldMask);
}

SigPipeGuard::~SigPipeGuard()
{
   int savedErrno = errno;
   if (!mWasPending) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
         sigset_t pipeSet;
         sigemptyset(&pipeSet);
         sigaddset(&pipeSet, SIGPIPE);
         const struct timespec zero = {0, 0};
         sigtimedwait(&pipeSet, nullptr, &zero);
      }
   }
   pthread_sigmask(SIG_SETMASK, &mOldMask, nullptr);
   errno = savedErrno;
}
