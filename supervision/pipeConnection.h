/// PipeConnection: length-framed text messages over a pair of pipe
/// descriptors between the agent and a child it supervises.
///
/// On the wire a message is a 4-byte length in host byte order followed by
/// that many text bytes (1 to 8192, no terminating NUL). Every POSIX call
/// goes through PosixApiHelper. Failures are logged once at level 2; sends
/// return false, recvMsg throws PipeException.
///
/// Thread safe: every operation takes the connection's recursive lock
/// "PipeConnection" for its whole length, so a send and a receive on one
/// connection never overlap (a receive that waits blocks senders too).
#ifndef SUPERVISION_PIPECONNECTION_H
#define SUPERVISION_PIPECONNECTION_H

#include <cstddef>
#include <string>

#include "supervision/pipeException.h"

typedef struct MXUserRecLock MXUserRecLock;

class PipeConnection
{
 public:
   /// Largest message text, in bytes.
   static constexpr size_t kMaxMessage = 8192;

   /// Both descriptors -1 (unset).
   PipeConnection();
   /// Takes ownership of both descriptors (-1: unset). Their blocking mode
   /// is left as it is.
   PipeConnection(int readFd, int writeFd);
   /// Closes each descriptor above 0.
   virtual ~PipeConnection();
   PipeConnection(const PipeConnection &) = delete;
   PipeConnection &operator=(const PipeConnection &) = delete;

   /// A descriptor that is still -1 takes the value given, and the
   /// connection owns it; one already set stays, and a descriptor not taken
   /// stays the caller's. Unless `keepBlocking`, every descriptor above 0 is then made
   /// non-blocking, after which a send or receive that would block fails at
   /// once instead of waiting.
   void setFds(int readFd, int writeFd, bool keepBlocking);

   /// Writes all `len` bytes. Retries after EINTR or a zero-byte write at
   /// most 11 times, 100 ms apart; any other error, or no write descriptor,
   /// fails. A reader that has gone fails with EPIPE (never SIGPIPE).
   bool sendBuf(const void *buf, size_t len);
   /// Reads exactly `len` bytes, with the same retries after EINTR. End of
   /// file (the writer closed) and other errors fail. Never reads more than
   /// asked: what follows stays in the pipe, so poll on the read descriptor
   /// reports a message that is waiting.
   bool recvBuf(void *buf, size_t len);

   /// Logs the text with any password masked (level 8), then sends one
   /// frame. False, sending nothing, for a text above 8192 bytes.
   bool sendMsg(const std::string &text);
   /// Receives one frame and returns its text up to the first NUL byte.
   /// Throws PipeException with "The pipe is invalid", "Failed to recv pipe
   /// msg header", "Recv invalid msg header" (a length of 0 or above 8192)
   /// or "Failed to recv pipe msg".
   std::string recvMsg();

 private:
   int mReadFd;
   int mWriteFd;
   MXUserRecLock *mLock;
};

#endif
