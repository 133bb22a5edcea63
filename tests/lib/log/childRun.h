// Runs a function in a forked child and collects how it ended and what it
// wrote to standard error, for tests of paths that end the process.
#ifndef TESTS_LIB_LOG_CHILDRUN_H
#define TESTS_LIB_LOG_CHILDRUN_H

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

struct ChildResult
{
   bool exited = false;
   int status = -1; // exit status when exited
   std::string err; // everything written to standard error
};

inline ChildResult RunInChild(const std::function<void()> &body)
{
   ChildResult result;
   int fds[2];
   if (pipe(fds) != 0) {
      return result;
   }
   pid_t pid = fork();
   if (pid == 0) {
      close(fds[0]);
      dup2(fds[1], STDERR_FILENO);
      close(fds[1]);
      body();
      _exit(0);
   }
   close(fds[1]);
   char buf[4096];
   ssize_t n;
   while ((n = read(fds[0], buf, sizeof buf)) > 0) {
      result.err.append(buf, (size_t)n);
   }
   close(fds[0]);
   int wstatus = 0;
   if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
      result.exited = true;
      result.status = WEXITSTATUS(wstatus);
   }
   return result;
}

#endif
