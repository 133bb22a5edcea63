// Held and line-by-line output through a real pipe and /dev/full.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "tool/blockOutput.h"

namespace {

std::string Drain(int fd)
{
   std::string text;
   char buf[4096];
   ssize_t n;
   while ((n = read(fd, buf, sizeof buf)) > 0) {
      text.append(buf, static_cast<size_t>(n));
   }
   return text;
}

TEST(BlockOutputTest, HoldsLinesOnlyWhenAsked)
{
   struct Case
   {
      bool hold;
      size_t block;
      const char *afterFirstLine; // what the pipe holds after one std::endl
   } cases[] = {
       {false, 1 << 16, "one\n"},
       {true, 1 << 16, ""},
       {true, 4, "one\n"}, // a full block goes out at once
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(std::to_string(c.hold) + "/" + std::to_string(c.block));
      int fds[2];
      ASSERT_EQ(0, pipe2(fds, O_NONBLOCK));
      {
         BlockOutputBuf buf(fds[1], c.hold, c.block);
         std::ostream os(&buf);
         os << "one" << std::endl;
         EXPECT_EQ(c.afterFirstLine, Drain(fds[0]));
         os << "two" << std::endl;
         EXPECT_TRUE(buf.Flush());
         EXPECT_EQ(0, buf.Errno());
         std::string rest = std::string("one\ntwo\n").substr(strlen(c.afterFirstLine));
         EXPECT_EQ(rest, Drain(fds[0]));
      }
      close(fds[0]);
      close(fds[1]);
   }
}

TEST(BlockOutputTest, FailedWriteIsReportedAndSticks)
{
   int fd = open("/dev/full", O_WRONLY);
   ASSERT_GE(fd, 0);
   BlockOutputBuf buf(fd, true);
   std::ostream os(&buf);
   os << "lost" << std::endl;
   EXPECT_FALSE(buf.Flush());
   EXPECT_EQ(ENOSPC, buf.Errno());
   os << "more" << std::endl;
   EXPECT_FALSE(os.good());
   EXPECT_FALSE(buf.Flush());
   close(fd);
}

} // namespace
