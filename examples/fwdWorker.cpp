// The example agent's worker: serves the worker port over TCP and UDP,
// echoing what arrives, after telling its supervisor the port it bound.
//
//    fwd_worker <address> <port>
//
// Started by fwd_agent, it finds its token in FWD_WORKER_TOKEN and the
// supervisor's message pipe on descriptor 3; what it prints reaches the
// agent's log. SIGTERM (the default action) ends it, and so does the end
// of the agent.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "examples/portText.h"
#include "supervision/pipeConnection.h"

namespace {

/// Where the supervisor reads this worker's messages.
constexpr int kMessageFd = 3;

// Binds a socket of `type` to `port` on `address`; -1 on failure.
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
   // SO_REUSEADDR: a restarted worker binds again while the connections of
   // the one before are still in TIME_WAIT.
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

// Echoes traffic until a signal ends the process, or (status 0) until the agent has
// gone: the write end of a pipe without readers polls as an error.
int Serve(int tcp, int udp, int supervisor)
{
   std::vector<struct pollfd> fds = {{supervisor, 0, 0}, {tcp, POLLIN, 0}, {udp, POLLIN, 0}};
   char buf[2048];
   for (;;) {
      if (poll(fds.data(), fds.size(), -1) < 0) {
         if (errno == EINTR) {
            continue;
         }
         perror("fwd_worker: poll");
         return 1;
      }
      for (size_t i = 0; i < fds.size(); i++) {
         if (fds[i].revents == 0) {
            continue;
         }
         if (fds[i].fd == supervisor) {
            printf("fwd_worker: the agent has gone; exiting\n");
            return 0;
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
   uint16_t port;
   if (argc != 3 || !ParsePort(argv[2], port)) {
      fprintf(stderr, "usage: fwd_worker <address> <port>\n");
      return 2;
   }
   const char *token = getenv("FWD_WORKER_TOKEN");
   if (token == nullptr || token[0] == '\0') {
      fprintf(stderr, "fwd_worker: no token in FWD_WORKER_TOKEN; run me from fwd_agent\n");
      return 2;
   }
   int tcp = OpenServer(argv[1], port, SOCK_STREAM);
   int udp = OpenServer(argv[1], port, SOCK_DGRAM);
   if (tcp < 0 || udp < 0) {
      fprintf(stderr, "fwd_worker: cannot serve %s port %u: %s\n", argv[1], port, strerror(errno));
      return 1;
   }
   // Kept open while serving: it tells when the agent has gone.
   PipeConnection supervisor(-1, kMessageFd);
   {
      // The token proves to the agent that the message is its worker's.
      std::string message = "{\"port\": " + std::to_string(port) +
                            ", \"pid\": " + std::to_string(getpid()) + ", \"password\": \"" +
                            token + "\"}";
      if (!supervisor.sendMsg(message)) {
         fprintf(stderr, "fwd_worker: cannot tell the agent my port: %s\n", strerror(errno));
         return 1;
      }
   }
   printf("fwd_worker: serving %s port %u (tcp and udp), pid %d\n", argv[1], port, getpid());
   fflush(stdout);
   return Serve(tcp, udp, kMessageFd);
}
