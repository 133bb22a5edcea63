// LoggerWrapper with a real log file in a temporary directory, and output
// that reaches that file through the redirect pipe. The wrapper is once per
// process; ctest runs every test in a process of its own.
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lib/config/preference.h"
#include "supervision/loggerWrapper.h"
#include "supervisionFixture.h"
#include "support/tempDir.h"
#include "support/textFiles.h"

namespace {

TEST(LoggerWrapperTest, WordsMasksItsFileAndAChildRedirected)
{
   fwdtest::TempDir tmp;
   const std::string &dir = tmp.path();
   setenv("TMPDIR", dir.c_str(), 1);
   setenv("HOME", dir.c_str(), 1);
   Preference_InitSystemOnly();
   ASSERT_TRUE(Preference_SetFromString(("comp.log.filename=" + dir + "/comp.log").c_str(), TRUE));
   ASSERT_TRUE(Preference_SetFromString("comp.log.logLevel=trace", TRUE));

   LoggerWrapper &log = LoggerWrapper::getInstance("comp");
   EXPECT_EQ(&log, &LoggerWrapper::getInstance("other"));
   EXPECT_EQ(9, log.getLogLevel());
   const unsigned char bytes[] = {0x01, 0xab};
   log.dumpData("T", bytes, 2, false);
   for (const char *word : {"verbose", "verbose", "VERBOSE"}) {
      log.setLogLevel(word);
   }
   EXPECT_EQ(10, Log_GetModuleFileLevel(0));

   log.startLogRedirect();
   log.startLogRedirect();
   // A child's copy of the write end, held open to the end.
   const int child = dup(log.getLogPipeWriteFd());
   const std::string line = "hello from the child\n";
   ASSERT_EQ(ssize_t(line.size()), write(child, line.data(), line.size()));

   const std::string file = dir + "/comp.log";
   auto has = [&](const std::string &text) {
      return fwdtest::ReadFile(file).find(text) != std::string::npos;
   };
   EXPECT_TRUE(fwdtest::WaitFor([&] { return has("[Child Process]: hello from the child\n"); }))
       << fwdtest::ReadFile(file);
   EXPECT_TRUE(has("Log level of comp is trace\n"));
   EXPECT_TRUE(has(" T\n") && has(" 01 ab \n"));
   const std::string text = fwdtest::ReadFile(file);
   EXPECT_TRUE(has("Change log level from trace to verbose\n"));
   EXPECT_EQ(text.find("Change log level"), text.rfind("Change log level")) << "logged twice";
   EXPECT_TRUE(has("Log redirection thread is already started.\n"));

   // The child still holds the write end: closing ends the thread first,
   // so a descriptor opened afterwards under the same number is not read.
   log.closeLogPipe();
   EXPECT_TRUE(has("Exit LogRedirectThread.\n")) << "the thread outlived its pipe";
   fwdtest::Pipe reused;
   ASSERT_EQ(5, write(reused.fd[1], "mine\n", 5));
   EXPECT_EQ("mine\n", fwdtest::ReadSome(reused.fd[0], 5));
   EXPECT_FALSE(has("[Child Process]: mine"));
   close(child);
   Preference_Exit();

   // The known names show in the lines above.
   EXPECT_EQ("unsupported", LoggerWrapper::levelName(4));
   EXPECT_EQ("012*****", LoggerWrapper::maskString("0123456789", 3));
   EXPECT_EQ("ab*****", LoggerWrapper::maskString("ab", 3));
}

} // namespace
