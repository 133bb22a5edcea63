/// Named, ranked locks of the run-time library: recursive and exclusive locks
/// over POSIX mutexes, and condition variables bound to one lock.
///
/// Every lock carries a name, a type signature, a rank (stored and dumped,
/// never compared) and a serial number, and sits in one process-wide list.
/// The owning thread may re-acquire a lock it holds; it must release it as
/// many times as it acquired it. Every misuse (destroying a held lock,
/// releasing a lock the caller does not hold, waiting on a condition variable
/// with the wrong lock) dumps the lock into the log at level 3 and ends the
/// process through Panic. None of these operations returns an error.
#ifndef LIB_LOCK_USERLOCK_H
#define LIB_LOCK_USERLOCK_H

#include <stdarg.h>

#include "lib/misc/basicTypes.h"

typedef uint32 MX_Rank;

/// Ranks of the run-time library's own locks.
#define RANK_preferenceLock 0xF0007100U
#define RANK_logLock 0xFF000002U
#define RANK_msgLock 0xFEFFFFFFU
#define RANK_alignedPoolLock 0xFF000000U
#define RANK_coreDumpRegions 0xFF000000U
#define RANK_getSafeTmpDirLock 0xF0007087U
#define RANK_UNRANKED 0U

/// Lock kinds, the top four bits of a signature.
#define MXUSER_TYPE_REC 2U
#define MXUSER_TYPE_EXCL 4U
#define MXUSER_TYPE_CONDVAR 6U

/// Passed as a time-out: wait without a deadline.
#define MXUSER_WAIT_INFINITE 0xFFFFFFFFU

typedef struct MXUserRecLock MXUserRecLock;
typedef struct MXUserExclLock MXUserExclLock;
typedef struct MXUserCondVar MXUserCondVar;

/* Recursive locks. */

/// Creates a free recursive lock with a reference count of 1. A null name
/// becomes "R-%p" with the caller's return address. The name is copied.
MXUserRecLock *MXUser_CreateRecLock(const char *name, MX_Rank rank);
/// Returns the lock stored at *lockStorage, creating and installing one with
/// a compare-and-swap when there is none. Of two racing creators, the loser
/// drops its own lock and both return the installed one.
MXUserRecLock *MXUser_CreateSingletonRecLock(MXUserRecLock **lockStorage, const char *name,
                                             MX_Rank rank);
/// Blocks until the calling thread holds the lock; re-entrant.
void MXUser_AcquireRecLock(MXUserRecLock *lock);
/// Like acquire, but returns FALSE at once when another thread holds it.
Bool MXUser_TryAcquireRecLock(MXUserRecLock *lock);
/// Undoes one acquire; the last one frees the lock for other threads.
/// Panics when the calling thread does not hold the lock.
void MXUser_ReleaseRecLock(MXUserRecLock *lock);
/// TRUE when the calling thread holds the lock.
Bool MXUser_IsCurThreadOwnerRecLock(const MXUserRecLock *lock);
/// Adds a reference; every reference is dropped with MXUser_DestroyRecLock.
void MXUser_IncRefRecLock(MXUserRecLock *lock);
/// Drops a reference; the last one destroys the lock, which must be free
/// then (a held lock is a misuse and panics).
void MXUser_DestroyRecLock(MXUserRecLock *lock);
/// Logs the lock's fields at level 3.
void MXUser_DumpRecLock(const MXUserRecLock *lock);
/// The lock's name, serial number and signature (owned by the lock).
const char *MXUser_GetRecLockName(const MXUserRecLock *lock);
uint64 MXUser_GetRecLockSerialNumber(const MXUserRecLock *lock);
uint32 MXUser_GetRecLockSignature(const MXUserRecLock *lock);
/// The current acquire count (0 when free); meaningful to the owner only.
int32 MXUser_GetRecLockCount(const MXUserRecLock *lock);

/* Exclusive locks: the same rules, without reference counting. */

/// Creates a free exclusive lock. A null name becomes "X-%p" with the
/// caller's return address. The name is copied.
MXUserExclLock *MXUser_CreateExclLock(const char *name, MX_Rank rank);
/// Same rule as MXUser_CreateSingletonRecLock; the loser destroys its copy.
MXUserExclLock *MXUser_CreateSingletonExclLock(MXUserExclLock **lockStorage, const char *name,
                                               MX_Rank rank);
/// Blocks until the calling thread holds the lock. An owner that acquires
/// again only counts the acquire and must release as often.
void MXUser_AcquireExclLock(MXUserExclLock *lock);
Bool MXUser_TryAcquireExclLock(MXUserExclLock *lock);
/// Panics when the calling thread does not hold the lock.
void MXUser_ReleaseExclLock(MXUserExclLock *lock);
Bool MXUser_IsCurThreadOwnerExclLock(const MXUserExclLock *lock);
/// Destroys a free lock; a held lock is a misuse and panics. Null is ignored.
void MXUser_DestroyExclLock(MXUserExclLock *lock);
void MXUser_DumpExclLock(const MXUserExclLock *lock);
const char *MXUser_GetExclLockName(const MXUserExclLock *lock);
uint64 MXUser_GetExclLockSerialNumber(const MXUserExclLock *lock);
uint32 MXUser_GetExclLockSignature(const MXUserExclLock *lock);

/* Condition variables, each bound to the lock it was created for. */

MXUserCondVar *MXUser_CreateCondVarRecLock(MXUserRecLock *lock);
MXUserCondVar *MXUser_CreateCondVarExclLock(MXUserExclLock *lock);
/// Waits for a signal. The caller must hold the lock (at any depth); the
/// lock is released completely while waiting and comes back with the
/// caller's former count. Spurious wake-ups are possible: re-check the
/// condition. Panics when the condition variable belongs to another lock or
/// the caller does not hold the lock.
void MXUser_WaitCondVarRecLock(MXUserRecLock *lock, MXUserCondVar *condVar);
void MXUser_WaitCondVarExclLock(MXUserExclLock *lock, MXUserCondVar *condVar);
/// As the plain wait, for at most msecWait milliseconds
/// (MXUSER_WAIT_INFINITE: no limit). Returns FALSE when the time ran out,
/// TRUE when woken; the lock is held again with its former count either way.
Bool MXUser_TimedWaitCondVarRecLock(MXUserRecLock *lock, MXUserCondVar *condVar, uint32 msecWait);
Bool MXUser_TimedWaitCondVarExclLock(MXUserExclLock *lock, MXUserCondVar *condVar, uint32 msecWait);
/// Wakes one waiter, or all of them.
void MXUser_SignalCondVar(MXUserCondVar *condVar);
void MXUser_BroadcastCondVar(MXUserCondVar *condVar);
/// Destroys a condition variable nobody waits on (else panics). Null is
/// ignored.
void MXUser_DestroyCondVar(MXUserCondVar *condVar);

/* Panic state. */

/// Marks the lock module as panicking. The panic path calls this first.
void MXUser_SetInPanic(const char *fmt, ...) PRINTF_DECL(1, 2);
void MXUser_SetInPanicV(const char *fmt, va_list args) PRINTF_DECL(1, 0);
/// TRUE once MXUser_SetInPanic has run.
Bool MXUser_InPanic(void);

/* The process-wide lock list. */

/// Number of locks currently in the process-wide list.
uint32 MXUser_LockCount(void);
/// Calls visit(serialNumber, name, data) for each listed lock, oldest first,
/// under the list guard: visit must not create or destroy locks.
void MXUser_ForEachLock(void (*visit)(uint64 serialNumber, const char *name, void *data),
                        void *data);

#endif
