// Core dumps of the running process by a cloned copy, and the prediction of
// the core file's name.
#include "lib/sig/sig.h"

#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lib/log/log.h"
#include "lib/misc/util.h"
#include "lib/panic/panic.h"

#define PANIC_SOURCE "vela/lib/sig/sigPosix"

#define SIG_CORE_POLLS 121
#define SIG_CORE_QUIET_POLLS 10
#define SIG_CORE_PATH_SIZE 4196
#define SIG_CORE_EXPANSION_MAX 64

static Bool sigCoreRegainsRoot;

void Sig_SetCoreDumpRegainsRoot(Bool regainsRoot)
{
   sigCoreRegainsRoot = regainsRoot;
}

static void SigCoreDumpChild(void) NORETURN;

// Runs in the copy: no locks are held by other threads here, for there are
// none. No core-dump regions are ever registered, so all memory is kept.
static void SigCoreDumpChild(void)
{
   uid_t ruid, euid, suid;
   if (getresuid(&ruid, &euid, &suid) == 0 && ruid != euid) {
      setresuid((uid_t)-1, ruid, (uid_t)-1);
   }
   if (sigCoreRegainsRoot && prctl(PR_GET_DUMPABLE) != 1) {
      uid_t former = (uid_t)-1;
      if (geteuid() != 0) {
         former = geteuid();
         setresuid((uid_t)-1, 0, (uid_t)-1);
      }
      // Take the former user for good; when no way back to root is left,
      // dumping core gives nothing away.
      int dropped = setuid(former);
      (void)dropped;
      if (setuid(0) != 0) {
         prctl(PR_SET_DUMPABLE, 1);
      }
   }

   struct sigaction dfl;
   memset(&dfl, 0, sizeof dfl);
   dfl.sa_handler = SIG_DFL;
   sigemptyset(&dfl.sa_mask);
   if (sigaction(SIGABRT, &dfl, NULL) != 0) {
      Warning("SIG sigaction failed on signal %d: %s\n", SIGABRT, strerror(errno));
      NOT_IMPLEMENTED();
   }
   sigset_t abrt;
   sigemptyset(&abrt);
   sigaddset(&abrt, SIGABRT);
   pthread_sigmask(SIG_UNBLOCK, &abrt, NULL);
   syscall(SYS_tkill, (pid_t)syscall(SYS_gettid), SIGABRT);
   NOT_REACHED();
}

static int SigWaitForCore(pid_t child)
{
   for (int poll = 1; poll <= SIG_CORE_POLLS; poll++) {
      int status = 0;
      pid_t got = waitpid(child, &status, WNOHANG);
      if (got == child) {
         if (WCOREDUMP(status)) {
            Warning("Core dumped.\n");
            return child;
         }
         Warning("Child process %d failed to dump core (status %#x).\n", child, status);
         return -1;
      }
      if (got < 0) {
         Warning("Failed to wait for child process %d: %s.\n", child, strerror(errno));
         return -1;
      }
      if (got != 0) {
         Warning("Wait for child process %d returned %d.\n", child, got);
         return -1;
      }
      if (poll == SIG_CORE_POLLS) {
         break;
      }
      if (poll > SIG_CORE_QUIET_POLLS) {
         Warning("Waiting (waitpid returned %d, status: %#x) for child process %d to dump "
                 "core...\n",
                 0, status, child);
      }
      sleep(1);
   }
   Warning("Timed out waiting for child process %d.\n", child);
   return -1;
}

int Sig_CoreDump(void)
{
   struct rlimit limit;
   if (getrlimit(RLIMIT_CORE, &limit) != 0) {
      Warning("\nAttempting a core dump using an unknown size limit: %s\n", strerror(errno));
   } else if (limit.rlim_cur == 0) {
      Warning("\nThe core dump limit is set to ZERO; no core dump should be expected\n");
      return -1;
   } else {
      char size[48];
      if (limit.rlim_cur == RLIM_INFINITY) {
         snprintf(size, sizeof size, "an unlimited");
      } else {
         snprintf(size, sizeof size, "a %lu KB", (unsigned long)(limit.rlim_cur >> 10));
      }
      Warning("\nAttempting a core dump using %s size limit\n", size);
   }

   // The profiling signal must not interrupt the copy.
   sigset_t prof, old;
   sigemptyset(&prof);
   sigaddset(&prof, SIGPROF);
   int err = pthread_sigmask(SIG_BLOCK, &prof, &old);
   if (err != 0) {
      Warning("SIG pthread_sigmask failed: %s\n", strerror(err));
      NOT_IMPLEMENTED();
   }
   // A raw clone rather than fork: the fork handlers could take locks that
   // the panicking process holds.
   long child = syscall(SYS_clone, (unsigned long)SIGCHLD, 0, 0, 0, 0);
   int cloneErrno = errno;
   if (child == 0) {
      SigCoreDumpChild();
   }
   pthread_sigmask(SIG_SETMASK, &old, NULL);
   if (child < 0) {
      Warning("Fork failed: %s\n", strerror(cloneErrno));
      return -1;
   }
   return SigWaitForCore((pid_t)child);
}

/* ---- The core file's name ---------------------------------------------- */

