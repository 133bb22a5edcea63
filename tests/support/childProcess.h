/// Child processes run whole: a function in a forked child, or a program,
/// with standard input from a string and standard output and standard error
/// collected through real pipes.
///
///    ChildResult r = RunInChild([] { Panic("boom\n"); });
///    EXPECT_EQ(255, r.status);
///    ChildResult p = RunProcess({"/bin/sh", "-c", "echo hi"});
#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H

#include <functional>
#include <string>
#include <vector>

namespace fwdtest {

/// What a child process did.
struct ChildResult
{
   bool exited = false; ///< ended by exit rather than by a signal
   int status = -1;     ///< exit status, or 128 + signal
   std::string out;     ///< standard output (empty when redirected)
   std::string err;     ///< standard error
};
/// The name the process tests use.
using RunResult = ChildResult;

/// Where a child's standard streams come from and go to.
struct ChildIo
{
   std::string input;      ///< fed to standard input; empty: /dev/null
   std::string stdoutPath; ///< file for standard output (e.g. /dev/full)
};

/// Runs `body` in a forked child, which exits 0 when `body` returns (stdio
/// flushed first); `body` may exit with a status of its own.
ChildResult RunInChild(const std::function<void()> &body, const ChildIo &io = {});

/// Runs `argv` (argv[0] is the program path) to its end. With
/// `stdoutPath`, standard output goes to that file instead of a pipe.
ChildResult RunProcess(const std::vector<std::string> &argv, const std::string &stdoutPath = "");

#ifdef FWD_FWDMAPS_PATH
/// Runs the built fwdmaps with `args`, as RunProcess does.
inline ChildResult Fwdmaps(std::vector<std::string> args, const std::string &stdoutPath = "")
{
   args.insert(args.begin(), FWD_FWDMAPS_PATH);
   return RunProcess(args, stdoutPath);
}
#endif

} // namespace fwdtest

#endif
