#include "tool/outputTarget.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

OutputTarget::OutputTarget(std::string path, std::ostream &err)
    : mName(path.empty() ? "standard output" : path), mErr(err), mToFile(!path.empty()),
      mFile(std::move(path)), mStream(nullptr)
{
   if (!mToFile) {
      // Lines are held and written in blocks unless a person watches.
      mBuf.reset(new BlockOutputBuf(STDOUT_FILENO, !isatty(STDOUT_FILENO)));
      mStream.rdbuf(mBuf.get());
   }
}

OutputTarget::~OutputTarget()
{
   if (!mToFile && mBuf) {
      mBuf->Flush();
   }
}

bool OutputTarget::Fail(const std::string &step, int err)
{
   mErr << "fwdmaps: " << mName << ": " << step << (step.empty() ? "" : ": ")
        << (err != 0 ? strerror(err) : "write failed") << std::endl;
   return false;
}

bool OutputTarget::Open()
{
   if (!mToFile) {
      return true;
   }
   int rc = mFile.Open();
   if (rc != 0) {
      mStream.setstate(std::ios::badbit);
      return Fail(mFile.FailedStep(), -rc);
   }
   mBuf.reset(new BlockOutputBuf(mFile.Fd(), true));
   mStream.rdbuf(mBuf.get());
   return true;
}

bool OutputTarget::Finish()
{
   if (mFinished && mToFile) {
      return mFinishResult;
   }
   mStream.flush();
   bool flushed = mBuf && mBuf->Flush() && mStream.good();
   // What failed is the first failed write, whichever of the stream's
   // flushes met it.
   int err = mBuf ? mBuf->Errno() : EBADF;
   if (!mToFile) {
      return flushed || Fail("", err);
   }
   mFinished = true;
   // Nothing more may reach a descriptor that is closed from here on.
   mStream.setstate(std::ios::badbit);
   if (!flushed) {
      mFile.Discard();
      return Fail("cannot write the temporary file", err);
   }
   int rc = mFile.Commit();
   if (rc != 0) {
      return Fail(mFile.FailedStep(), -rc);
   }
   mFinishResult = true;
   return true;
}
