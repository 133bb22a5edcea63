#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/commonUtils.h"
#include "support/logTestOutput.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

namespace {

// A line of `n` characters 0-9 repeated, so misplaced pieces would show.
std::string Pattern(size_t n)
{
   std::string s;
   for (size_t i = 0; i < n; i++) {
      s += static_cast<char>('0' + i % 10);
   }
   return s;
}

std::string PrintCommand(const std::string &text)
{
   return "printf '%s' " + CommonUtils::ShellQuote(text);
}

} // namespace

// Both capturing forms reassemble output that spans many reads of their
// 128- and 1024-byte buffers, across and within lines; the status comes back
// as the raw wait status, only a start failure being -1. Output is appended
// to what the caller holds, byte for byte, NUL bytes and what follows them
// included.
TEST(CommonUtilsExecShell, OutputStatusAndQuotedTextsComeBackWhole)
{
   struct Case
   {
      std::string cmd;
      int status;
      std::string output;
   } cases[] = {
       {"true", 0, ""},
       {"echo out; exit 2", 512, "out\n"},
       {"echo err >&2; exit 0", 0, ""},
       {"fwd-no-such-command-here", 32512, ""},
       {"kill -TERM $$", SIGTERM, ""},
       {"printf 'a\\000b\\n\\000\\000c'", 0, std::string("a\0b\n\0\0c", 7)},
   };
   std::vector<Case> all(std::begin(cases), std::end(cases));
   for (const std::string &text : {Pattern(129), Pattern(1025) + "\n" + Pattern(300),
                                   Pattern(5000) + "\n\n" + Pattern(2049)}) {
      all.push_back({PrintCommand(text), 0, text});
   }
   // Every text must come back from the shell as exactly one unchanged word,
   // and ordinary interface names and paths must not be touched.
   const std::pair<std::string, std::string> quoting[] = {
       {"eth0", "eth0"},
       {"/opt/proxy/veth-fwd.1@x_b%c+d=e:f,g", "/opt/proxy/veth-fwd.1@x_b%c+d=e:f,g"},
       {"", ""},
       {"$(touch x); a", "'$(touch x); a'"},
       {"it's", "'it'\\''s'"},
       {"`id`|&<>*?~#!\"\\\n\t", "'`id`|&<>*?~#!\"\\\n\t'"},
   };
   for (const auto &[text, quoted] : quoting) {
      EXPECT_EQ(CommonUtils::ShellQuote(text), quoted);
      all.push_back({PrintCommand(text), 0, text});
   }
   for (const Case &c : all) {
      SCOPED_TRACE(c.cmd.substr(0, 40));
      std::string out = "kept:";
      int status = -7;
      ASSERT_TRUE(CommonUtils::ExecShell(c.cmd, out, status));
      EXPECT_EQ(status, c.status);
      EXPECT_EQ(out, "kept:" + c.output);

      std::string captured = "kept:";
      ASSERT_TRUE(CommonUtils::ExecShell(c.cmd, captured));
      EXPECT_EQ(captured, "kept:" + c.output);
   }
}

// The status form may run on several threads at once; the capture form
// serialises its callers, so their commands never overlap.
TEST(CommonUtilsExecShellConcurrency, FormsRunFromManyThreads)
{
   fwdtest::TempDir tmp;
   const std::string trace = tmp.path() + "/trace", q = CommonUtils::ShellQuote(trace);
   std::vector<std::thread> threads;
   std::vector<std::string> outputs(4);
   for (int i = 0; i < 4; i++) {
      threads.emplace_back([&, i] {
         int status = -1;
         CommonUtils::ExecShell("echo " + std::to_string(i), outputs[i], status);
         std::string ignored;
         CommonUtils::ExecShell("echo '(' >> " + q + "; sleep 0.05; echo ')' >> " + q, ignored);
      });
   }
   for (auto &t : threads) {
      t.join();
   }
   for (int i = 0; i < 4; i++) {
      EXPECT_EQ(outputs[i], std::to_string(i) + "\n");
   }
   EXPECT_EQ(fwdtest::ReadFile(trace), "(\n)\n(\n)\n(\n)\n(\n)\n");
}

// The fork form returns while its child runs, or reaps it; its lock is not
// the capture form's, so a fork-form command can feed a capture-form one
// still running on another thread.
TEST(CommonUtilsExecShellConcurrency, ForkFormReturnsOrReapsAndSharesNoLockWithCapture)
{
   fwdtest::TempDir tmp;
   const std::string fifo = tmp.path() + "/pipe", q = CommonUtils::ShellQuote(fifo);
   ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
   // The child blocks on the FIFO until a reader opens it.
   ASSERT_TRUE(CommonUtils::ExecShell("echo $0 > " + q, false));
   EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), 0) << "the child should still be running";
   std::string captured;
   ASSERT_TRUE(CommonUtils::ExecShell("timeout 5 cat " + q, captured));
   ASSERT_GT(waitpid(-1, nullptr, 0), 0);

   std::thread reader([&] { CommonUtils::ExecShell("timeout 5 cat " + q, captured); });
   EXPECT_TRUE(CommonUtils::ExecShell("timeout 5 sh -c 'echo fed > " + fifo + "'", true));
   reader.join();
   EXPECT_EQ(captured, "execshell\nfed\n");
   errno = 0;
   EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "the waited-for child was not reaped";
   EXPECT_EQ(errno, ECHILD);
}

// The capture and fork forms trace every command at level 8, the whole text
// included; the status form stays silent for its tc callers.
TEST(CommonUtilsExecShell, EachFormLogsAsDocumented)
{
   using Msgs = std::vector<std::string>;
   fwdtest::LogCapture log(LOG_DEBUG);
   std::string text = "before|";
   ASSERT_TRUE(CommonUtils::ExecShell("echo one", text));
   ASSERT_TRUE(CommonUtils::ExecShell("exit 3", true));
   int status = -1;
   std::string out;
   ASSERT_TRUE(CommonUtils::ExecShell("echo quiet; exit 1", out, status));
   EXPECT_EQ(CommonUtils::ExecShellStatus("echo quiet", out), 0);
   EXPECT_EQ(log.Take(), (Msgs{"debug: CommonUtils->ExecShell Command echo one executed, output "
                               "before|one\n\n",
                               "debug: CommonUtils->ExecShell Command exit 3 executed\n"}));
}
