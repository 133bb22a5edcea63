/// Supervised<Process>: the form in which an owner creates a supervised
/// process object. Its destructor finishes supervision (stops the child and
/// waits for the monitor and every callback) before any member of Process or
/// its bases is destroyed, so no subclass has to remember to do so itself.
#ifndef SUPERVISION_SUPERVISED_H
#define SUPERVISION_SUPERVISED_H

#include <utility>

template <class Process> class Supervised final : public Process
{
 public:
   template <class... A> explicit Supervised(A &&...a) : Process(std::forward<A>(a)...) {}
   ~Supervised() override { this->finishSupervision(); }
};

#endif
