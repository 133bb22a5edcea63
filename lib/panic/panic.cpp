// The orderly end of the process after an unrecoverable condition.
#include "lib/panic/panic.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "lib/config/config.h"
#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "lib/misc/msgList.h"
#include "lib/misc/productState.h"
#include "lib/misc/threadState.h"
#include "lib/misc/unicode.h"
#include "lib/misc/util.h"
#include "lib/sig/sig.h"
#include "lib/user/msg.h"

#define PANIC_MSG_SIZE 1024
#define PANIC_RESERVE_MAX_KB 20480U
#define PANIC_BACKTRACE_MAX 64

static Bool panicMsgPost = TRUE;
static Bool panicCoreDumpOnPanic = TRUE;
static Bool panicLoopOnPanic = FALSE; // read atomically: a debugger clears it
static int32 panicBreakOnPanic = 0;
static int32 panicCoreDumpFlags = 0;
static uint32 panicCount;

static Bool panicReserveDone;
static void *panicReservedAddr;
static size_t panicReservedLength;

void Panic_PrepareBacktrace(void)
{
   static pthread_once_t once = PTHREAD_ONCE_INIT;
   pthread_once(&once, [] {
      void *frame;
      backtrace(&frame, 1);
   });
}

static void PanicLogBacktrace(void)
{
   void *frames[PANIC_BACKTRACE_MAX];
   int n = backtrace(frames, PANIC_BACKTRACE_MAX);
   for (int i = 1; i < n; i++) { // frame 0 is this function
      Dl_info info;
      if (dladdr(frames[i], &info) == 0 || info.dli_fname == NULL) {
         Log_Level(LOG_PANIC, "Backtrace[%d] %p\n", i - 1, frames[i]);
         continue;
      }
      const char *base = (const char *)(info.dli_saddr != NULL ? info.dli_saddr : info.dli_fbase);
      Log_Level(LOG_PANIC, "Backtrace[%d] %p %s(%s+%#zx)\n", i - 1, frames[i], info.dli_fname,
                info.dli_sname != NULL ? info.dli_sname : "",
                (size_t)((const char *)frames[i] - base));
   }
}

static void PanicCoreDump(void)
{
   if (panicReservedAddr != NULL) {
      munmap(panicReservedAddr, panicReservedLength);
      panicReservedAddr = NULL;
   }
   int child = Sig_CoreDump();
   if (child == -1) {
      return;
   }
   char *name = NULL;
   Sig_GetCoreFileName(&name, child);
   if (name != NULL) {
      Warning("A core file is available in \"%s\"\n", name);
      free(name);
   } else {
      Log("%s: SigGetCoreFileName failure", "Sig_CoreDump");
   }
}

void PanicV(const char *fmt, va_list args)
{
   char buf[PANIC_MSG_SIZE];
   va_list copy;

   va_copy(copy, args);
   MXUser_SetInPanicV(fmt, copy);
   va_end(copy);

   int n = vsnprintf(buf, sizeof buf, fmt, args);
   size_t len = n < 0 ? 0 : (size_t)n;
   if (len >= sizeof buf) {
      len = Unicode_TrimToCharacter(buf, sizeof buf - 1);
      buf[len] = '\0';
   }
   // Standard error first: the log may be what is broken.
   Util_WriteAll(STDERR_FILENO, buf, len);

   uint32 entered = __atomic_fetch_add(&panicCount, 1, __ATOMIC_SEQ_CST);
   if (entered != 0) {
      if (entered == 1) {
         Log_Level(LOG_PANIC, "PANIC: %s", buf);
         Log_Level(LOG_PANIC, "Panic loop\n");
      }
      Util_WriteAll(STDERR_FILENO, "Panic loop\n", 11);
      _exit(1);
   }

   Log_DisableThrottling();
   Log_Level(LOG_PANIC, "PANIC: %s", buf);
   PanicLogBacktrace();
   if (panicCoreDumpOnPanic) {
      PanicCoreDump();
   }
   Panic_LoopOnPanic();
   Panic_PostPanicMsg(buf);
   Log("Exiting\n");
   _exit(255);
}

void Panic(const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   PanicV(fmt, args);
}

void Panic_Init(void)
{
   Panic_PrepareBacktrace();
   panicCoreDumpOnPanic = Config_GetBool(TRUE, "coreDumpOnPanic");
   Panic_SetLoopOnPanic(Config_GetBool(FALSE, "panic.loopOnPanic"));
   panicBreakOnPanic = Config_GetLong(0, "panic.breakOnPanic");
   panicCoreDumpFlags = Config_GetLong(0, "coreDumpFlags");
}

// The plain settings: set at start-up, read by the panicking thread.
#define PANIC_SETTING(type, name, variable)                                                        \
   void Panic_Set##name(type value)                                                                \
   {                                                                                               \
      variable = value;                                                                            \
   }                                                                                               \
   type Panic_Get##name(void)                                                                      \
   {                                                                                               \
      return variable;                                                                             \
   }

PANIC_SETTING(Bool, PanicMsgPost, panicMsgPost)
PANIC_SETTING(Bool, CoreDumpOnPanic, panicCoreDumpOnPanic)
PANIC_SETTING(int32, CoreDumpFlags, panicCoreDumpFlags)
PANIC_SETTING(int32, BreakOnPanic, panicBreakOnPanic)

