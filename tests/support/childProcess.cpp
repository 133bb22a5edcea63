#include "support/childProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

namespace fwdtest {

namespace {

// Runs `body` in a forked child with `in`, `out` and `err` as its standard
// streams; the child exits 0 when `body` returns.
pid_t Fork(const std::function<void()> &body, int in, int out, int err)
{
   // Buffered output would otherwise be written by both processes.
   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0) {
      dup2(in, STDIN_FILENO);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      body();
      fflush(nullptr);
      _exit(0);
   }
   return pid;
}

// Reaps `pid`; its status as ChildResult::status has it (`exited` as
// ChildResult::exited), or -1.
int Reap(pid_t pid, bool &exited)
{
   int wstatus = 0;
   pid_t got;
   while ((got = waitpid(pid, &wstatus, 0)) < 0 && errno == EINTR) {
   }
   if (got != pid) {
      return -1;
   }
   exited = WIFEXITED(wstatus);
   return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// The streams are files in memory rather than pipes: nothing has to be
// pumped while the child runs, and a child that never reads its input or
// leaves a descendant holding its output cannot stall the test.
int MemoryFile(const std::string &text)
{
   int fd = memfd_create("child-stream", MFD_CLOEXEC);
   // pwrite leaves the offset at the start, for the child to read from.
   if (fd >= 0 && pwrite(fd, text.data(), text.size(), 0) != ssize_t(text.size())) {
      close(fd);
      fd = -1;
   }
   return fd;
}

// What `fd` holds from its start; closes it.
std::string ReadAndClose(int fd)
{
   std::string text;
   char buf[65536];
   ssize_t n;
   lseek(fd, 0, SEEK_SET);
   while ((n = read(fd, buf, sizeof buf)) > 0) {
      text.append(buf, static_cast<size_t>(n));
   }
   close(fd);
   return text;
}

// The child's part when it runs the program `argv` (argv[0] its path). The
// arguments are built before the fork: the child only execs.
std::function<void()> Exec(const std::vector<std::string> &argv)
{
   auto args = std::make_shared<std::vector<char *>>();
   for (const std::string &a : argv) {
      args->push_back(const_cast<char *>(a.c_str()));
   }
   args->push_back(nullptr);
   return [args] {
      execv((*args)[0], args->data());
      _exit(127);
   };
}

} // namespace

ChildResult RunInChild(const std::function<void()> &body, const ChildIo &io)
{
   ChildResult result;
   int in = MemoryFile(io.input), out = MemoryFile(""), err = MemoryFile("");
   int target =
       io.stdoutPath.empty()
           ? out
           : open(io.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0644);
   pid_t pid = in < 0 || out < 0 || err < 0 || target < 0 ? -1 : Fork(body, in, target, err);
   if (pid < 0) {
      result.err = std::string("cannot start the child: ") + strerror(errno);
   } else {
      result.status = Reap(pid, result.exited);
   }
   close(in);
   if (target != out) {
      close(target);
   }
   result.out = ReadAndClose(out);
   result.err += ReadAndClose(err);
   return result;
}

ChildResult RunProcess(const std::vector<std::string> &argv, const std::string &stdoutPath)
{
   return RunInChild(Exec(argv), ChildIo{"", stdoutPath});
}

pid_t StartProcess(const std::vector<std::string> &argv, const std::string &logPath)
{
   int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
   int log = open(logPath.empty() ? "/dev/null" : logPath.c_str(),
                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
   pid_t pid = Fork(Exec(argv), in, log, log);
   close(in);
   close(log);
   return pid;
}

int StopProcess(pid_t pid, int sig)
{
   bool exited = false;
   return pid <= 0 || kill(pid, sig) != 0 ? -1 : Reap(pid, exited);
}

} // namespace fwdtest
