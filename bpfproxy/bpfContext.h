/// Proxy control on a live interface: attaches the proxy's programs with tc,
/// removes them again, and builds the context that represents them.
/// Not thread safe: one thread at a time per context.
#ifndef BPFPROXY_BPFCONTEXT_H
#define BPFPROXY_BPFCONTEXT_H

#include <setjmp.h>

#include <string>

#include "bpfproxy/bpfMapRegistry.h"

class BpfContext : public BpfMapRegistry
{
 public:
   /// Reads BpfProxy.Enabled (default true) and looks up the interface that
   /// carries `ip` (IPv4 or IPv6 text), logging the outcome; mNic stays empty
   /// when no interface has the address.
   explicit BpfContext(const std::string &ip);
   /// Detaches: runs RemoveBpfProg.
   ~BpfContext() override;

   /// Attaches the "egress" and "ingress" sections of the object at
   /// `objPath` to mNic, adding a clsact discipline unless one is listed.
   /// Returns 0 when attached or when the proxy is disabled (nothing is
   /// run), -1 for an empty mNic or the first tc line that cannot be
   /// started or exits non-zero; earlier steps are not undone.
   int LoadBpfProg(const std::string &objPath);

   /// Deletes the egress, then the ingress filters of mNic and, when both
   /// deletions succeeded, unlinks the five pins. Failures are logged at
   /// level 2 and stop the sequence. Runs whatever mEnabled says.
   void RemoveBpfProg();

   const std::string &GetNic() const { return mNic; }
   bool IsEnabled() const { return mEnabled; }

   /// Sets (or, with null, clears) the embedding component's jump point: a
   /// SIGTERM handled by the callback that BpfProxyInit registers jumps
   /// there with value 1. Establish it with sigsetjmp(point, 1) so that the
   /// signal mask is restored by the jump. Without a point the callback
   /// lets SIGTERM take its default action.
   static void SetTermJumpPoint(sigjmp_buf *point);

 protected:
   std::string mNic;
   bool mEnabled;

 private:
   /// Runs one tc line with the status form, appending its output to
   /// `output`; true only when it started and exited with status 0.
   static bool RunTc(const std::string &cmd, std::string &output);
};

/// Builds a context for the one non-empty address of `ipv6` and `ipv4`,
/// clears what an earlier run left, attaches the object at `objPath`, opens
/// the five maps and registers the SIGTERM callback with the signal module
/// (which the caller must have set up for SIGTERM: otherwise the
/// registration panics). Returns a context the caller owns and deletes
/// (which detaches), or null after logging why.
BpfContext *BpfProxyInit(const std::string &objPath, const std::string &ipv6,
                         const std::string &ipv4);

#endif
