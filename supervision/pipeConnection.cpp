#include "supervision/pipeConnection.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/commonUtils.h"
#include "lib/lock/userlock.h"
#include "lib/log/log.h"
#include "supervision/posixApiHelper.h"
#include "supervision/recLockGuard.h"
#include "supervision/sigPipeShield.h"

namespace {

constexpr int kMaxRetries = 10;
constexpr auto kRetryPause = std::chrono::milliseconds(100);

} // namespace

PipeConnection::PipeConnection() : PipeConnection(-1, -1) {}

PipeConnection::PipeConnection(int readFd, int writeFd)
    : mReadFd(readFd), mWriteFd(writeFd), mLock(MXUser_CreateRecLock("PipeConnection", 0))
{
}

PipeConnection::~PipeConnection()
{
   PosixApiHelper *api = PosixApiHelper::getInstance();
   if (mReadFd > 0) {
      api->close(mReadFd);
   }
   if (mWriteFd > 0) {
      api->close(mWriteFd);
   }
   MXUser_DestroyRecLock(mLock);
}

void PipeConnection::setFds(int readFd, int writeFd, bool keepBlocking)
{
   RecLockGuard guard(mLock);
   if (mReadFd == -1) {
      mReadFd = readFd;
   }
   if (mWriteFd == -1) {
      mWriteFd = writeFd;
   }
   if (keepBlocking) {
      return;
   }
   PosixApiHelper *api = PosixApiHelper::getInstance();
   for (int fd : {mReadFd, mWriteFd}) {
      if (fd > 0) {
         int flags = api->fcntl(fd, F_GETFL);
         if (flags >= 0) {
            api->fcntl(fd, F_SETFL, static_cast<long>(flags | O_NONBLOCK));
         }
      }
   }
}

bool PipeConnection::sendBuf(const void *buf, size_t len)
{
   RecLockGuard guard(mLock);
   if (mWriteFd == -1) {
      Log_Level(2, "PipeConnection->%s: pipe is invalid.\n", "sendBuf");
      return false;
   }
   SigPipeShield::Arm();
   PosixApiHelper *api = PosixApiHelper::getInstance();
   const char *bytes = static_cast<const char *>(buf);
   size_t sent = 0;
   int retries = 0;
   while (sent < len) {
      ssize_t n = api->write(mWriteFd, bytes + sent, len - sent);
      if (n < 0 && errno != EINTR) {
         Log_Level(2, "PipeConnection->%s: Failed to send pipe data, size %lu, errno %d.\n",
                   "sendBuf", static_cast<unsigned long>(len), errno);
         return false;
      }
      if (n > 0) {
         sent += static_cast<size_t>(n);
         continue;
      }
      if (retries > kMaxRetries) {
         Log_Level(2, "PipeConnection->%s: Failed to send pipe data, retry max times.\n",
                   "sendBuf");
         return false;
      }
      retries++;
      std::this_thread::sleep_for(kRetryPause);
   }
   return true;
}

bool PipeConnection::recvBuf(void *buf, size_t len)
{
   RecLockGuard guard(mLock);
   if (mReadFd == -1) {
      Log_Level(2, "PipeConnection->%s: pipe is invalid.\n", "recvBuf");
      return false;
   }
   PosixApiHelper *api = PosixApiHelper::getInstance();
   char *bytes = static_cast<char *>(buf);
   size_t received = 0;
   int retries = 0;
   while (received < len) {
      ssize_t n = api->read(mReadFd, bytes + received, len - received);
      if (n > 0) {
         received += static_cast<size_t>(n);
         continue;
      }
      // End of file leaves errno as it was; a stale EINTR must not turn a
      // closed peer into retries.
      int err = n == 0 ? 0 : errno;
      if (err != EINTR) {
         Log_Level(2, "PipeConnection->%s: Failed to recv pipe buffer, size %lu, errno %d.\n",
                   "recvBuf", static_cast<unsigned long>(len), err);
         return false;
      }
      if (retries > kMaxRetries) {
         Log_Level(2, "PipeConnection->%s: Failed to recv pipe buffer, retry max times.\n",
                   "recvBuf");
         return false;
      }
      retries++;
      std::this_thread::sleep_for(kRetryPause);
   }
   return true;
}

bool PipeConnection::sendMsg(const std::string &text)
{
   // Masking copies the text; skip it when level 8 goes nowhere.
   if (Log_IsEnabled(LOG_DEBUG)) {
      Log_Level(8, "PipeConnection->Send Pipe Message: %s\n",
                CommonUtils::MaskPassword(text).c_str());
   }
   if (text.size() > kMaxMessage) {
      Log_Level(2,
                "PipeConnection->%s: Failed to send pipe message, message length %lu is out of "
                "range.\n",
                "sendMsg", static_cast<unsigned long>(text.size()));
      return false;
   }
   char frame[sizeof(uint32_t) + kMaxMessage];
   uint32_t len = static_cast<uint32_t>(text.size());
   memcpy(frame, &len, sizeof len);
   memcpy(frame + sizeof len, text.data(), text.size());
   return sendBuf(frame, sizeof len + text.size());
}

std::string PipeConnection::recvMsg()
{
   RecLockGuard guard(mLock);
   if (mReadFd < 0) {
      Log_Level(2, "PipeConnection->%s: The pipe is invalid.\n", "recvMsg");
      throw PipeException("The pipe is invalid");
   }
   int32_t len = 0;
   if (!recvBuf(&len, sizeof len)) {
      Log_Level(2, "PipeConnection->%s: Failed to recv pipe msg header.\n", "recvMsg");
      throw PipeException("Failed to recv pipe msg header");
   }
   if (len < 1 || len > static_cast<int32_t>(kMaxMessage)) {
      Log_Level(2, "PipeConnection->%s: Recv invalid msg header %d.\n", "recvMsg", len);
      throw PipeException("Recv invalid msg header");
   }
   std::string text(static_cast<size_t>(len), '\0');
   if (!recvBuf(&text[0], text.size())) {
      Log_Level(2, "PipeConnection->%s: Failed to recv pipe msg, length %d.\n", "recvMsg", len);
      throw PipeException("Failed to recv pipe msg");
   }
   text.resize(strnlen(text.c_str(), text.size()));
   return text;
}
