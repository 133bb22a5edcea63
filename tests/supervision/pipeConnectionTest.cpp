// PipeConnection over real pipes; the replaceable PosixApiHelper only for
// EINTR, which a pipe cannot be made to produce on demand. The fuzz target
// covers arbitrary wire bytes.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "supervision/pipeConnection.h"
#include "supervision/posixApiHelper.h"
#include "supervisionFixture.h"

namespace {

using fwdtest::Pipe;
using PipeConnectionTest = fwdtest::SupervisionTest;

std::string Frame(int32_t len, const std::string &text)
{
   return std::string(reinterpret_cast<const char *>(&len), sizeof len) + text;
}

TEST_F(PipeConnectionTest, FramesOnTheWireAndAClosedReader)
{
   const std::string max(8192, 'm');
   const struct
   {
      std::string text;
      bool sent;
      std::string wire;
   } rows[] = {
       {"abc", true, std::string("\x03\x00\x00\x00", 4) + "abc"},
       {max, true, Frame(8192, max)},
       {max + "x", false, ""},
   };
   for (const auto &row : rows) {
      Pipe p;
      PipeConnection conn(-1, p.release(1));
      EXPECT_EQ(row.sent, conn.sendMsg(row.text)) << row.text.size();
      fcntl(p.fd[0], F_SETFL, O_NONBLOCK);
      std::string wire(16384, '\0');
      wire.resize(std::max<ssize_t>(0, read(p.fd[0], &wire[0], wire.size())));
      EXPECT_EQ(row.wire, wire) << row.text.size();
   }
   EXPECT_TRUE(mLog.Logged("message length 8193 is out of range"));

   // A reader gone: a failure, not SIGPIPE.
   Pipe p;
   close(p.release(0));
   PipeConnection conn(-1, p.release(1));
   EXPECT_FALSE(conn.sendMsg("anyone?"));
   EXPECT_TRUE(mLog.Logged("errno 32.")) << mLog.Joined();
}

TEST_F(PipeConnectionTest, MessagesComeBackWholeAndThePasswordIsNotLogged)
{
   Pipe p;
   const int readFd = p.release(0);
   PipeConnection conn(readFd, p.release(1));
   const std::vector<std::string> sent = {R"({"user":"ann","password":"s3cr3t","n":1})",
                                          std::string(8192, 'q'), "three"};
   for (const std::string &msg : sent) {
      ASSERT_TRUE(conn.sendMsg(msg));
   }
   ASSERT_TRUE(conn.sendMsg(std::string("nul\0cut", 7)));
   for (const std::string &msg : sent) {
      // Each message waiting is visible to poll: a receive takes only its own frame.
      struct pollfd pfd = {readFd, POLLIN, 0};
      ASSERT_EQ(1, poll(&pfd, 1, 0)) << "a frame left unannounced before " << msg.size();
      EXPECT_EQ(msg, conn.recvMsg());
   }
   EXPECT_EQ("nul", conn.recvMsg());
   EXPECT_TRUE(mLog.Logged(R"(Send Pipe Message: {"user":"ann","password":***,"n":1})")) << mLog.Joined();
   EXPECT_FALSE(mLog.Logged("s3cr3t"));
}

TEST_F(PipeConnectionTest, ReceiveFailuresThrow)
{
   const struct
   {
      std::string wire;  // written before the writer closes
      bool keepWriter;   // and a non-blocking reader finds nothing more
      const char *error; // PipeException::what
   } rows[] = {
       {Frame(0, "x"), false, "Recv invalid msg header"},
       {Frame(8193, std::string(8193, 'x')), false, "Recv invalid msg header"},
       {"", false, "Failed to recv pipe msg header"},
       {Frame(5, "ab"), false, "Failed to recv pipe msg"},
       {"", true, "Failed to recv pipe msg header"},
   };
   for (const auto &row : rows) {
      Pipe p;
      ASSERT_EQ(ssize_t(row.wire.size()), write(p.fd[1], row.wire.data(), row.wire.size()));
      if (!row.keepWriter) {
         close(p.release(1));
      }
      PipeConnection conn;
      conn.setFds(p.release(0), -1, !row.keepWriter);
      try {
         conn.recvMsg();
         ADD_FAILURE() << row.error << ": nothing thrown";
      } catch (const PipeException &e) {
         EXPECT_STREQ(row.error, e.what());
      }
   }
   EXPECT_THROW(PipeConnection().recvMsg(), PipeException);
   EXPECT_TRUE(mLog.Logged("PipeConnection->recvMsg: Recv invalid msg header 8193.\n"));
   EXPECT_TRUE(mLog.Logged("PipeConnection->recvMsg: The pipe is invalid.\n"));
}

/// Interrupts the first `failures` reads and writes with EINTR (-1: all).
struct InterruptingApi : PosixApiHelper
{
   explicit InterruptingApi(int failures) : failures(failures) {}
   ssize_t read(int fd, void *buf, size_t n) override
   {
      return interrupted() ? -1 : PosixApiHelper::read(fd, buf, n);
   }
   ssize_t write(int fd, const void *buf, size_t n) override
   {
      return interrupted() ? -1 : PosixApiHelper::write(fd, buf, n);
   }
   bool interrupted()
   {
      errno = EINTR;
      return ++calls <= failures || failures < 0;
   }
   int failures;
   int calls = 0;
};

TEST_F(PipeConnectionTest, InterruptedCallsAreRetriedElevenTimes)
{
   // {interruptions, calls a send makes, message arrives}
   const struct
   {
      int failures, calls;
      bool ok;
   } rows[] = {{3, 4, true}, {11, 12, true}, {-1, 12, false}};
   for (const auto &row : rows) {
      Pipe p;
      PipeConnection conn(p.release(0), p.release(1));
      InterruptingApi api(row.failures);
      PosixApiHelper *previous = PosixApiHelper::setInstance(&api);
      EXPECT_EQ(row.ok, conn.sendMsg("ping")) << row.failures;
      EXPECT_EQ(row.calls, api.calls) << row.failures;
      api.calls = 0;
      std::string got = "<thrown>";
      try {
         got = conn.recvMsg();
      } catch (const PipeException &) {
      }
      PosixApiHelper::setInstance(previous);
      EXPECT_EQ(row.ok ? "ping" : "<thrown>", got) << row.failures;
   }
   EXPECT_TRUE(mLog.Logged("PipeConnection->sendBuf: Failed to send pipe data, retry max times.\n"));
   EXPECT_TRUE(mLog.Logged("PipeConnection->recvBuf: Failed to recv pipe buffer, retry max times.\n"));
}

} // namespace
