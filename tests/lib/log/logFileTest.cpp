// The file output on real files in a temporary directory: refusals, append,
// header and prefixes, rotation, clean-up of old logs and throttling (its
// clock through the output's seam).
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <numeric>
#include <regex>
#include <tuple>

#include "lib/log/logFileFixture.h"

namespace {

using fwdtest::ReadFile;
using fwdtest::WriteFile;

uint64 fakeNow;
uint64 FakeClock()
{
   return fakeNow;
}

bool Exists(const std::string &path)
{
   return access(path.c_str(), F_OK) == 0;
}

bool StartsWithHeader(const std::string &path)
{
   return std::regex_search(ReadFile(path), std::regex("^[^\n]* main Log for "));
}

// Numbers of the "line N" messages in a file, in file order.
std::vector<int> LineNumbers(const std::string &path)
{
   std::vector<int> numbers;
   const std::string text = ReadFile(path);
   const std::regex re("main line (\\d+) x+\n");
   for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m) {
      numbers.push_back(std::stoi((*m)[1]));
   }
   return numbers;
}

// 0, 1, ... n - 1: every line logged, none lost.
std::vector<int> FirstNumbers(int n)
{
   std::vector<int> all(n);
   std::iota(all.begin(), all.end(), 0);
   return all;
}

class LogFile : public LogFileFixture
{
 protected:
   // Logs n 100-byte messages "line N", N counting up from 0.
   void LogLines(int n)
   {
      for (int i = 0; i < n; i++) {
         Log("line %d %s", mNext++, std::string(80, 'x').c_str());
      }
   }
   // Logs lines until the file rotated `times` times.
   void LogUntilRotation(int times = 1)
   {
      for (int i = 0; times > 0 && i < 10000; i++) {
         struct stat before, after;
         stat(mPath.c_str(), &before);
         LogLines(1);
         stat(mPath.c_str(), &after);
         if (after.st_size < before.st_size || after.st_ino != before.st_ino) {
            times--;
         }
      }
      EXPECT_EQ(0, times) << "rotations missing";
   }
   int mNext = 0;
};

// A reopen refused at rotation (a link, as at the first opening, or a path
// that cannot be opened) keeps every line in the file the output has and is
// said once per streak, however many tries the streak makes. With no
// descriptor left, the first try moves the file aside and later tries must
// not rotate it out of the kept ones; with the renames blocked, the file
// must not be opened again over its lines. The clock reads as on a machine
// booted a minute ago: a flood of warnings would then be throttled.
TEST_F(LogFile, ARefusedReopenKeepsTheFileAndIsSaidOnce)
{
   LogFile_SetClockForTesting(FakeClock);
   enum Refusal { kLink, kDirectoryGone, kNoDescriptor, kRenameBlocked };
   const struct
   {
      const char *keepOld;
      Refusal by;
   } cases[] = {{"0", kLink}, {"3", kDirectoryGone}, {"1", kNoDescriptor}, {"2", kRenameBlocked}};
   struct rlimit limit;
   ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
   for (const auto &c : cases) {
      SCOPED_TRACE(c.keepOld);
      const std::string dir = Path(std::string("logs") + c.keepOld);
      const std::string path = dir + "/app.log";
      const std::string oldFile = c.by == kLink            ? dir + "/moved.log"
                                  : c.by == kDirectoryGone ? dir + "-gone/app.log"
                                  : c.by == kNoDescriptor  ? dir + "/app-0.log"
                                                           : path;
      const std::string refusal = c.by == kLink ? "Log file '" + path + "' is a symbolic link.\n"
                                  : c.by == kRenameBlocked ? "rename of " + path + " -> "
                                                           : "Unable to open '" + path + "': ";
      fakeNow = 60000000ULL;
      ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
      LogOutput *out = Init({"log.fileName=" + path, std::string("log.keepOld=") + c.keepOld,
                             "log.rotateSize=100000"});
      ASSERT_NE(nullptr, out);
      if (c.by == kLink) {
         ASSERT_EQ(0, rename(path.c_str(), oldFile.c_str()));
         WriteFile(Path("target"), "");
         ASSERT_EQ(0, symlink(Path("target").c_str(), path.c_str()));
      } else if (c.by == kDirectoryGone) {
         ASSERT_EQ(0, rename(dir.c_str(), (dir + "-gone").c_str()));
      } else if (c.by == kRenameBlocked) { // no file moves onto a directory
         for (const std::string &kept : {dir + "/app-0.log", dir + "/app-1.log"}) {
            ASSERT_EQ(0, mkdir(kept.c_str(), 0755));
            WriteFile(kept + "/x", "");
         }
      } else { // every descriptor below the limit taken: opens fail, renames work
         const int lowestFree = dup(0);
         close(lowestFree);
         const struct rlimit none = {static_cast<rlim_t>(lowestFree), limit.rlim_max};
         ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &none));
      }
      mNext = 0;
      LogLines(2500); // past three rotate sizes: three tries
      ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
      ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
      const std::string file = ReadFile(oldFile);
      const size_t opened = file.find(" main line 0 ");
      ASSERT_NE(std::string::npos, opened) << oldFile << " lost its lines";
      const std::string text = file.substr(opened);
      EXPECT_EQ(FirstNumbers(mNext), LineNumbers(oldFile));
      EXPECT_EQ(1u, fwdtest::Occurrences(text, refusal));
      EXPECT_GE(1u, fwdtest::Occurrences(text, "Rotating to a new log file"));
      EXPECT_EQ(0u, fwdtest::Occurrences(text, "Throttled"));
   }
   EXPECT_EQ("", ReadFile(Path("target")));
}

