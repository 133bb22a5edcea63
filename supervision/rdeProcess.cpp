#include "supervision/rdeProcess.h"

#include "common/commonUtils.h"
#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "supervision/recLockGuard.h"

RdeProcess::RdeProcess(const std::string &name, int rid, int outFd)
    : ProcessObject(name, rid, kNoInput, outFd), mRdeLock(MXUser_CreateRecLock("RdeProcess", 0))
{
}

RdeProcess::~RdeProcess()
{
   MXUser_DestroyRecLock(mRdeLock);
}

void RdeProcess::setAutoRestart(bool autoRestart)
{
   RecLockGuard guard(mRdeLock);
   mAutoRestart = autoRestart;
}

bool RdeProcess::getAutoRestart() const
{
   RecLockGuard guard(mRdeLock);
   return mAutoRestart;
}

void RdeProcess::setToken(const std::string &token)
{
   RecLockGuard guard(mRdeLock);
   mToken = token;
}

void RdeProcess::onStarted()
{
   std::string token;
   {
      RecLockGuard guard(mRdeLock);
      token.swap(mToken);
   }
   if (token.empty()) {
      return;
   }
   if (!ProcessObject::sendMessage(token)) {
      Log_Level(2, "onStarted: Failed to send the ipctoken to the user interface process %s.\n",
                getName().c_str());
      stop(false, 2000);
   }
}

void RdeProcess::onExitCb()
{
   if (getName() == "ZIVAdudaz") {
      CommonUtils::ExecShell("fusermount -u -z ~/tsclient", true);
   }
   if (getAutoRestart() && getPid() <= 0) {
      Log_Level(5, "%s Process %s will restart at onExitCb", "onExitCb", getName().c_str());
      startProcess();
   }
}
