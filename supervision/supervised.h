/// Supervised<Process>: the only form in which a ProcessObject or one of its
/// subclasses can be created and destroyed. Its destructor runs
/// finishSupervision() before any member of Process or of the classes below
/// it goes, so no onStarted or onExitCb still running can reach a destroyed
/// member, and no subclass has to remember to do it.
///
///     Supervised<RdeProcess> proc("name", rid, outFd);
///
/// Threads and locks are those of Process. Must not be destroyed from its
/// own callbacks.
#ifndef SUPERVISION_SUPERVISED_H
#define SUPERVISION_SUPERVISED_H

#include <utility>

#include "supervision/processObject.h"

template <class Process> class Supervised final : public Process
{
 public:
   /// Builds Process from the arguments given.
   template <class... A> explicit Supervised(A &&...a) : Process(std::forward<A>(a)...) {}
   /// Stops the child and waits for the monitor and every onExitCb.
   ~Supervised() override { this->finishSupervision(); }

 private:
   typename Process::SupervisedKey supervised() override { return {}; }
};

#endif
