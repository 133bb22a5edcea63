// Plain thread-local storage: no constructors, so a signal handler can read
// it at any time.
#include <pthread.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "lib/misc/threadState.h"
#include "lib/misc/unicode.h"

static __thread char threadName[THREADSTATE_NAME_MAX + 1];
static __thread Bool threadNamed; // set explicitly, not the default
static __thread int32 signalDepth;

// The forking thread lives on in the child under a new kernel id.
static void ThreadStateAtForkChild(void)
{
   if (!threadNamed) {
      threadName[0] = '\0';
   }
}

__attribute__((constructor)) static void ThreadStateRegisterAtFork(void)
{
   pthread_atfork(NULL, NULL, ThreadStateAtForkChild);
}

static void ThreadStateMakeDefault(void)
{
   static const char prefix[] = "host-";
   char digits[24];
   unsigned long tid = (unsigned long)syscall(SYS_gettid);
   size_t n = 0;

   do {
      digits[n++] = (char)('0' + tid % 10);
      tid /= 10;
   } while (tid != 0);
   memcpy(threadName, prefix, sizeof prefix - 1);
   size_t pos = sizeof prefix - 1;
   while (n > 0 && pos < THREADSTATE_NAME_MAX) {
      threadName[pos++] = digits[--n];
   }
   threadName[pos] = '\0';
}

HOT_PATH const char *ThreadState_GetName(void)
{
   if (threadName[0] == '\0') {
      ThreadStateMakeDefault();
   }
   return threadName;
}

void ThreadState_SetName(const char *name)
{
   if (name == NULL || name[0] == '\0') {
      threadNamed = FALSE;
      threadName[0] = '\0';
      return;
   }
   size_t len = strnlen(name, THREADSTATE_NAME_MAX);
   if (name[len] != '\0') {
      len = Unicode_TrimToCharacter(name, len);
   }
   memcpy(threadName, name, len);
   threadName[len] = '\0';
   threadNamed = TRUE;
}

void ThreadState_EnterSignalHandler(void)
{
   signalDepth++;
}

void ThreadState_LeaveSignalHandler(void)
{
   if (signalDepth > 0) {
      signalDepth--;
   }
}

HOT_PATH Bool ThreadState_InSignalHandler(void)
{
   return signalDepth > 0;
}
