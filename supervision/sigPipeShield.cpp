#include "supervision/sigPipeShield.h"

#include <errno.h>
#include <signal.h>
#include <string.h>

#include <mutex>

namespace {

void IgnoreSigPipe(int) {}

} // namespace

void SigPipeShield::Arm()
{
   static std::once_flag armed;
   std::call_once(armed, [] {
      int savedErrno = errno;
      struct sigaction current;
      if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
          (current.sa_flags & SA_SIGINFO) == 0) {
         struct sigaction quiet;
         memset(&quiet, 0, sizeof quiet);
         quiet.sa_handler = IgnoreSigPipe;
         quiet.sa_flags = SA_RESTART;
         sigemptyset(&quiet.sa_mask);
         sigaction(SIGPIPE, &quiet, nullptr);
      }
      errno = savedErrno;
   });
}
