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

TEST_F(PipeConnectionTest, FrameOnTheWireAndAClosedReader)
{
   Pipe p;
   PipeConnection conn(-1, p.release(1));
   ASSERT_TRUE(conn.sendMsg("abc"));
   EXPECT_EQ(std::string("\x03\x00\x00\x00", 4) + "abc", fwdtest::ReadSome(p.fd[0], 7));

   // A reader gone: a failure, not SIGPIPE.
   close(p.release(0));
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
      // Refused whole: nothing of it reaches the wire.
      EXPECT_FALSE(conn.sendMsg(std::string(8193, 'x')));
   }
   for (const std::string &msg : sent) {
      // Each message waiting is visible to poll: a receive takes only its own frame.
      struct pollfd pfd = {readFd, POLLIN, 0};
      ASSERT_EQ(1, poll(&pfd, 1, 0)) << "a frame left unannounced before " << msg.size();
      EXPECT_EQ(msg, conn.recvMsg());
   }
   EXPECT_TRUE(mLog.Logged("message length 8193 is out of range"));
   EXPECT_TRUE(mLog.Logged(R"(Send Pipe Message: {"user":"ann","password":***,"n":1})"))
       << mLog.Joined();
   EXPECT_FALSE(mLog.Logged("s3cr3t"));
}

// Bytes that do not make a whole valid frame are the fuzz target's; here, a
// non-blocking reader that finds nothing while the writer is still open,
// and no pipe at all.
TEST_F(PipeConnectionTest, ReceiveFailuresThrow)
{
   Pipe p;
   PipeConnection conn;
   conn.setFds(p.release(0), -1, false);
   EXPECT_THROW(conn.recvMsg(), PipeException);
   EXPECT_THROW(PipeConnection().recvMsg(), PipeException);
   EXPECT_TRUE(mLog.Logged("PipeConnection->recvMsg: Failed to recv pipe msg header.\n"));
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
      std::string got;
      try {
         got = conn.recvMsg();
      } catch (const PipeException &e) {
         got = e.what();
      }
      PosixApiHelper::setInstance(previous);
      EXPECT_EQ(row.ok ? "ping" : "Failed to recv pipe msg header", got) << row.failures;
   }
   EXPECT_TRUE(
       mLog.Logged("PipeConnection->sendBuf: Failed to send pipe data, retry max times.\n"));
   EXPECT_TRUE(
       mLog.Logged("PipeConnection->recvBuf: Failed to recv pipe buffer, retry max times.\n"));
}

} // namespace
