// Recursive and exclusive locks, condition variables and the lock list.
//
// The count and owner of a lock are read by a thread that may not hold the
// mutex, to decide whether it already owns the lock; only the owner changes
// them. They are accessed with relaxed atomics so that such reads are
// well-defined; the mutex orders everything else.
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "lib/misc/util.h"
#include "lib/panic/panic.h"

#define MXUSER_INVALID_OWNER ((pthread_t)~0UL)

typedef struct MXUserHeader
{
   char *name;
   uint32 signature;
   MX_Rank rank;
   void (*dumpFunc)(const struct MXUserHeader *);
   void (*statsAction)(const struct MXUserHeader *);
   struct MXUserHeader *prev;
   struct MXUserHeader *next;
   uint64 serialNumber;
} MXUserHeader;

// A native mutex with the acquire count and owner that make it re-entrant.
// Both lock kinds and the list guard keep their state alike.
typedef struct MXUserMutex
{
   pthread_mutex_t native;
   int32 count;
   pthread_t owner;
} MXUserMutex;

struct MXUserRecLock
{
   MXUserHeader header;
   MXUserMutex m;
   void *acquireStats;
   void *heldStats;
   uint32 refCount;
   // Delegation to a mutex of an embedding host; never bound here.
   void *externalMutex;
};

struct MXUserExclLock
{
   MXUserHeader header;
   MXUserMutex m;
   void *acquireStats;
   void *heldStats;
};

struct MXUserCondVar
{
   uint32 signature;
   MXUserHeader *header;
   pthread_mutex_t *ownerMutex;
   uint32 referenceCount; // threads waiting
   pthread_cond_t condObject;
};

static uint32 signatureBase;
static uint64 serialCounter = 1;
static MXUserMutex *listGuard;
static MXUserHeader *listHead;
static uint32 listCount;
static Bool inPanic;
static uint32 lockPanics;

/* Small helpers. */

static inline int32 MXUserCount(const MXUserMutex *m)
{
   return __atomic_load_n(&m->count, __ATOMIC_RELAXED);
}

static inline void MXUserSetCount(MXUserMutex *m, int32 value)
{
   __atomic_store_n(&m->count, value, __ATOMIC_RELAXED);
}

static inline void MXUserSetOwner(MXUserMutex *m, pthread_t value)
{
   __atomic_store_n(&m->owner, value, __ATOMIC_RELAXED);
}

static inline Bool MXUserIsOwner(const MXUserMutex *m)
{
   return MXUserCount(m) > 0 &&
          pthread_equal(__atomic_load_n(&m->owner, __ATOMIC_RELAXED), pthread_self());
}

static char *MXUserNameCopy(const char *name, char kind, const void *returnAddress)
{
   char buf[64];
   if (name == NULL) {
      snprintf(buf, sizeof buf, "%c-%p", kind, returnAddress);
      name = buf;
   }
   return Util_SafeStrdup(name);
}

static uint32 MXUserGetSignature(uint32 type)
{
   uint32 base = __atomic_load_n(&signatureBase, __ATOMIC_ACQUIRE);
   if (base == 0) {
      uint32 now = (uint32)time(NULL);
      uint32 expected = 0;
      if (now == 0) {
         now = 1;
      }
      __atomic_compare_exchange_n(&signatureBase, &expected, now, FALSE, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE);
      base = __atomic_load_n(&signatureBase, __ATOMIC_ACQUIRE);
   }
   return (base & 0x0FFFFFFF) | (type << 28);
}

static uint64 MXUserAllocSerialNumber(void)
{
   uint64 value = __atomic_fetch_add(&serialCounter, 1, __ATOMIC_RELAXED);
   if (value == 0) {
      Panic("%s: too many locks!\n", "MXUserAllocSerialNumber");
   }
   return value;
}

/* Shared acquire and release: the owner re-enters by counting. */

