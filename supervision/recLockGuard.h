/// RecLockGuard: holds a recursive lock of the run-time library for one
/// scope. Takes the lock it is given; not thread safe itself (one scope,
/// one thread).
#ifndef SUPERVISION_RECLOCKGUARD_H
#define SUPERVISION_RECLOCKGUARD_H

#include "lib/lock/userlock.h"

class RecLockGuard
{
 public:
   explicit RecLockGuard(MXUserRecLock *lock) : mLock(lock) { MXUser_AcquireRecLock(mLock); }
   ~RecLockGuard() { MXUser_ReleaseRecLock(mLock); }
   RecLockGuard(const RecLockGuard &) = delete;
   RecLockGuard &operator=(const RecLockGuard &) = delete;

 private:
   MXUserRecLock *mLock;
};

#endif
