#include "tool/outputTarget.h"

#include <string.h>
#include <unistd.h>

#include "tool/mapDump.h"

namespace {

std::string Why(const std::string &step, int err)
{
   return step + ": " + (err != 0 ? strerror(err) : "write failed");
}

} // namespace

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

bool OutputTarget::Fail(const std::string &why)
{
   mErr << "fwdmaps: " << mName << ": " << why << std::endl;
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
      return Fail(Why(mFile.FailedStep(), -rc));
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
   if (!mToFile) {
      return FinishOutput(mStream);
   }
   mStream.flush();
   bool flushed = mBuf && mBuf->Flush() && mStream.good();
   mFinished = true;
   // Nothing more may reach a descriptor that is closed from here on.
   mStream.setstate(std::ios::badbit);
   if (!flushed) {
      mFile.Discard();
      return Fail(Why("cannot write the temporary file", mBuf ? mBuf->Errno() : EBADF));
   }
   int rc = mFile.Commit();
   if (rc != 0) {
      return Fail(Why(mFile.FailedStep(), -rc));
   }
   mFinishResult = true;
   return true;
}
