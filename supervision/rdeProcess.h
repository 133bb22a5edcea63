/// RdeProcess: the agent's supervised child. It hands the started child a
/// token on its standard input (start it with input mode kStdinPipe) and
/// can start the child again whenever it ends. Created as
/// Supervised<RdeProcess> (supervised.h).
///
/// Locks: its own recursive lock "RdeProcess" guards the auto-restart flag
/// and the token. The rest is as ProcessObject.
#ifndef SUPERVISION_RDEPROCESS_H
#define SUPERVISION_RDEPROCESS_H

#include <string>

#include "supervision/processObject.h"

class RdeProcess : public ProcessObject
{
 public:
   /// Input mode 0 until start names one; `outFd` as for ProcessObject.
   RdeProcess(const std::string &name, int rid, int outFd);

   void setAutoRestart(bool autoRestart);
   bool getAutoRestart() const;
   /// Sent once, by the next onStarted, then cleared.
   void setToken(const std::string &token);

   /// Sends the token, if any, on the child's input; when that fails logs
   /// it and sends SIGTERM (without waiting).
   void onStarted() override;
   /// For "ZIVAdudaz" unmounts its ~/tsclient first; then, with
   /// auto-restart set and no child running, starts the child again.
   void onExitCb() override;

 protected:
   ~RdeProcess() override;

 private:
   MXUserRecLock *mRdeLock;
   bool mAutoRestart = false;
   std::string mToken;
};

#endif
