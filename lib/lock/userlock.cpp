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

struct MXUserRecLock
{
   MXUserHeader header;
   pthread_mutex_t mutex;
   int32 count;
   pthread_t owner;
   void *acquireStats;
   void *heldStats;
   uint32 refCount;
   // Delegation to a mutex of an embedding host; never bound here.
   void *externalMutex;
};

struct MXUserExclLock
{
   MXUserHeader header;
   pthread_mutex_t mutex;
   int32 count;
   pthread_t owner;
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

typedef struct MXUserListGuard
{
   pthread_mutex_t mutex;
   int32 count;
   pthread_t owner;
} MXUserListGuard;

static uint32 signatureBase;
static uint64 serialCounter = 1;
static MXUserListGuard *listGuard;
static MXUserHeader *listHead;
static uint32 listCount;
static Bool inPanic;
static uint32 lockPanics;

/* Small helpers. */

static inline int32 MXUserCount(const int32 *count)
{
   return __atomic_load_n(count, __ATOMIC_RELAXED);
}

static inline void MXUserSetCount(int32 *count, int32 value)
{
   __atomic_store_n(count, value, __ATOMIC_RELAXED);
}

static inline pthread_t MXUserOwner(const pthread_t *owner)
{
   return __atomic_load_n(owner, __ATOMIC_RELAXED);
}

static inline void MXUserSetOwner(pthread_t *owner, pthread_t value)
{
   __atomic_store_n(owner, value, __ATOMIC_RELAXED);
}

static inline Bool MXUserIsOwner(const int32 *count, const pthread_t *owner)
{
   return MXUserCount(count) > 0 && pthread_equal(MXUserOwner(owner), pthread_self());
}

static void *MXUserAlloc(size_t size, const char *who)
{
   void *p = calloc(1, size);
   if (p == NULL) {
      Panic("%s: unrecoverable memory allocation failure\n", who);
   }
   return p;
}

static char *MXUserNameCopy(const char *name, char kind, const void *returnAddress, const char *who)
{
   char buf[64];
   if (name == NULL) {
      snprintf(buf, sizeof buf, "%c-%p", kind, returnAddress);
      name = buf;
   }
   char *copy = strdup(name);
   if (copy == NULL) {
      Panic("%s: unrecoverable memory allocation failure\n", who);
   }
   return copy;
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

/* The lock list and its re-entrant guard. */

static MXUserListGuard *MXUserGetListGuard(void)
{
   MXUserListGuard *guard = __atomic_load_n(&listGuard, __ATOMIC_ACQUIRE);
   if (guard == NULL) {
      MXUserListGuard *mine = (MXUserListGuard *)MXUserAlloc(sizeof *mine, "MXUserGetListGuard");
      pthread_mutex_init(&mine->mutex, NULL);
      mine->owner = MXUSER_INVALID_OWNER;
      MXUserListGuard *expected = NULL;
      if (__atomic_compare_exchange_n(&listGuard, &expected, mine, FALSE, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
         guard = mine;
      } else {
         pthread_mutex_destroy(&mine->mutex);
         free(mine);
         guard = expected;
      }
   }
   return guard;
}

static void MXUserListLock(MXUserListGuard *guard)
{
   if (MXUserIsOwner(&guard->count, &guard->owner)) {
      MXUserSetCount(&guard->count, MXUserCount(&guard->count) + 1);
      return;
   }
   pthread_mutex_lock(&guard->mutex);
   MXUserSetCount(&guard->count, MXUserCount(&guard->count) + 1);
   if (MXUserCount(&guard->count) == 1) {
      MXUserSetOwner(&guard->owner, pthread_self());
   }
}

static void MXUserListUnlock(MXUserListGuard *guard)
{
   int32 count = MXUserCount(&guard->count);
   MXUserSetCount(&guard->count, count - 1);
   if (count == 1) {
      MXUserSetOwner(&guard->owner, MXUSER_INVALID_OWNER);
      pthread_mutex_unlock(&guard->mutex);
   }
}

static void MXUserAddToList(MXUserHeader *header)
{
   MXUserListGuard *guard = MXUserGetListGuard();
   MXUserListLock(guard);
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
   MXUserListUnlock(guard);
}

static void MXUserRemoveFromList(MXUserHeader *header)
{
   MXUserListGuard *guard = MXUserGetListGuard();
   MXUserListLock(guard);
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
   MXUserListUnlock(guard);
}

uint32 MXUser_LockCount(void)
{
   MXUserListGuard *guard = MXUserGetListGuard();
   MXUserListLock(guard);
   uint32 count = listCount;
   MXUserListUnlock(guard);
   return count;
}

void MXUser_ForEachLock(void (*visit)(uint64, const char *, void *), void *data)
{
   MXUserListGuard *guard = MXUserGetListGuard();
   MXUserListLock(guard);
   MXUserHeader *h = listHead;
   if (h != NULL) {
      do {
         visit(h->serialNumber, h->name, data);
         h = h->next;
      } while (h != listHead);
   }
   MXUserListUnlock(guard);
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

/* Shared acquire and release: both kinds keep count and owner alike. */

static inline void MXUserAcquire(pthread_mutex_t *mutex, int32 *count, pthread_t *owner)
{
   if (MXUserIsOwner(count, owner)) {
      MXUserSetCount(count, MXUserCount(count) + 1);
      return;
   }
   pthread_mutex_lock(mutex);
   MXUserSetCount(count, MXUserCount(count) + 1);
   if (MXUserCount(count) == 1) {
      MXUserSetOwner(owner, pthread_self());
   }
}

static inline Bool MXUserTryAcquire(pthread_mutex_t *mutex, int32 *count, pthread_t *owner)
{
   if (MXUserIsOwner(count, owner)) {
      MXUserSetCount(count, MXUserCount(count) + 1);
      return TRUE;
   }
   if (pthread_mutex_trylock(mutex) != 0) {
      return FALSE;
   }
   MXUserSetCount(count, MXUserCount(count) + 1);
   if (MXUserCount(count) == 1) {
      MXUserSetOwner(owner, pthread_self());
   }
   return TRUE;
}

static inline void MXUserRelease(pthread_mutex_t *mutex, int32 *count, pthread_t *owner)
{
   int32 value = MXUserCount(count);
   MXUserSetCount(count, value - 1);
   if (value == 1) {
      MXUserSetOwner(owner, MXUSER_INVALID_OWNER);
      pthread_mutex_unlock(mutex);
   }
}

static void MXUserInitHeader(MXUserHeader *header, char *name, uint32 type, MX_Rank rank,
                             void (*dumpFunc)(const MXUserHeader *))
{
   header->name = name;
   header->signature = MXUserGetSignature(type);
   header->rank = rank;
   header->serialNumber = MXUserAllocSerialNumber();
   header->dumpFunc = dumpFunc;
   header->statsAction = NULL;
}

/* Recursive locks. */

static void MXUserDumpRecLock(const MXUserHeader *header)
{
   const MXUserRecLock *lock = (const MXUserRecLock *)header;
   Log_Level(3, "%s: Recursive lock @ %p\n", "MXUserDumpRecLock", (const void *)lock);
   Log_Level(3, "\tsignature 0x%X\n", header->signature);
   Log_Level(3, "\tname %s\n", header->name);
   Log_Level(3, "\trank 0x%X\n", header->rank);
   Log_Level(3, "\tserial number %lu\n", (unsigned long)header->serialNumber);
   Log_Level(3, "\treference count %u\n", __atomic_load_n(&lock->refCount, __ATOMIC_RELAXED));
   Log_Level(3, "\tlock count %d\n", MXUserCount(&lock->count));
   Log_Level(3, "\taddress of owner data %p\n", (const void *)&lock->owner);
}

static MXUserRecLock *MXUserCreateRecLock(const char *name, MX_Rank rank, const void *returnAddress)
{
   MXUserRecLock *lock = (MXUserRecLock *)MXUserAlloc(sizeof *lock, "MXUser_CreateRecLock");
   char *copy = MXUserNameCopy(name, 'R', returnAddress, "MXUser_CreateRecLock");
   if (pthread_mutex_init(&lock->mutex, NULL) != 0) {
      Panic("%s: native lock initialization routine failed\n", "MXUser_CreateRecLock");
   }
   lock->owner = MXUSER_INVALID_OWNER;
   lock->count = 0;
   lock->refCount = 1;
   lock->externalMutex = NULL;
   MXUserInitHeader(&lock->header, copy, MXUSER_TYPE_REC, rank, MXUserDumpRecLock);
   MXUserAddToList(&lock->header);
   return lock;
}

MXUserRecLock *MXUser_CreateRecLock(const char *name, MX_Rank rank)
{
   return MXUserCreateRecLock(name, rank, __builtin_return_address(0));
}

MXUserRecLock *MXUser_CreateSingletonRecLock(MXUserRecLock **lockStorage, const char *name,
                                             MX_Rank rank)
{
   MXUserRecLock *lock = __atomic_load_n(lockStorage, __ATOMIC_ACQUIRE);
   if (lock == NULL) {
      MXUserRecLock *mine = MXUserCreateRecLock(name, rank, __builtin_return_address(0));
      MXUserRecLock *expected = NULL;
      if (__atomic_compare_exchange_n(lockStorage, &expected, mine, FALSE, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
         lock = mine;
      } else {
         MXUser_DestroyRecLock(mine);
         lock = expected;
      }
   }
   return lock;
}

void MXUser_AcquireRecLock(MXUserRecLock *lock)
{
   MXUserAcquire(&lock->mutex, &lock->count, &lock->owner);
}

Bool MXUser_TryAcquireRecLock(MXUserRecLock *lock)
{
   return MXUserTryAcquire(&lock->mutex, &lock->count, &lock->owner);
}

void MXUser_ReleaseRecLock(MXUserRecLock *lock)
{
   if (!MXUserIsOwner(&lock->count, &lock->owner)) {
      // Unlocking a mutex another thread holds would corrupt it.
      MXUserDumpAndPanic(&lock->header, "%s: Non-owner release of a recursive lock\n",
                         "MXUser_ReleaseRecLock");
   }
   MXUserRelease(&lock->mutex, &lock->count, &lock->owner);
}

Bool MXUser_IsCurThreadOwnerRecLock(const MXUserRecLock *lock)
{
   return MXUserIsOwner(&lock->count, &lock->owner);
}

void MXUser_IncRefRecLock(MXUserRecLock *lock)
{
   __atomic_add_fetch(&lock->refCount, 1, __ATOMIC_ACQ_REL);
}

static void MXUserCondDestroyRecLock(MXUserRecLock *lock)
{
   if (__atomic_sub_fetch(&lock->refCount, 1, __ATOMIC_ACQ_REL) != 0) {
      return;
   }
   if (MXUserCount(&lock->count) > 0) {
      MXUserDumpAndPanic(&lock->header, "%s: Destroy of an acquired recursive lock\n",
                         "MXUserCondDestroyRecLock");
   }
   pthread_mutex_destroy(&lock->mutex);
   MXUserRemoveFromList(&lock->header);
   lock->header.signature = 0;
   free(lock->header.name);
   free(lock);
}

void MXUser_DestroyRecLock(MXUserRecLock *lock)
{
   if (lock != NULL) {
      MXUserCondDestroyRecLock(lock);
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
   return MXUserCount(&lock->count);
}

/* Exclusive locks. */

static void MXUserDumpExclLock(const MXUserHeader *header)
{
   const MXUserExclLock *lock = (const MXUserExclLock *)header;
   Log_Level(3, "%s: Exclusive lock @ %p\n", "MXUserDumpExclLock", (const void *)lock);
   Log_Level(3, "\tsignature 0x%X\n", header->signature);
   Log_Level(3, "\tname %s\n", header->name);
   Log_Level(3, "\trank 0x%X\n", header->rank);
   Log_Level(3, "\tserial number %lu\n", (unsigned long)header->serialNumber);
   Log_Level(3, "\tlock count %d\n", MXUserCount(&lock->count));
   Log_Level(3, "\taddress of owner data %p\n", (const void *)&lock->owner);
}

static MXUserExclLock *MXUserCreateExclLock(const char *name, MX_Rank rank,
                                            const void *returnAddress)
{
   MXUserExclLock *lock = (MXUserExclLock *)MXUserAlloc(sizeof *lock, "MXUser_CreateExclLock");
   char *copy = MXUserNameCopy(name, 'X', returnAddress, "MXUser_CreateExclLock");
   if (pthread_mutex_init(&lock->mutex, NULL) != 0) {
      Panic("%s: native lock initialization routine failed\n", "MXUser_CreateExclLock");
   }
   lock->owner = MXUSER_INVALID_OWNER;
   lock->count = 0;
   MXUserInitHeader(&lock->header, copy, MXUSER_TYPE_EXCL, rank, MXUserDumpExclLock);
   MXUserAddToList(&lock->header);
   return lock;
}

MXUserExclLock *MXUser_CreateExclLock(const char *name, MX_Rank rank)
{
   return MXUserCreateExclLock(name, rank, __builtin_return_address(0));
}

MXUserExclLock *MXUser_CreateSingletonExclLock(MXUserExclLock **lockStorage, const char *name,
                                               MX_Rank rank)
{
   MXUserExclLock *lock = __atomic_load_n(lockStorage, __ATOMIC_ACQUIRE);
   if (lock == NULL) {
      MXUserExclLock *mine = MXUserCreateExclLock(name, rank, __builtin_return_address(0));
      MXUserExclLock *expected = NULL;
      if (__atomic_compare_exchange_n(lockStorage, &expected, mine, FALSE, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
         lock = mine;
      } else {
         MXUser_DestroyExclLock(mine);
         lock = expected;
      }
   }
   return lock;
}

void MXUser_AcquireExclLock(MXUserExclLock *lock)
{
   MXUserAcquire(&lock->mutex, &lock->count, &lock->owner);
}

Bool MXUser_TryAcquireExclLock(MXUserExclLock *lock)
{
   return MXUserTryAcquire(&lock->mutex, &lock->count, &lock->owner);
}

void MXUser_ReleaseExclLock(MXUserExclLock *lock)
{
   if (!MXUserIsOwner(&lock->count, &lock->owner)) {
      MXUserDumpAndPanic(&lock->header, "%s: Non-owner release of an exclusive lock\n",
                         "MXUser_ReleaseExclLock");
   }
   MXUserRelease(&lock->mutex, &lock->count, &lock->owner);
}

Bool MXUser_IsCurThreadOwnerExclLock(const MXUserExclLock *lock)
{
   return MXUserIsOwner(&lock->count, &lock->owner);
}

void MXUser_DestroyExclLock(MXUserExclLock *lock)
{
   if (lock == NULL) {
      return;
   }
   if (MXUserCount(&lock->count) > 0) {
      MXUserDumpAndPanic(&lock->header, "%s: Destroy of an acquired exclusive lock\n",
                         "MXUser_DestroyExclLock");
   }
   pthread_mutex_destroy(&lock->mutex);
   MXUserRemoveFromList(&lock->header);
   lock->header.signature = 0;
   free(lock->header.name);
   free(lock);
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
   MXUserCondVar *condVar = (MXUserCondVar *)MXUserAlloc(sizeof *condVar, "MXUserCreateCondVar");
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
   return MXUserCreateCondVar(&lock->header, &lock->mutex);
}

MXUserCondVar *MXUser_CreateCondVarExclLock(MXUserExclLock *lock)
{
   return MXUserCreateCondVar(&lock->header, &lock->mutex);
}

static Bool MXUserWaitInternal(MXUserHeader *header, pthread_mutex_t *mutex, int32 *count,
                               pthread_t *owner, MXUserCondVar *condVar, uint32 msecWait)
{
   int err;

   if (condVar->ownerMutex != mutex) {
      MXUserDumpAndPanic(header, "%s: invalid use of lock %s with condVar (0x%p; %s)\n",
                         "MXUserWaitCondVar", header->name, (void *)condVar, condVar->header->name);
   }
   if (!MXUserIsOwner(count, owner)) {
      // Waiting releases a mutex the caller must hold; anything else is
      // undefined behaviour of the native layer.
      MXUserDumpAndPanic(header, "%s: lock %s not held by caller for condVar (0x%p; %s)\n",
                         "MXUserWaitCondVar", header->name, (void *)condVar, condVar->header->name);
   }

   __atomic_add_fetch(&condVar->referenceCount, 1, __ATOMIC_ACQ_REL);
   int32 saved = MXUserCount(count);
   MXUserSetOwner(owner, MXUSER_INVALID_OWNER);
   MXUserSetCount(count, 0);

   if (msecWait != MXUSER_WAIT_INFINITE) {
      struct timeval now;
      struct timespec deadline;
      gettimeofday(&now, NULL);
      uint64 nsec = (uint64)now.tv_usec * 1000 + (uint64)(msecWait % 1000) * 1000000;
      deadline.tv_sec = now.tv_sec + msecWait / 1000 + (time_t)(nsec / 1000000000);
      deadline.tv_nsec = (long)(nsec % 1000000000);
      err = pthread_cond_timedwait(&condVar->condObject, mutex, &deadline);
   } else {
      err = pthread_cond_wait(&condVar->condObject, mutex);
   }

   MXUserSetCount(count, MXUserCount(count) + saved);
   if (MXUserCount(count) == saved) {
      MXUserSetOwner(owner, pthread_self());
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
   MXUserWaitInternal(&lock->header, &lock->mutex, &lock->count, &lock->owner, condVar,
                      MXUSER_WAIT_INFINITE);
}

void MXUser_WaitCondVarExclLock(MXUserExclLock *lock, MXUserCondVar *condVar)
{
   MXUserWaitInternal(&lock->header, &lock->mutex, &lock->count, &lock->owner, condVar,
                      MXUSER_WAIT_INFINITE);
}

Bool MXUser_TimedWaitCondVarRecLock(MXUserRecLock *lock, MXUserCondVar *condVar, uint32 msecWait)
{
   return MXUserWaitInternal(&lock->header, &lock->mutex, &lock->count, &lock->owner, condVar,
                             msecWait);
}

Bool MXUser_TimedWaitCondVarExclLock(MXUserExclLock *lock, MXUserCondVar *condVar, uint32 msecWait)
{
   return MXUserWaitInternal(&lock->header, &lock->mutex, &lock->count, &lock->owner, condVar,
                             msecWait);
}

void MXUser_SignalCondVar(MXUserCondVar *condVar)
{
   int err = pthread_cond_signal(&condVar->condObject);
   if (err != 0) {
      Panic("%s: failure %d on condVar (0x%p; %s) \n", "MXUser_SignalCondVar", err, (void *)condVar,
            condVar->header->name);
   }
}

void MXUser_BroadcastCondVar(MXUserCondVar *condVar)
{
   int err = pthread_cond_broadcast(&condVar->condObject);
   if (err != 0) {
      Panic("%s: failure %d on condVar (0x%p; %s) \n", "MXUser_BroadcastCondVar", err,
            (void *)condVar, condVar->header->name);
   }
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
