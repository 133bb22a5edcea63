#include "support/childProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fwdtest {

namespace {

std::vector<char *> ArgvOf(const std::vector<std::string> &argv)
{
   std::vector<char *> args;
   for (const std::string &a : argv) {
      args.push_back(const_cast<char *>(a.c_str()));
   }
   args.push_back(nullptr);
   return args;
}

void CloseIfSet(int &fd)
{
   if (fd >= 0) {
      close(fd);
      fd = -1;
   }
}

// In the child: standard streams from `io` and the pipes, every other pipe
// end closed so that the parent sees the ends of the streams.
void WireChild(const ChildIo &io, int inPipe[2], int outPipe[2], int errPipe[2])
{
   int in = inPipe[0] >= 0 ? inPipe[0] : open("/dev/null", O_RDONLY);
   int out = io.stdoutPath.empty()
                 ? outPipe[1]
                 : open(io.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
   dup2(in, STDIN_FILENO);
   dup2(out, STDOUT_FILENO);
   dup2(errPipe[1], STDERR_FILENO);
   for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      if (fd > STDERR_FILENO) {
         close(fd);
      }
   }
}

// Feeds the input and collects both outputs until the child closes them.
void Pump(const std::string &input, int inFd, int outFd, int errFd, ChildResult &result)
{
   struct pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
   std::string *sinks[2] = {&result.out, &result.err};
   size_t fed = 0;
   while (fds[0].fd >= 0 || fds[1].fd >= 0) {
      if (poll(fds, 3, -1) < 0) {
         if (errno == EINTR) {
            continue;
         }
         break;
      }
      for (int i = 0; i < 2; i++) {
         if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[65536];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
               sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
               CloseIfSet(fds[i].fd);
            }
         }
      }
      if (fds[2].fd >= 0 && fds[2].revents != 0) {
         ssize_t n = write(fds[2].fd, input.data() + fed, input.size() - fed);
         fed += n > 0 ? static_cast<size_t>(n) : 0;
         // A child that stops reading gets the rest never.
         if (fed == input.size() || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            CloseIfSet(fds[2].fd);
         }
      }
   }
   CloseIfSet(fds[2].fd);
}

} // namespace

ChildResult RunInChild(const std::function<void()> &body, const ChildIo &io)
{
   ChildResult result;
   int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
   if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 ||
       (!io.input.empty() && pipe2(inPipe, O_CLOEXEC) != 0)) {
      result.err = std::string("pipe: ") + strerror(errno);
      for (int *fd : {&inPipe[0], &inPipe[1], &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1]}) {
         CloseIfSet(*fd);
      }
      return result;
   }
   // Buffered output would otherwise be written by both processes.
   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0) {
      WireChild(io, inPipe, outPipe, errPipe);
      body();
      fflush(nullptr);
      _exit(0);
   }
   CloseIfSet(inPipe[0]);
   CloseIfSet(outPipe[1]);
   CloseIfSet(errPipe[1]);
   if (pid < 0) {
      result.err = std::string("fork: ") + strerror(errno);
   } else {
      // The write end never blocks the pump; a child that exits unread must
      // not kill this process with SIGPIPE.
      if (inPipe[1] >= 0) {
         fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
      }
      void (*oldPipe)(int) = signal(SIGPIPE, SIG_IGN);
      Pump(io.input, inPipe[1], outPipe[0], errPipe[0], result);
      signal(SIGPIPE, oldPipe);
      inPipe[1] = outPipe[0] = errPipe[0] = -1;
      int wstatus = 0;
      pid_t got;
      while ((got = waitpid(pid, &wstatus, 0)) < 0 && errno == EINTR) {
      }
      if (got == pid) {
         result.exited = WIFEXITED(wstatus);
         result.status = result.exited ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
      }
   }
   for (int *fd : {&inPipe[1], &outPipe[0], &errPipe[0]}) {
      CloseIfSet(*fd);
   }
   return result;
}

ChildResult RunProcess(const std::vector<std::string> &argv, const std::string &stdoutPath)
{
   // Built before the fork: the child only execs.
   std::vector<char *> args = ArgvOf(argv);
   ChildIo io;
   io.stdoutPath = stdoutPath;
   return RunInChild(
       [&args] {
          execv(args[0], args.data());
          _exit(127);
       },
       io);
}

pid_t StartProcess(const std::vector<std::string> &argv, const std::string &logPath)
{
   std::vector<char *> args = ArgvOf(argv);
   pid_t pid = fork();
   if (pid == 0) {
      // Close-on-exec: the program gets them only as its standard streams.
      int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
      int log = logPath.empty()
                    ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                    : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      dup2(in, 0);
      dup2(log, 1);
      dup2(log, 2);
      execv(args[0], args.data());
      _exit(127);
   }
   return pid;
}

int StopProcess(pid_t pid, int sig)
{
   int wstatus = 0;
   if (pid <= 0 || kill(pid, sig) != 0 || waitpid(pid, &wstatus, 0) != pid) {
      return -1;
   }
   return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

} // namespace fwdtest