// Every line of a message carries the prefix, later lines marked with "+";
// appending keeps the file and writes no header.
TEST_F(LogFile, PrefixesAndAppendWithoutHeader)
{
   LogOutput *out = Init({mFile, "log.keepOld=0"});
   ASSERT_NE(nullptr, out);
   Log("one\ntwo");
   const std::string prefix = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z In\\(05\\)";
   EXPECT_TRUE(StartsWithHeader(mPath));
   EXPECT_TRUE(std::regex_search(
       ReadFile(mPath), std::regex("\n" + prefix + " main one\n" + prefix + "\\+ main two\n$")))
       << ReadFile(mPath);
   ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));

   WriteFile(mPath, "earlier line\n");
   ASSERT_NE(nullptr, Init({mFile, "log.append=TRUE", "log.useTimeStamps=FALSE",
                            "log.useLevelDesignator=FALSE"}));
   Log("appended");
   EXPECT_EQ("earlier line\nmain appended\n", ReadFile(mPath));
}

// The newest old log is number 0. With keep-old 0 rotation reopens the same
// path, which must then hold only the new header and the lines after it.
TEST_F(LogFile, RotationByRenamingKeepsTheNewestAsNumberZero)
{
   LogOutput *out = Init({mFile, "log.keepOld=3", "log.rotateSize=100000"});
   ASSERT_NE(nullptr, out);
   LogUntilRotation(4);
   std::vector<int> newest = LineNumbers(Path("app-0.log"));
   std::vector<int> older = LineNumbers(Path("app-1.log"));
   std::vector<int> oldest = LineNumbers(Path("app-2.log"));
   EXPECT_FALSE(Exists(Path("app-3.log")));
   ASSERT_FALSE(oldest.empty());
   EXPECT_EQ(oldest.back() + 1, older.front());
   EXPECT_EQ(older.back() + 1, newest.front());
   EXPECT_EQ(newest.back() + 1, LineNumbers(mPath).front());
   EXPECT_TRUE(StartsWithHeader(mPath));

   ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
   mPath = Path("zero.log");
   ASSERT_NE(nullptr, Init({"log.fileName=" + mPath, "log.keepOld=0", "log.rotateSize=100000"}));
   LogUntilRotation();
   LogLines(1);
   EXPECT_TRUE(StartsWithHeader(mPath));
   EXPECT_EQ((std::vector<int>{mNext - 2, mNext - 1}), LineNumbers(mPath)) << ReadFile(mPath);
   EXPECT_FALSE(Exists(Path("zero-0.log")));
}

