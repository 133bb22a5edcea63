#include "common/commonUtils.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

#include "lib/log/log.h"

namespace {

std::mutex gCaptureLock;
std::mutex gForkLock;

const char kOrigin[] = "ExecShell";

bool IsPlainShellChar(char c)
{
   if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      return true;
   }
   return strchr("_./@%+=:,-", c) != nullptr && c != '\0';
}

} // namespace

bool CommonUtils::ExecShell(const std::string &cmd, std::string &output, int &status)
{
   FILE *pipe = popen(cmd.c_str(), "r");
   if (pipe == nullptr) {
      return false;
   }
   // fread rather than fgets: a NUL byte in the output must not cut off
   // what follows it in the same read.
   char buf[128];
   size_t n;
   while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
      output.append(buf, n);
   }
   status = pclose(pipe);
   return true;
}

bool CommonUtils::ExecShell(const std::string &cmd, std::string &output)
{
   std::lock_guard<std::mutex> guard(gCaptureLock);
   FILE *pipe = popen(cmd.c_str(), "r");
   if (pipe == nullptr) {
      Log_Level(2, "CommonUtils->%s Popen failed, error: %s\n", kOrigin, strerror(errno));
      return false;
   }
   char buf[1024] = {0};
   size_t n;
   while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
      output.append(buf, n);
      memset(buf, 0, sizeof buf);
   }
   Log_Level(8, "CommonUtils->%s Command %s executed, output %s\n", kOrigin, cmd.c_str(),
             output.c_str());
   pclose(pipe);
   return true;
}

bool CommonUtils::ExecShell(const std::string &cmd, bool wait)
{
   std::lock_guard<std::mutex> guard(gForkLock);
   pid_t pid = fork();
   if (pid < 0) {
      Log_Level(2, "CommonUtils->%s Fork failed, error: %s\n", kOrigin, strerror(errno));
      return false;
   }
   if (pid == 0) {
      execlp("sh", "execshell", "-c", cmd.c_str(), (char *)nullptr);
      Log_Level(2, "CommonUtils->%s execlp command %s failed, error: %s\n", kOrigin, cmd.c_str(),
                strerror(errno));
      // _exit, not exit: the child must not flush the parent's stdio buffers
      // a second time or run the parent's exit handlers.
      _exit(255);
   }
   Log_Level(8, "CommonUtils->%s Command %s executed\n", kOrigin, cmd.c_str());
   if (wait) {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
   }
   return true;
}

int CommonUtils::ExecShellStatus(const std::string &cmd, std::string &output)
{
   int status = -1;
   return ExecShell(cmd, output, status) ? status : -1;
}

std::string CommonUtils::ShellQuote(const std::string &text)
{
   // An empty text stays empty so that an unset name still yields the
   // ordinary (failing) command line rather than an empty quoted word.
   bool plain = true;
   for (char c : text) {
      if (!IsPlainShellChar(c)) {
         plain = false;
         break;
      }
   }
   if (plain) {
      return text;
   }
   std::string quoted = "'";
   for (char c : text) {
      if (c == '\'') {
         quoted += "'\\''";
      } else {
         quoted += c;
      }
   }
   quoted += '\'';
   return quoted;
}
