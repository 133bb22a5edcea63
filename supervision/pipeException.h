/// PipeException: what PipeConnection::recvMsg throws when no whole message
/// could be received. Immutable after construction, so thread safe.
#ifndef SUPERVISION_PIPEEXCEPTION_H
#define SUPERVISION_PIPEEXCEPTION_H

#include <exception>
#include <string>

class PipeException : public std::exception
{
 public:
   explicit PipeException(const std::string &message);
   ~PipeException() override;
   /// The message given to the constructor, owned by the exception.
   const char *what() const noexcept override;

 private:
   std::string mMessage;
};

#endif
