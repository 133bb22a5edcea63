/// Output to a descriptor that holds lines and writes them in large blocks
/// when the descriptor is not a terminal. The bytes are the same either way;
/// only the number of write calls changes. Not thread safe.
#ifndef TOOL_BLOCKOUTPUT_H
#define TOOL_BLOCKOUTPUT_H

#include <streambuf>
#include <string>

class BlockOutputBuf : public std::streambuf
{
 public:
   /// `holdLines`: true to write only when the block is full or on Flush;
   /// false to write at every stream flush (each std::endl), as a terminal
   /// user expects.
   BlockOutputBuf(int fd, bool holdLines, size_t blockSize = 1 << 16);
   ~BlockOutputBuf() override;
   BlockOutputBuf(const BlockOutputBuf &) = delete;
   BlockOutputBuf &operator=(const BlockOutputBuf &) = delete;

   /// Writes everything held. Returns true when every byte so far reached
   /// the descriptor; false after any failed write (see Errno), after which
   /// further output is discarded.
   bool Flush();
   /// Appends one line as `<<` then std::endl would, without the stream's
   /// per-call costs: for the printers of the largest maps. Returns false
   /// once a write has failed.
   bool PutLine(const char *line, size_t len);
   /// The errno of the first failed write, or 0.
   int Errno() const { return mErrno; }

 protected:
   int_type overflow(int_type ch) override;
   std::streamsize xsputn(const char *s, std::streamsize n) override;
   int sync() override;

 private:
   bool WriteAll(const char *data, size_t len);

   int mFd;
   bool mHoldLines;
   std::string mBlock;
   size_t mBlockSize;
   int mErrno = 0;
};

#endif
