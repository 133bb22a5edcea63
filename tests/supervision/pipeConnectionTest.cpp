// PipeConnection over real pipes, one end in a child process where the
// peer matters; the replaceable PosixApiHelper only for EINTR, which a
// pipe cannot be made to produce on demand.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "supervision/pipeConnection.h"
#include "supervision/posixApiHelper.h"
#include "supervisionFixture.h"

namespace {

using fwdtest::Pipe;

class PipeConnectionTest : public fwdtest::LogCaptureTest
{
};

std::string Frame(int32_t len, const std::string &text)
{
   std::string out(reinterpret_cast<const char *>(&len), sizeof len);
   return out + text;
}

TEST_F(PipeConnectionTest, FramesOnTheWire)
{
   struct Row
   {
      std::string text;
      bool sent;
      std::string wire; // what the reader finds
   };
   const std::string max(8192, 'm');
   const std::vector<Row> rows = {
       {"abc", true, std::string("\x03\x00\x00\x00", 4) + "abc"},
       {max, true, Frame(8192, max)},
       {max + "x", false, ""},
   };
   for (const Row &row : rows) {
      Pipe p;
      PipeConnection conn(-1, p.release(1));
      EXPECT_EQ(row.sent, conn.sendMsg(row.text)) << row.text.size();
      fcntl(p.fd[0], F_SETFL, O_NONBLOCK);
      std::string wire(16384, '\0');
      ssize_t n = read(p.fd[0], &wire[0], wire.size());
      wire.resize(n > 0 ? static_cast<size_t>(n) : 0);
      EXPECT_EQ(row.wire, wire) << row.text.size();
   }
   EXPECT_TRUE(Logged("message length 8193 is out of range"));
}

TEST_F(PipeConnectionTest, MessagesCrossAChildProcess)
{
   // cat relays the frames unchanged: both pipes and the peer are real.
   Pipe toChild, fromChild;
   pid_t pid = fork();
   ASSERT_GE(pid, 0);
   if (pid == 0) {
      dup2(toChild.fd[0], STDIN_FILENO);
      dup2(fromChild.fd[1], STDOUT_FILENO);
      execlp("cat", "cat", (char *)nullptr);
      _exit(127);
   }
   close(toChild.release(0));
   close(fromChild.release(1));
   PipeConnection conn(fromChild.release(0), toChild.release(1));
   const std::vector<std::string> sent = {"one", std::string(8192, 'q'), "three"};
   for (const std::string &msg : sent) {
      ASSERT_TRUE(conn.sendMsg(msg));
   }
   ASSERT_TRUE(conn.sendMsg(std::string("nul\0cut", 7)));
   for (const std::string &msg : sent) {
      EXPECT_EQ(msg, conn.recvMsg());
   }
   EXPECT_EQ("nul", conn.recvMsg());
   kill(pid, SIGKILL);
   waitpid(pid, nullptr, 0);
}

TEST_F(PipeConnectionTest, ReceiveFailuresThrow)
{
   struct Row
   {
      const char *what;
      std::string wire;  // written before the writer closes
      bool nonBlocking;  // and the writer stays open
      const char *error; // PipeException::what
   };
   const std::vector<Row> rows = {
       {"header 0", Frame(0, "x"), false, "Recv invalid msg header"},
       {"header 8193", Frame(8193, std::string(8193, 'x')), false, "Recv invalid msg header"},
       {"negative header", Frame(-1, "x"), false, "Recv invalid msg header"},
       {"peer closed", "", false, "Failed to recv pipe msg header"},
       {"half a header", std::string("\x05\x00", 2), false, "Failed to recv pipe msg header"},
       {"short text", Frame(5, "ab"), false, "Failed to recv pipe msg"},
       {"empty, non-blocking", "", true, "Failed to recv pipe msg header"},
   };
   for (const Row &row : rows) {
      Pipe p;
      ASSERT_EQ(static_cast<ssize_t>(row.wire.size()), write(p.fd[1], row.wire.data(), row.wire.size()));
      if (!row.nonBlocking) {
         close(p.release(1));
      }
      PipeConnection conn;
      conn.setFds(p.release(0), -1, !row.nonBlocking);
      try {
         conn.recvMsg();
         ADD_FAILURE() << row.what << ": no exception";
      } catch (const PipeException &e) {
         EXPECT_STREQ(row.error, e.what()) << row.what;
      }
   }
   EXPECT_THROW(PipeConnection().recvMsg(), PipeException);
   EXPECT_TRUE(Logged("PipeConnection->recvMsg: Recv invalid msg header 8193.\n"));
   EXPECT_TRUE(Logged("PipeConnection->recvMsg: The pipe is invalid.\n"));
}

/// Interrupts the first `mFailures` reads and writes with EINTR (-1 for all).
class InterruptingApi : public PosixApiHelper
{
 public:
   explicit InterruptingApi(int failures) : mFailures(failures) {}
   ssize_t read(int fd, void *buf, size_t count) override
   {
      return interrupted() ? -1 : PosixApiHelper::read(fd, buf, count);
   }
   ssize_t write(int fd, const void *buf, size_t count) override
   {
      return interrupted() ? -1 : PosixApiHelper::write(fd, buf, count);
   }
   int calls = 0;