static inline void MXUserAcquire(MXUserMutex *m)
{
   if (MXUserIsOwner(m)) {
      MXUserSetCount(m, MXUserCount(m) + 1);
      return;
   }
   pthread_mutex_lock(&m->native);
   MXUserSetCount(m, MXUserCount(m) + 1);
   if (MXUserCount(m) == 1) {
      MXUserSetOwner(m, pthread_self());
   }
}

static inline Bool MXUserTryAcquire(MXUserMutex *m)
{
   if (MXUserIsOwner(m)) {
      MXUserSetCount(m, MXUserCount(m) + 1);
      return TRUE;
   }
   if (pthread_mutex_trylock(&m->native) != 0) {
      return FALSE;
   }
   MXUserSetCount(m, MXUserCount(m) + 1);
   if (MXUserCount(m) == 1) {
      MXUserSetOwner(m, pthread_self());
   }
   return TRUE;
}

static inline void MXUserRelease(MXUserMutex *m)
{
   int32 value = MXUserCount(m);
   MXUserSetCount(m, value - 1);
   if (value == 1) {
      MXUserSetOwner(m, MXUSER_INVALID_OWNER);
      pthread_mutex_unlock(&m->native);
   }
}

/* The lock list and its re-entrant guard. */

static MXUserMutex *MXUserGetListGuard(void)
{
   MXUserMutex *guard = __atomic_load_n(&listGuard, __ATOMIC_ACQUIRE);
   if (guard == NULL) {
      MXUserMutex *mine = (MXUserMutex *)Util_SafeCalloc(1, sizeof *mine);
      pthread_mutex_init(&mine->native, NULL);
      mine->owner = MXUSER_INVALID_OWNER;
      MXUserMutex *expected = NULL;
      if (__atomic_compare_exchange_n(&listGuard, &expected, mine, FALSE, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
         guard = mine;
      } else {
         pthread_mutex_destroy(&mine->native);
         free(mine);
         guard = expected;
      }
   }
   return guard;
}

static void MXUserAddToList(MXUserHeader *header)
{
   MXUserMutex *guard = MXUserGetListGuard();
   MXUserAcquire(guard);
   if (listHead == NULL) {
      header->prev = header;
      header->next = header;
      listHead = header;
   } else {
      // Just before the head: the tail of the ring.
      header->next = listHead;
      header->prev = listHead->prev;
      listHead->prev->next = header;
      listHead->prev = header;
   }
   listCount++;
   MXUserRelease(guard);
}

static void MXUserRemoveFromList(MXUserHeader *header)
{
   MXUserMutex *guard = MXUserGetListGuard();
   MXUserAcquire(guard);
   if (header->next == header) {
      listHead = NULL;
   } else {
      header->prev->next = header->next;
      header->next->prev = header->prev;
      if (listHead == header) {
         listHead = header->next;
      }
   }
   header->prev = header->next = NULL;
   listCount--;
   MXUserRelease(guard);
}

uint32 MXUser_LockCount(void)
{
   MXUserMutex *guard = MXUserGetListGuard();
   MXUserAcquire(guard);
   uint32 count = listCount;
   MXUserRelease(guard);
   return count;
}

void MXUser_ForEachLock(void (*visit)(uint64, const char *, void *), void *data)
{
   MXUserMutex *guard = MXUserGetListGuard();
   MXUserAcquire(guard);
   MXUserHeader *h = listHead;
   if (h != NULL) {
      do {
         visit(h->serialNumber, h->name, data);
         h = h->next;
      } while (h != listHead);
   }
   MXUserRelease(guard);
}

/* Panic state and misuse. */

void MXUser_SetInPanicV(const char *, va_list)
{
   // An embedding host's panic hook would be called here; none is installed.
   __atomic_store_n(&inPanic, TRUE, __ATOMIC_SEQ_CST);
}

void MXUser_SetInPanic(const char *fmt, ...)
{
   va_list args;
   va_start(args, fmt);
   MXUser_SetInPanicV(fmt, args);
   va_end(args);
}

Bool MXUser_InPanic(void)
{
   return __atomic_load_n(&inPanic, __ATOMIC_SEQ_CST);
}

static void MXUserDumpAndPanic(const MXUserHeader *header, const char *fmt, ...)
    PRINTF_DECL(2, 3) NORETURN;

static void MXUserDumpAndPanic(const MXUserHeader *header, const char *fmt, ...)
{
   char msg[512];
   va_list args;

   if (__atomic_add_fetch(&lockPanics, 1, __ATOMIC_SEQ_CST) > 5) {
      // Misuse keeps recurring while panicking; stop trusting the locks.
      va_start(args, fmt);
      MXUser_SetInPanicV(fmt, args);
      va_end(args);
   }
   header->dumpFunc(header);
   va_start(args, fmt);
   vsnprintf(msg, sizeof msg, fmt, args);
   va_end(args);
   Panic("%s", msg);
}

/* What both lock kinds share: creation, release checks, destruction, dumps. */

// Sets up a freshly allocated lock and puts it on the lock list. `who` names
// the public entry point in panics.
static void MXUserInitLock(MXUserHeader *header, MXUserMutex *m, const char *name, char kind,
                           const void *returnAddress, uint32 type, MX_Rank rank,
                           void (*dumpFunc)(const MXUserHeader *), const char *who)
{
   char *copy = MXUserNameCopy(name, kind, returnAddress);
   if (pthread_mutex_init(&m->native, NULL) != 0) {
      Panic("%s: native lock initialization routine failed\n", who);
   }
   m->owner = MXUSER_INVALID_OWNER;
   m->count = 0;
   header->name = copy;
   header->signature = MXUserGetSignature(type);
   header->rank = rank;
   header->serialNumber = MXUserAllocSerialNumber();
   header->dumpFunc = dumpFunc;
   header->statsAction = NULL;
   MXUserAddToList(header);
}

// Installs a lock at *lockStorage unless one is there; the loser of a race
// destroys its own.
template <typename Lock>
static Lock *
MXUserSingleton(Lock **lockStorage, Lock *(*create)(const char *, MX_Rank, const void *),
                void (*destroy)(Lock *), const char *name, MX_Rank rank, const void *returnAddress)
{
   Lock *lock = __atomic_load_n(lockStorage, __ATOMIC_ACQUIRE);
   if (lock == NULL) {
      Lock *mine = create(name, rank, returnAddress);
      Lock *expected = NULL;
      if (__atomic_compare_exchange_n(lockStorage, &expected, mine, FALSE, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
         lock = mine;
      } else {
         destroy(mine);
         lock = expected;
      }
   }
   return lock;
}

// Unlocking a mutex another thread holds would corrupt it.
static void MXUserCheckedRelease(const MXUserHeader *header, MXUserMutex *m, const char *what,
                                 const char *who)
{
   if (!MXUserIsOwner(m)) {
      MXUserDumpAndPanic(header, "%s: Non-owner release of %s\n", who, what);
   }
   MXUserRelease(m);
}

// Frees a lock whose header is its first member; a held lock panics.
static void MXUserFreeLock(MXUserHeader *header, MXUserMutex *m, const char *what, const char *who)
{
   if (MXUserCount(m) > 0) {
      MXUserDumpAndPanic(header, "%s: Destroy of an acquired %s\n", who, what);
   }
   pthread_mutex_destroy(&m->native);
   MXUserRemoveFromList(header);
   header->signature = 0;
   free(header->name);
   free(header);
}

static void MXUserDumpHeader(const MXUserHeader *header, const char *who, const char *what)
{
   Log_Level(3, "%s: %s @ %p\n", who, what, (const void *)header);
   Log_Level(3, "\tsignature 0x%X\n", header->signature);
   Log_Level(3, "\tname %s\n", header->name);
   Log_Level(3, "\trank 0x%X\n", header->rank);
   Log_Level(3, "\tserial number %lu\n", (unsigned long)header->serialNumber);
}

static void MXUserDumpMutex(const MXUserMutex *m)
{
   Log_Level(3, "\tlock count %d\n", MXUserCount(m));
   Log_Level(3, "\taddress of owner data %p\n", (const void *)&m->owner);
}

/* Recursive locks. */

static void MXUserDumpRecLock(const MXUserHeader *header)
{
   const MXUserRecLock *lock = (const MXUserRecLock *)header;
   MXUserDumpHeader(header, "MXUserDumpRecLock", "Recursive lock");
   Log_Level(3, "\treference count %u\n", __atomic_load_n(&lock->refCount, __ATOMIC_RELAXED));
   MXUserDumpMutex(&lock->m);
}

static MXUserRecLock *MXUserCreateRecLock(const char *name, MX_Rank rank, const void *returnAddress)
{
   MXUserRecLock *lock = (MXUserRecLock *)Util_SafeCalloc(1, sizeof *lock);
   lock->refCount = 1;
   lock->externalMutex = NULL;
   MXUserInitLock(&lock->header, &lock->m, name, 'R', returnAddress, MXUSER_TYPE_REC, rank,
                  MXUserDumpRecLock, "MXUser_CreateRecLock");
   return lock;
}

MXUserRecLock *MXUser_CreateRecLock(const char *name, MX_Rank rank)
{
   return MXUserCreateRecLock(name, rank, __builtin_return_address(0));
}

MXUserRecLock *MXUser_CreateSingletonRecLock(MXUserRecLock **lockStorage, const char *name,
                                             MX_Rank rank)
{
   return MXUserSingleton(lockStorage, MXUserCreateRecLock, MXUser_DestroyRecLock, name, rank,
                          __builtin_return_address(0));
}

HOT_PATH void MXUser_AcquireRecLock(MXUserRecLock *lock)
{
   MXUserAcquire(&lock->m);
}

Bool MXUser_TryAcquireRecLock(MXUserRecLock *lock)
{
   return MXUserTryAcquire(&lock->m);
}

HOT_PATH void MXUser_ReleaseRecLock(MXUserRecLock *lock)
{
   MXUserCheckedRelease(&lock->header, &lock->m, "a recursive lock", "MXUser_ReleaseRecLock");
}

Bool MXUser_IsCurThreadOwnerRecLock(const MXUserRecLock *lock)
{
   return MXUserIsOwner(&lock->m);
}

void MXUser_IncRefRecLock(MXUserRecLock *lock)
{
   __atomic_add_fetch(&lock->refCount, 1, __ATOMIC_ACQ_REL);
}

void MXUser_DestroyRecLock(MXUserRecLock *lock)
{
   if (lock != NULL && __atomic_sub_fetch(&lock->refCount, 1, __ATOMIC_ACQ_REL) == 0) {
      MXUserFreeLock(&lock->header, &lock->m, "recursive lock", "MXUserCondDestroyRecLock");
   }
}

void MXUser_DumpRecLock(const MXUserRecLock *lock)
{
   MXUserDumpRecLock(&lock->header);
}

const char *MXUser_GetRecLockName(const MXUserRecLock *lock)
{
   return lock->header.name;
}

uint64 MXUser_GetRecLockSerialNumber(const MXUserRecLock *lock)
{
   return lock->header.serialNumber;
}

uint32 MXUser_GetRecLockSignature(const MXUserRecLock *lock)
{
   return lock->header.signature;
}

int32 MXUser_GetRecLockCount(const MXUserRecLock *lock)
{
   return MXUserCount(&lock->m);
}

/* Exclusive locks. */

static void MXUserDumpExclLock(const MXUserHeader *header)
{
   MXUserDumpHeader(header, "MXUserDumpExclLock", "Exclusive lock");
   MXUserDumpMutex(&((const MXUserExclLock *)header)->m);
}

static MXUserExclLock *MXUserCreateExclLock(const char *name, MX_Rank rank,
                                            const void *returnAddress)
{
   MXUserExclLock *lock = (MXUserExclLock *)Util_SafeCalloc(1, sizeof *lock);
   MXUserInitLock(&lock->header, &lock->m, name, 'X', returnAddress, MXUSER_TYPE_EXCL, rank,
                  MXUserDumpExclLock, "MXUser_CreateExclLock");
   return lock;
}

MXUserExclLock *MXUser_CreateExclLock(const char *name, MX_Rank rank)
{
   return MXUserCreateExclLock(name, rank, __builtin_return_address(0));
}

MXUserExclLock *MXUser_CreateSingletonExclLock(MXUserExclLock **lockStorage, const char *name,
                                               MX_Rank rank)
{
   return MXUserSingleton(lockStorage, MXUserCreateExclLock, MXUser_DestroyExclLock, name, rank,
                          __builtin_return_address(0));
}

void MXUser_AcquireExclLock(MXUserExclLock *lock)
{
   MXUserAcquire(&lock->m);
}

Bool MXUser_TryAcquireExclLock(MXUserExclLock *lock)
{
   return MXUserTryAcquire(&lock->m);
}

void MXUser_ReleaseExclLock(MXUserExclLock *lock)
{
   MXUserCheckedRelease(&lock->header, &lock->m, "an exclusive lock", "MXUser_ReleaseExclLock");
}

Bool MXUser_IsCurThreadOwnerExclLock(const MXUserExclLock *lock)
{
   return MXUserIsOwner(&lock->m);
}

void MXUser_DestroyExclLock(MXUserExclLock *lock)
{
   if (lock != NULL) {
      MXUserFreeLock(&lock->header, &lock->m, "exclusive lock", "MXUser_DestroyExclLock");
   }
}

void MXUser_DumpExclLock(const MXUserExclLock *lock)
{
   MXUserDumpExclLock(&lock->header);
}

const char *MXUser_GetExclLockName(const MXUserExclLock *lock)
{
   return lock->header.name;
}

uint64 MXUser_GetExclLockSerialNumber(const MXUserExclLock *lock)
{
   return lock->header.serialNumber;
}

uint32 MXUser_GetExclLockSignature(const MXUserExclLock *lock)
{
   return lock->header.signature;
}

/* Condition variables. */

static MXUserCondVar *MXUserCreateCondVar(MXUserHeader *header, pthread_mutex_t *mutex)
{
   MXUserCondVar *condVar = (MXUserCondVar *)Util_SafeCalloc(1, sizeof *condVar);
   if (pthread_cond_init(&condVar->condObject, NULL) != 0) {
      Panic("%s: native lock initialization routine failed\n", "MXUserCreateCondVar");
   }
   condVar->signature = MXUserGetSignature(MXUSER_TYPE_CONDVAR);
   condVar->header = header;
   condVar->ownerMutex = mutex;
   condVar->referenceCount = 0;
   return condVar;
}

MXUserCondVar *MXUser_CreateCondVarRecLock(MXUserRecLock *lock)
{
   return MXUserCreateCondVar(&lock->header, &lock->m.native);
}

MXUserCondVar *MXUser_CreateCondVarExclLock(MXUserExclLock *lock)
{
   return MXUserCreateCondVar(&lock->header, &lock->m.native);
}

static Bool MXUserWaitInternal(MXUserHeader *header, MXUserMutex *m, MXUserCondVar *condVar,
                               uint32 msecWait)
{
   int err;

   if (condVar->ownerMutex != &m->native) {
      MXUserDumpAndPanic(header, "%s: invalid use of lock %s with condVar (0x%p; %s)\n",
                         "MXUserWaitCondVar", header->name, (void *)condVar, condVar->header->name);
   }
   if (!MXUserIsOwner(m)) {
      // Waiting releases a mutex the caller must hold; anything else is
      // undefined behaviour of the native layer.
      MXUserDumpAndPanic(header, "%s: lock %s not held by caller for condVar (0x%p; %s)\n",
                         "MXUserWaitCondVar", header->name, (void *)condVar, condVar->header->name);
   }

   __atomic_add_fetch(&condVar->referenceCount, 1, __ATOMIC_ACQ_REL);
   int32 saved = MXUserCount(m);
   MXUserSetOwner(m, MXUSER_INVALID_OWNER);
   MXUserSetCount(m, 0);

   if (msecWait != MXUSER_WAIT_INFINITE) {
      struct timeval now;
      struct timespec deadline;
      gettimeofday(&now, NULL);
      uint64 nsec = (uint64)now.tv_usec * 1000 + (uint64)(msecWait % 1000) * 1000000;
      deadline.tv_sec = now.tv_sec + msecWait / 1000 + (time_t)(nsec / 1000000000);
      deadline.tv_nsec = (long)(nsec % 1000000000);
      err = pthread_cond_timedwait(&condVar->condObject, &m->native, &deadline);
   } else {
      err = pthread_cond_wait(&condVar->condObject, &m->native);
   }

   MXUserSetCount(m, MXUserCount(m) + saved);
   if (MXUserCount(m) == saved) {
      MXUserSetOwner(m, pthread_self());
   }
   if (err != 0 && err != ETIMEDOUT) {
      Panic("%s: failure %d on condVar (0x%p; %s)\n", "MXUserWaitInternal", err, (void *)condVar,
            header->name);
   }
   __atomic_sub_fetch(&condVar->referenceCount, 1, __ATOMIC_ACQ_REL);
   return err == 0;
}

void MXUser_WaitCondVarRecLock(MXUserRecLock *lock, MXUserCondVar *condVar)
{
   MXUserWaitInternal(&lock->header, &lock->m, condVar, MXUSER_WAIT_INFINITE);
}

void MXUser_WaitCondVarExclLock(MXUserExclLock *lock, MXUserCondVar *condVar)
{
   MXUserWaitInternal(&lock->header, &lock->m, condVar, MXUSER_WAIT_INFINITE);
}

Bool MXUser_TimedWaitCondVarRecLock(MXUserRecLock *lock, MXUserCondVar *condVar, uint32 msecWait)
{
   return MXUserWaitInternal(&lock->header, &lock->m, condVar, msecWait);
}

Bool MXUser_TimedWaitCondVarExclLock(MXUserExclLock *lock, MXUserCondVar *condVar, uint32 msecWait)
{
   return MXUserWaitInternal(&lock->header, &lock->m, condVar, msecWait);
}

static void MXUserCheckCondVar(int err, MXUserCondVar *condVar, const char *who)
{
   if (err != 0) {
      Panic("%s: failure %d on condVar (0x%p; %s) \n", who, err, (void *)condVar,
            condVar->header->name);
   }
}

void MXUser_SignalCondVar(MXUserCondVar *condVar)
{
   MXUserCheckCondVar(pthread_cond_signal(&condVar->condObject), condVar, "MXUser_SignalCondVar");
}

void MXUser_BroadcastCondVar(MXUserCondVar *condVar)
{
   MXUserCheckCondVar(pthread_cond_broadcast(&condVar->condObject), condVar,
                      "MXUser_BroadcastCondVar");
}

void MXUser_DestroyCondVar(MXUserCondVar *condVar)
{
   if (condVar == NULL) {
      return;
   }
   if (__atomic_load_n(&condVar->referenceCount, __ATOMIC_ACQUIRE) != 0) {
      Panic("%s: Attempted destroy on active condVar (0x%p; %s)\n", "MXUser_DestroyCondVar",
            (void *)condVar, condVar->header->name);
   }
   condVar->signature = 0;
   pthread_cond_destroy(&condVar->condObject);
   free(condVar);
}