TEST_F(LogFile, RotationByRenumbering)
{
   // The files there, the kept number, and the directory after (the highest
   // number is the file just rotated; "app-07.log" is no number of ours).
   const std::tuple<std::vector<unsigned long>, int, std::vector<std::string>> cases[] = {
       {{}, 2, {"app-07.log", "app-1.log"}},
       {{3, 7}, 3, {"app-07.log", "app-3.log", "app-7.log", "app-8.log"}},
       // Renumbered from 1, then the oldest goes.
       {{5, 9, 4294967295UL}, 3, {"app-07.log", "app-2.log", "app-3.log", "app-4.log"}},
   };
   for (const auto &[existing, keepOld, after] : cases) {
      fwdtest::TempDir dir;
      for (unsigned long n : existing) {
         WriteFile(dir.path() + "/app-" + std::to_string(n) + ".log", std::to_string(n));
      }
      WriteFile(dir.path() + "/app-07.log", "not a number of ours");
      LogOutput *out = Init({"log.fileName=" + dir.path() + "/app.log", "log.fastRotation=TRUE",
                             "log.append=TRUE", "log.keepOld=" + std::to_string(keepOld)});
      ASSERT_NE(nullptr, out);
      LogRotation(out);
      EXPECT_EQ(after, fwdtest::DirEntries(dir.path())) << ::testing::PrintToString(existing);
      if (existing.size() == 3) {
         EXPECT_EQ("9", ReadFile(dir.path() + "/app-2.log")) << "renumbered in order";
      }
      ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
   }
}

TEST_F(LogFile, CleanUpRemovesTheOldestLogsOfEndedProcesses)
{
   std::string area = mDir.path() + "/keltria-" + getpwuid(geteuid())->pw_name;
   ASSERT_EQ(0, mkdir(area.c_str(), 0700));
   std::vector<std::string> ended;
   for (int i = 0; i < 3; i++) { // no process has a number above 2^22
      std::string file = WriteFile(area + "/pellory-" + std::to_string(4194305 + i) + ".log", "");
      struct timespec times[2] = {{1000 + i, 0}, {1000 + i, 0}};
      utimensat(AT_FDCWD, file.c_str(), times, 0);
      ended.push_back(file);
   }
   // The process that started this test lives on.
   std::string livingFile = WriteFile(area + "/pellory-" + std::to_string(getppid()) + ".log", "");
   std::string other = WriteFile(area + "/pellory-svc-1.log", ""); // another suffix's
   LogOutput *out = Init({"log.keepOld=2"}, nullptr, false, true);
   ASSERT_NE(nullptr, out);

   EXPECT_FALSE(Exists(ended[0]));
   for (const std::string &f :
        {ended[1], ended[2], livingFile, other, std::string(LogFile_GetPath(out))}) {
      EXPECT_TRUE(Exists(f)) << f;
   }
}

// Held lines come out in order when a 60-second measurement shows the rate
// dropped, at once when throttling is lifted (as a panic does), or when the
// log ends. The first measurement counts from the output's start, not from
// the clock's origin: a machine up for 6 seconds or for 1000 sees the same.
TEST_F(LogFile, ThrottlingHoldsLinesUntilTheRateDrops)
{
   enum Ending { RATE_DROPS, LIFTED, LOG_ENDS };
   const std::pair<uint64, Ending> cases[] = {
       {1000000000ULL, RATE_DROPS},
       {6000000ULL, RATE_DROPS},
       {1000000000ULL, LIFTED},
       {1000000000ULL, LOG_ENDS}, // last: it ends the log
   };
   LogFile_SetClockForTesting(FakeClock);
   for (const auto &[start, ending] : cases) {
      SCOPED_TRACE(::testing::Message() << start << " " << ending);
      fakeNow = start;
      LogOutput *out = Init({mFile, "log.keepOld=0", "log.throttleThreshold=10000"});
      ASSERT_NE(nullptr, out);
      mNext = 0;
      LogLines(200);      // past the threshold at once
      fakeNow += 5500000; // 25000 bytes in 5.5 s: too fast
      int throttledFrom = mNext;
      LogLines(3);
      fakeNow += 30000000; // not yet a 60-second measurement
      LogLines(1);
      EXPECT_EQ(throttledFrom - 1, LineNumbers(mPath).back());
      if (ending == LIFTED) {
         Log_DisableThrottling();
      } else if (ending == RATE_DROPS) {
         fakeNow += 31000000;
      }
      if (ending == LOG_ENDS) {
         Log_Exit();
      } else {
         LogLines(1);
      }

      std::string text = ReadFile(mPath);
      const std::string throttled = "No(00) main <<< file Throttled >>>\n";
      size_t mark = text.find(throttled);
      ASSERT_NE(std::string::npos, mark);
      EXPECT_EQ(std::string::npos, text.find("Throttled", mark + throttled.size()));
      EXPECT_LT(mark, text.find("line " + std::to_string(throttledFrom) + " "));
      EXPECT_EQ(FirstNumbers(mNext), LineNumbers(mPath));
      if (ending != LOG_ENDS) {
         ASSERT_TRUE(Log_ReplaceOutput(out, nullptr, FALSE));
      }
   }
}

} // namespace
