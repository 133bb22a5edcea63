#include "bpfproxy/bpfContext.h"

#include <signal.h>

#include <atomic>

#include "bpfproxy/nicLookup.h"
#include "common/commonUtils.h"
#include "lib/config/config.h"
#include "lib/log/log.h"
#include "lib/misc/threadState.h"
#include "lib/sig/sig.h"

namespace {

std::atomic<sigjmp_buf *> gTermJumpPoint{nullptr};

void BpfProxyTermCallback(int sig, siginfo_t *, void *)
{
   sigjmp_buf *point = gTermJumpPoint.load();
   if (point == nullptr) {
      // Nowhere to return to: terminate as an unhandled SIGTERM would.
      signal(sig, SIG_DFL);
      raise(sig);
      return;
   }
   // The jump never comes back through the signal module: leave the handler here.
   ThreadState_LeaveSignalHandler();
   siglongjmp(*point, 1);
}

} // namespace

BpfContext::BpfContext(const std::string &ip) : mEnabled(true)
{
   mEnabled = Config_GetBool(TRUE, "BpfProxy.Enabled") != FALSE;
   std::string nic;
   if (getNicFromIp(ip, nic) != 0) {
      Log_Level(2, "%s getNicFromIp err. ip %s\n", "BpfContext", ip.c_str());
   } else {
      Log_Level(5, "%s getNicFromIp nic %s\n", "BpfContext", nic.c_str());
      mNic = nic;
   }
}

BpfContext::~BpfContext()
{
   RemoveBpfProg();
}

bool BpfContext::RunTc(const std::string &cmd, std::string &output)
{
   int status = -1;
   return CommonUtils::ExecShell(cmd, output, status) && status == 0;
}

int BpfContext::LoadBpfProg(const std::string &objPath)
{
   if (!mEnabled) {
      Log_Level(5, "BpfProxy is disabled\n");
      return 0;
   }
   if (mNic.empty()) {
      Log_Level(2, "BpfProxy mNic shall not be empty\n");
      return -1;
   }
   // Names and paths reach the shell as single words, never as syntax.
   const std::string nic = CommonUtils::ShellQuote(mNic);
   const std::string obj = CommonUtils::ShellQuote(objPath);
   std::string output;
   if (!RunTc("tc qdisc show dev " + nic, output)) {
      return -1;
   }
   if (output.find("clsact") == std::string::npos &&
       !RunTc("tc qdisc add dev " + nic + " clsact", output)) {
      return -1;
   }
   if (!RunTc("tc filter add dev " + nic + " egress bpf da obj " + obj + " sec egress", output)) {
      return -1;
   }
   return RunTc("tc filter add dev " + nic + " ingress bpf da obj " + obj + " sec ingress", output)
              ? 0
              : -1;
}

void BpfContext::RemoveBpfProg()
{
   const std::string nic = CommonUtils::ShellQuote(mNic);
   std::string output;
   if (!RunTc("tc filter del dev " + nic + " egress", output)) {
      Log_Level(2, "remove bpf prog egress failed\n");
      return;
   }
   if (!RunTc("tc filter del dev " + nic + " ingress", output)) {
      Log_Level(2, "remove bpf prog ingress failed\n");
      return;
   }
   UnpinAllMaps();
}

void BpfContext::SetTermJumpPoint(sigjmp_buf *point)
{
   gTermJumpPoint.store(point);
}

BpfContext *BpfProxyInit(const std::string &objPath, const std::string &ipv6,
                         const std::string &ipv4)
{
   if (ipv6.empty() == ipv4.empty()) {
      Log_Level(2, "ipv6 and ipv4 address are of the same emptiness\n");
      return nullptr;
   }
   BpfContext *ctx = new BpfContext(ipv6.empty() ? ipv4 : ipv6);
   ctx->RemoveBpfProg();
   if (ctx->LoadBpfProg(objPath) != 0) {
      Log_Level(2, "load Bpf prog failed\n");
      delete ctx;
      return nullptr;
   }
   Log_Level(5, "%s load Bpf prog ok\n", "BpfProxyInit");
   if (ctx->OpenAllMaps() != 0) {
      delete ctx;
      Log_Level(2, "open Bpf map failed\n");
      return nullptr;
   }
   Sig_Callback(SIGTERM, SIG_IMMEDIATELY, BpfProxyTermCallback, nullptr);
   return ctx;
}
