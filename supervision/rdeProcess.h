/// RdeProcess: the agent's supervised child. It hands the started child a
/// token on its standard input (start it with input mode kStdinPipe) and
/// can start the child again whenever it ends.
///
/// Locks: its own recursive lock "RdeProcess" guards the auto-restart flag
/// and the token; setRid takes the base lock "ProcessObject". The rest is
/// as ProcessObject. Destruction stops the child and waits for the
/// callbacks before any of this class's members go.
#ifndef SUPERVISION_RDEPROCESS_H
#define SUPERVISION_RDEPROCESS_H

#include <string>

#include "supervision/processObject.h"

class RdeProcess : public ProcessObject
{
 public:
   /// Input mode 0 until start names one; `outFd` as for ProcessObject.
   RdeProcess(const std::string &name, int rid, int outFd);
   ~RdeProcess() override;

   void setAutoRestart(bool autoRestart);
   bool getAutoRestart() const;
   void setRid(int rid);
   /// Sent once, by the next onStarted, then cleared.
   void setToken(const std::string &token);

   /// Sends the token, if any, on the child's input; when that fails logs
   /// it and sends SIGTERM (without waiting).
   void onStarted() override;
   /// For "ZIVAdudaz" unmounts its ~/tsclient first; then, with
   /// auto-restart set and no child running, starts the child again.
   void onExitCb() override;

 private:
   MXUserRecLock *mRdeLock;
   bool mAutoRestart = false;
   std::string mToken;
};

#endif
