/// CommonUtils: static utilities shared by the agent components.
#ifndef COMMON_COMMONUTILS_H
#define COMMON_COMMONUTILS_H

#include <string>

class CommonUtils
{
 public:
   CommonUtils() = delete;

   /// Status form: runs `cmd` through "sh -c" (popen), appends everything it
   /// prints on standard output to `output` (never cleared) and stores the raw
   /// wait status of pclose in `status` (exit code 1 is 256). Returns false,
   /// leaving `status` untouched, when the command could not be started.
   /// Takes no lock and logs nothing; safe on several threads at once.
   static bool ExecShell(const std::string &cmd, std::string &output, int &status);

   /// Capture form: like the status form but discards the wait status and
   /// logs the command with the whole `output` at level 8, or the popen
   /// failure at level 2. Serialised by a process-wide capture lock held from
   /// before popen until after pclose.
   static bool ExecShell(const std::string &cmd, std::string &output);

   /// Fork form: forks a child that runs "sh -c cmd" (shown as "execshell")
   /// and, when `wait` is set, reaps it (retrying on EINTR); the child's exit
   /// status is not examined. Returns false only when fork failed. Serialised
   /// by a process-wide fork lock, held across the wait too. Independent of
   /// the capture lock.
   static bool ExecShell(const std::string &cmd, bool wait);

   /// Runs the status form with the status preset to -1: returns the raw wait
   /// status, or -1 when the command was not started.
   static int ExecShellStatus(const std::string &cmd, std::string &output);

   /// Returns `text` as one shell word: unchanged when it consists only of
   /// A-Z a-z 0-9 and _ . / @ % + = : , - (the empty text too), otherwise
   /// single-quoted with each embedded ' written as '\''.
   static std::string ShellQuote(const std::string &text);
};

#endif
