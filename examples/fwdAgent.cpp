// An example agent: attaches the proxy to the interface that carries an
// address, registers a worker port and labels, serves the worker port over
// TCP and UDP (echoing what arrives), and detaches when SIGTERM arrives.
//
//    fwd_agent <object> <address> <worker port> [<label>=<port> ...]
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bpfproxy/bpfContext.h"
#include "lib/config/preference.h"
#include "lib/sig/sig.h"

namespace {

sigjmp_buf gTermPoint;
BpfContext *volatile gContext = nullptr;

bool ParsePort(const char *text, uint16_t &port)
{
   char *end = nullptr;
   errno = 0;
   unsigned long v = strtoul(text, &end, 10);
   if (errno != 0 || end == text || *end != '\0' || v == 0 || v > 65535) {
      return false;
   }
   port = static_cast<uint16_t>(v);
   return true;
}

bool ParseLabel(const char *text, uint32_t &label, uint16_t &port)
{
   const char *eq = strchr(text, '=');
   if (eq == nullptr) {
      return false;
   }
   std::string head(text, eq);
   char *end = nullptr;
   errno = 0;
   unsigned long long v = strtoull(head.c_str(), &end, 0);
   if (errno != 0 || head.empty() || *end != '\0' || v > 0xFFFFFFFFull) {
      return false;
   }
   label = static_cast<uint32_t>(v);
   return ParsePort(eq + 1, port);
}

// Binds a socket of `type` to the worker port on `address`; -1 on failure.
int OpenServer(const std::string &address, uint16_t port, int type)
{
   struct sockaddr_storage ss;
   memset(&ss, 0, sizeof ss);
   socklen_t len;
   auto *sin = reinterpret_cast<struct sockaddr_in *>(&ss);
   auto *sin6 = reinterpret_cast<struct sockaddr_in6 *>(&ss);
   if (inet_pton(AF_INET, address.c_str(), &sin->sin_addr) == 1) {
      sin->sin_family = AF_INET;
      sin->sin_port = htons(port);
      len = sizeof *sin;
   } else if (inet_pton(AF_INET6, address.c_str(), &sin6->sin6_addr) == 1) {
      sin6->sin6_family = AF_INET6;
      sin6->sin6_port = htons(port);
      len = sizeof *sin6;
   } else {
      return -1;
   }
   int fd = socket(ss.ss_family, type | SOCK_CLOEXEC, 0);
   int one = 1;
   if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
       bind(fd, reinterpret_cast<struct sockaddr *>(&ss), len) != 0 ||
       (type == SOCK_STREAM && listen(fd, 8) != 0)) {
      if (fd >= 0) {
         close(fd);
      }
      return -1;
   }
   return fd;
}

// Echoes traffic until SIGTERM, which is let in only while waiting here:
// the jump then never leaves a half-done library call behind.
void Serve(int tcp, int udp, const sigset_t &waitMask)
{
   std::vector<struct pollfd> fds = {{tcp, POLLIN, 0}, {udp, POLLIN, 0}};
   char buf[2048];
   for (;;) {
      if (ppoll(fds.data(), fds.size(), nullptr, &waitMask) < 0) {
         if (errno == EINTR) {
            continue;
         }
         perror("agent: ppoll");
         return;
      }
      for (size_t i = 0; i < fds.size(); i++) {
         if (fds[i].revents == 0) {
            continue;
         }
         if (fds[i].fd == tcp) {
            int c = accept4(tcp, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
               fds.push_back({c, POLLIN, 0});
            }
         } else if (fds[i].fd == udp) {
            struct sockaddr_storage from;
            socklen_t fromLen = sizeof from;
            ssize_t n = recvfrom(udp, buf, sizeof buf, 0, (struct sockaddr *)&from, &fromLen);
            if (n > 0) {
               sendto(udp, buf, n, 0, (struct sockaddr *)&from, fromLen);
            }
         } else {
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0 && write(fds[i].fd, buf, n) == n) {
               continue;
            }
            close(fds[i].fd);
            fds.erase(fds.begin() + i);
            i--;
         }
      }
   }
}

} // namespace

int main(int argc, char **argv)
{
   if (argc < 4) {
      fprintf(stderr, "usage: fwd_agent <object> <address> <worker port> [<label>=<port> ...]\n");
      return 2;
   }
   const std::string object = argv[1];
   const std::string address = argv[2];
   uint16_t workerPort;
   if (!ParsePort(argv[3], workerPort)) {
      fprintf(stderr, "agent: bad worker port: %s\n", argv[3]);
      return 2;
   }
   std::vector<std::pair<uint32_t, uint16_t>> labels;
   for (int i = 4; i < argc; i++) {
      uint32_t label;
      uint16_t port;
      if (!ParseLabel(argv[i], label, port)) {
         fprintf(stderr, "agent: bad label, want <label>=<port>: %s\n", argv[i]);
         return 2;
      }
      labels.emplace_back(label, port);
   }

   Preference_Init();
   atexit(Preference_Exit);
   const int handled[] = {SIGTERM};
   if (!Sig_Init(handled, 1)) {
      fprintf(stderr, "agent: cannot handle SIGTERM\n");
      return 1;
   }
   // Keep SIGTERM blocked outside the wait; the jump restores this mask.
   sigset_t term, waitMask;
   sigemptyset(&term);
   sigaddset(&term, SIGTERM);
   sigprocmask(SIG_BLOCK, &term, &waitMask);
   sigdelset(&waitMask, SIGTERM);

   int jumped = sigsetjmp(gTermPoint, 1);
   if (jumped != 0) {
      printf("agent: SIGTERM: back at the jump point with %d; detaching from %s\n", jumped,
             gContext->GetNic().c_str());
      delete gContext;
      printf("agent: detached\n");
      return 0;
   }
   const bool v6 = address.find(':') != std::string::npos;
   gContext = BpfProxyInit(object, v6 ? address : "", v6 ? "" : address);
   if (gContext == nullptr) {
      fprintf(stderr, "agent: attaching the proxy for %s failed\n", address.c_str());
      return 1;
   }
   BpfContext::SetTermJumpPoint(&gTermPoint);
   printf("agent: proxy attached to %s (egress and ingress)\n", gContext->GetNic().c_str());

   int rc = gContext->AddWorkerPort(htons(workerPort));
   printf("agent: worker port %u registered: %s\n", workerPort, rc == 0 ? "ok" : strerror(-rc));
   for (const auto &l : labels) {
      rc = gContext->SetLabelPort(l.first, htons(l.second));
      printf("agent: label 0x%x -> port %u registered: %s\n", l.first, l.second,
             rc == 0 ? "ok" : strerror(-rc));
   }
   int tcp = OpenServer(address, workerPort, SOCK_STREAM);
   int udp = OpenServer(address, workerPort, SOCK_DGRAM);
   if (tcp < 0 || udp < 0) {
      perror("agent: cannot serve the worker port");
      delete gContext;
      return 1;
   }
   printf("agent: serving %s port %u (tcp and udp); SIGTERM detaches\n", address.c_str(),
          workerPort);
   fflush(stdout);
   Serve(tcp, udp, waitMask);
   delete gContext;
   return 1;
}