Bool Panic_IsBreakForced(void)
{
   return panicBreakOnPanic > 1;
}

void Panic_SetLoopOnPanic(Bool loop)
{
   __atomic_store_n(&panicLoopOnPanic, loop, __ATOMIC_SEQ_CST);
}

Bool Panic_GetLoopOnPanic(void)
{
   return __atomic_load_n(&panicLoopOnPanic, __ATOMIC_SEQ_CST);
}

void Panic_LoopOnPanic(void)
{
   if (!Panic_GetLoopOnPanic()) {
      return;
   }
   char line[48];
   int n = snprintf(line, sizeof line, "Looping pid=%d\n", (int)getpid());
   Util_WriteAll(STDERR_FILENO, line, (size_t)n);
   while (Panic_GetLoopOnPanic()) {
      sleep(1);
   }
}

void Panic_BreakOnPanic(void)
{
   if (panicBreakOnPanic == 0) {
      return;
   }
   if (panicBreakOnPanic == 1) {
      // Stops only under a debugger: without one the signal is ignored.
      struct sigaction ignore = {}, previous;
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      sigaction(SIGTRAP, &ignore, &previous);
      kill(getpid(), SIGTRAP);
      sigaction(SIGTRAP, &previous, NULL);
      return;
   }
   Warning("Panic: breaking into debugger\n");
   __asm__ volatile("int3");
}

void Panic_ReserveCoreDumpSpace(void)
{
   if (__atomic_exchange_n(&panicReserveDone, TRUE, __ATOMIC_SEQ_CST)) {
      return;
   }
   uint32 kb = (uint32)Config_GetLong(0, "panic.addrSpaceReservedKB");
   if (kb == 0) {
      return;
   }
   if (kb > PANIC_RESERVE_MAX_KB) {
      kb = PANIC_RESERVE_MAX_KB;
   }
   size_t length = (size_t)kb * 1024;
   void *addr = mmap(NULL, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
   if (addr == MAP_FAILED) {
      return;
   }
   panicReservedAddr = addr;
   panicReservedLength = length;
   Log("Reserved virtual address space for CoreDump(addr:%p, size:%zuKB)\n", addr, (size_t)kb);
}

static int PanicPrintObject(struct dl_phdr_info *info, size_t, void *data)
{
   Bool printAll = *(const Bool *)data;
   const char *name = info->dlpi_name;
   Bool isMain = name == NULL || name[0] == '\0';
   if (!isMain && !printAll) {
      return 0;
   }
   for (int i = 0; i < info->dlpi_phnum; i++) {
      const ElfW(Phdr) *ph = &info->dlpi_phdr[i];
      if (ph->p_type != PT_LOAD || (ph->p_flags & PF_W) != 0) {
         continue;
      }
      char *start = (char *)(info->dlpi_addr + ph->p_vaddr);
      char *end = start + ph->p_memsz;
      if (isMain) {
         Dl_info dl;
         name = dladdr(start + ph->p_memsz / 2, &dl) != 0 && dl.dli_fname != NULL ? dl.dli_fname
                                                                                  : "<no name>";
      }
      Log("[0x%p-0x%p): %s\n", (void *)start, (void *)end, name);
      break;
   }
   return 0;
}

void Panic_PrintLoadedObjects(Bool printAll)
{
   if (printAll) {
      Log("Printing loaded objects\n");
   }
   dl_iterate_phdr(PanicPrintObject, &printAll);
   if (printAll) {
      Log("End printing loaded objects\n");
   }
}

void Panic_PostPanicMsg(const char *text)
{
   if (!panicMsgPost) {
      return;
   }
   Msg_Append(MSGID(msg.log.error.unrecoverable) "%s%s unrecoverable error: (%s)\n%s",
              Msg_Pending() != NULL ? "\n" : "", ProductState_GetName(), ThreadState_GetName(),
              text);
   const char *logFile = Log_GetFileName();
   if (logFile != NULL) {
      Msg_Append(MSGID(msg.panic.haveLog) "A log file is available in \"%s\".  ", logFile);
   }
   Msg_Append(MSGID(msg.panic.requestSupport.withoutLog) "You can request support.  ");
   // The ids are spelled out as texts: their blank is part of the id, and a
   // stringified token list would keep or lose it with the formatting.
   if ((ProductState_GetProductMask() & PRODUCTSTATE_MASK_DESKTOP) != 0) {
      Msg_Append(MSG_MAGIC "(msg.panic.requestSupport.supportData .windowsOrLinux)"
                           "\nTo collect data to submit to Keltria support, choose \"Collect "
                           "Support Data\" from the \"About\" menu.\nYou can also run the "
                           "\"support.bat\" or \"pellory-log-collector\" script in the "
                           "\"trove\" folder of the application bundle directly.\n");
   } else {
      Msg_Append(MSG_MAGIC "(msg.panic.requestSupport.supportData .corehost)"
                           "\nTo collect data to submit to Keltria support, run the "
                           "\"support.bat\" or \"pellory-log-collector\" script in the "
                           "\"trove\" folder of the application bundle.\n");
   }
   MsgCallback callbacks;
   Msg_GetCallback(&callbacks);
   if (callbacks.notify != NULL) {
      callbacks.notify();
   }
   Msg_Post(
       MSG_ERROR,
       MSGID(msg.panic.response) "We will respond on the basis of your support entitlement.\n");
}