 private:
   bool interrupted()
   {
      calls++;
      if (mFailures >= 0 && calls > mFailures) {
         return false;
      }
      errno = EINTR;
      return true;
   }
   int mFailures;
};

TEST_F(PipeConnectionTest, InterruptedCallsAreRetriedElevenTimes)
{
   struct Row
   {
      int failures;
      bool sendOk;
      int calls; // after the send
   };
   // A send is retried after 11 interruptions at most; the 12th fails it.
   const std::vector<Row> rows = {{3, true, 4}, {11, true, 12}, {-1, false, 12}};
   for (const Row &row : rows) {
      Pipe p;
      PipeConnection conn(p.release(0), p.release(1));
      InterruptingApi api(row.failures);
      PosixApiHelper *previous = PosixApiHelper::setInstance(&api);
      bool sent = conn.sendMsg("ping");
      int sendCalls = api.calls;
      api.calls = 0;
      std::string got;
      bool threw = false;
      try {
         got = conn.recvMsg();
      } catch (const PipeException &) {
         threw = true;
      }
      PosixApiHelper::setInstance(previous);
      EXPECT_EQ(row.sendOk, sent) << row.failures;
      EXPECT_EQ(row.calls, sendCalls) << row.failures;
      EXPECT_EQ(!row.sendOk, threw) << row.failures;
      if (row.sendOk) {
         EXPECT_EQ("ping", got);
      }
   }
   EXPECT_TRUE(Logged("PipeConnection->sendBuf: Failed to send pipe data, retry max times.\n"));
   EXPECT_TRUE(Logged("PipeConnection->recvBuf: Failed to recv pipe buffer, retry max times.\n"));
}

TEST_F(PipeConnectionTest, LoggedMessagesHideThePassword)
{
   Pipe p;
   PipeConnection conn(p.release(0), p.release(1));
   ASSERT_TRUE(conn.sendMsg(R"({"user":"ann","password":"s3cr3t","n":1})"));
   EXPECT_EQ(R"({"user":"ann","password":"s3cr3t","n":1})", conn.recvMsg());
   EXPECT_TRUE(Logged(R"(PipeConnection->Send Pipe Message: {"user":"ann","password":***,"n":1})"))
       << LogText();
   EXPECT_FALSE(Logged("s3cr3t"));
}

TEST_F(PipeConnectionTest, WritingToAClosedReaderFailsWithoutSigpipe)
{
   Pipe p;
   close(p.release(0));
   PipeConnection conn(-1, p.release(1));
   EXPECT_FALSE(conn.sendMsg("anyone?"));
   EXPECT_TRUE(Logged("errno 32.")) << LogText();
}

} // namespace
