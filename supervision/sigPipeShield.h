/// SigPipeShield: makes a write to a pipe whose reader has gone fail with
/// EPIPE instead of killing the process with SIGPIPE. Children of a
/// supervisor end whenever they like, so everything here that writes
/// towards one arms the shield first.
///
/// Arming is process-wide and happens once: when SIGPIPE still has its
/// default action, a handler that does nothing is installed. A handler
/// (unlike ignoring the signal) is reset by exec, so started programs keep
/// the default. A disposition the program chose itself is left alone.
/// Thread safe; costs no system call after the first time.
#ifndef SUPERVISION_SIGPIPESHIELD_H
#define SUPERVISION_SIGPIPESHIELD_H

class SigPipeShield
{
 public:
   SigPipeShield() = delete;
   static void Arm();
};

#endif
