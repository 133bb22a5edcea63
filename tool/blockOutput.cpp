#include "tool/blockOutput.h"

#include <errno.h>
#include <unistd.h>

#include "lib/misc/util.h"

BlockOutputBuf::BlockOutputBuf(int fd, bool holdLines, size_t blockSize)
    : mFd(fd), mHoldLines(holdLines), mBlockSize(blockSize)
{
   mBlock.reserve(blockSize);
}

BlockOutputBuf::~BlockOutputBuf()
{
   Flush();
}

bool BlockOutputBuf::WriteAll(const char *data, size_t len)
{
   if (mErrno == 0 && !Util_WriteAll(mFd, data, len)) {
      mErrno = errno;
   }
   return mErrno == 0;
}

bool BlockOutputBuf::Flush()
{
   if (!mBlock.empty()) {
      WriteAll(mBlock.data(), mBlock.size());
      mBlock.clear();
   }
   return mErrno == 0;
}

BlockOutputBuf::int_type BlockOutputBuf::overflow(int_type ch)
{
   if (traits_type::eq_int_type(ch, traits_type::eof())) {
      return traits_type::not_eof(ch);
   }
   char c = traits_type::to_char_type(ch);
   return xsputn(&c, 1) == 1 ? ch : traits_type::eof();
}

std::streamsize BlockOutputBuf::xsputn(const char *s, std::streamsize n)
{
   if (mErrno != 0) {
      return 0; // the stream turns bad, as it would on a failed write
   }
   mBlock.append(s, static_cast<size_t>(n));
   if (mBlock.size() >= mBlockSize && !Flush()) {
      return 0;
   }
   return n;
}

bool BlockOutputBuf::PutLine(const char *line, size_t len)
{
   if (BlockOutputBuf::xsputn(line, static_cast<std::streamsize>(len)) !=
       static_cast<std::streamsize>(len)) {
      return false;
   }
   return mHoldLines || Flush();
}

int BlockOutputBuf::sync()
{
   if (mHoldLines) {
      return mErrno == 0 ? 0 : -1;
   }
   return Flush() ? 0 : -1;
}