Bool Sig_ReadSmallSystemFile(const char *path, char *buf, size_t size)
{
   int fd = open(path, O_RDONLY | O_CLOEXEC);
   if (fd < 0) {
      return FALSE;
   }
   size_t length = 0;
   Bool ok = TRUE;
   while (length < size) {
      ssize_t n = read(fd, buf + length, size - length);
      if (n < 0 && errno == EINTR) {
         continue;
      }
      if (n <= 0) {
         ok = n == 0;
         break;
      }
      length += (size_t)n;
   }
   close(fd);
   if (!ok || length >= size) {
      return FALSE;
   }
   buf[length] = '\0';
   if (length > 0 && buf[length - 1] == '\n') {
      buf[length - 1] = '\0';
   }
   return TRUE;
}

namespace {

// The predicted path: the directory, then at most 64 bytes of expansion.
// A piece that does not fit cuts the path there for good.
struct SigCorePath
{
   char text[SIG_CORE_PATH_SIZE];
   size_t length;
   size_t limit;
   bool cut;

   bool Add(const char *piece)
   {
      size_t n = strlen(piece);
      if (cut || n > limit - length) {
         cut = true;
         return false;
      }
      memcpy(text + length, piece, n);
      length += n;
      text[length] = '\0';
      return true;
   }

   void AddPid(int pid)
   {
      char suffix[16];
      snprintf(suffix, sizeof suffix, ".%d", pid);
      Add(suffix);
   }
};

void SigCoreDirectory(SigCorePath *path)
{
   path->length = 0;
   path->text[0] = '\0';
   if (getcwd(path->text, sizeof path->text) != NULL) {
      path->length = strlen(path->text);
      if (path->length > 0 && path->text[path->length - 1] != '/') {
         if (path->length + 1 <= sizeof path->text - 1) {
            path->text[path->length++] = '/';
            path->text[path->length] = '\0';
         } else {
            path->length = 0;
         }
      }
   }
   path->text[path->length] = '\0';
}

} // namespace

Bool Sig_PredictCoreFileName(const char *pattern, Bool usesPid, int pid, char **name)
{
   if (pattern == NULL) {
      pattern = "core";
   } else if (pattern[0] == '|') {
      Log("Core dump pipes to process %s, core file unreliable\n", pattern + 1);
      pattern = "core";
   }

   SigCorePath path;
   path.cut = false;
   path.length = 0;
   path.text[0] = '\0';
   if (pattern[0] != '/') {
      SigCoreDirectory(&path);
   }
   path.limit = path.length + SIG_CORE_EXPANSION_MAX;
   if (path.limit > sizeof path.text - 1) {
      path.limit = sizeof path.text - 1;
   }

   if (pattern[0] == '\0') {
      if (usesPid) {
         path.AddPid(pid);
      }
      *name = Util_SafeStrdup(path.text);
      return TRUE;
   }

   Bool havePid = FALSE;
   Bool wildcard = FALSE;
   for (const char *p = pattern; *p != '\0' && !path.cut; p++) {
      char piece[16] = {*p, '\0'};
      const char *add = piece;
      struct utsname host;
      if (*p == '%') {
         p++;
         if (*p == '\0') {
            break; // a trailing "%" ends the pattern
         }
         switch (*p) {
         case '%':
            add = "%";
            break;
         case 'p':
            snprintf(piece, sizeof piece, "%d", pid);
            havePid = TRUE;
            break;
         case 'u':
            snprintf(piece, sizeof piece, "%u", (unsigned)getuid());
            break;
         case 'g':
            snprintf(piece, sizeof piece, "%u", (unsigned)getgid());
            break;
         case 's':
            snprintf(piece, sizeof piece, "%d", SIGABRT);
            break;
         case 'h':
            if (uname(&host) == 0) {
               add = host.nodename;
            } else {
               add = "*";
               wildcard = TRUE;
            }
            break;
         case 'e':
         case 't':
            add = "*";
            wildcard = TRUE;
            break;
         default:
            add = "";
            break;
         }
      }
      path.Add(add);
   }
   if (usesPid && !havePid) {
      path.AddPid(pid);
   }

   if (!wildcard) {
      *name = Util_SafeStrdup(path.text);
      return TRUE;
   }
   glob_t matches;
   int rc = glob(path.text, GLOB_NOCHECK, NULL, &matches);
   Bool found = TRUE;
   if (rc != 0) {
      *name = Util_SafeStrdup(path.text);
   } else if (matches.gl_pathc == 1) {
      *name = Util_SafeStrdup(matches.gl_pathv[0]);
   } else {
      found = FALSE;
   }
   globfree(&matches);
   return found;
}

Bool Sig_GetCoreFileName(char **name, int pid)
{
   char usesPid[32];
   char pattern[66];
   Bool wantPid = FALSE;

   if (Sig_ReadSmallSystemFile("/proc/sys/kernel/core_uses_pid", usesPid, sizeof usesPid)) {
      char *end;
      errno = 0;
      long value = strtol(usesPid, &end, 10);
      wantPid = end != usesPid && *end == '\0' && errno == 0 && value != 0;
   }
   Bool havePattern =
       Sig_ReadSmallSystemFile("/proc/sys/kernel/core_pattern", pattern, sizeof pattern);
   return Sig_PredictCoreFileName(havePattern ? pattern : NULL, wantPid, pid, name);
}
