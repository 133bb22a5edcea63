// Host facts, cached: the log header asks for them at every rotation.
#include <limits.h>
#include <unistd.h>

#include "lib/misc/hostinfo.h"

const char *Hostinfo_HostName(void)
{
   static char name[HOST_NAME_MAX + 1];
   // A function-local static is initialised once even when threads race.
   static const Bool found = [] {
      if (gethostname(name, sizeof name) != 0) {
         return FALSE;
      }
      name[sizeof name - 1] = '\0';
      return name[0] != '\0' ? TRUE : FALSE;
   }();
   return found ? name : NULL;
}
