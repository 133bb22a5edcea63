/// Where a run's output goes: standard output, or with -o a file that is
/// replaced whole once the output is complete (AtomicFile). The run writes
/// to Stream() and calls Finish once the output is complete, so whatever
/// must wait for the output (deleting error-log records) waits until it
/// reached standard output or the file is in place. Not thread safe.
#ifndef TOOL_OUTPUTTARGET_H
#define TOOL_OUTPUTTARGET_H

#include <memory>
#include <ostream>
#include <string>

#include "tool/atomicFile.h"
#include "tool/blockOutput.h"

class OutputTarget
{
 public:
   /// `path`: the file of -o, or empty for standard output. Reasons for
   /// failures go to `err` as "fwdmaps: <FILE or standard output>: <why>".
   OutputTarget(std::string path, std::ostream &err);
   /// Flushes standard output; an unfinished file is discarded, so the
   /// target keeps its old content and no temporary file stays, also when
   /// the process ends through exit().
   ~OutputTarget();
   OutputTarget(const OutputTarget &) = delete;
   OutputTarget &operator=(const OutputTarget &) = delete;

   /// For a file, creates its temporary file. Returns true, or says why on
   /// the error stream and returns false (nothing was created).
   bool Open();

   /// The stream the run writes to.
   std::ostream &Stream() { return mStream; }

   /// Pushes everything written to its place: writes what standard output
   /// holds, or writes, syncs and renames the file over its target. Returns
   /// true when all of it got there; otherwise says why on the error stream
   /// and returns false, and a file target keeps its old content. Standard
   /// output may be finished again after more output (a watch finishes each
   /// sample); for a file, later calls return the first result and nothing
   /// written after it was finished reaches it.
   bool Finish();

   /// "standard output" or the file's path, as the error lines name it.
   const std::string &Name() const { return mName; }

 private:
   /// Says "fwdmaps: <name>: [<step>: ]<why of err>" and returns false.
   bool Fail(const std::string &step, int err);

   std::string mName;
   std::ostream &mErr;
   bool mToFile;
   AtomicFile mFile;
   // Declared after mFile: destroyed first, so what it holds goes to the
   // temporary file before that is discarded.
   std::unique_ptr<BlockOutputBuf> mBuf;
   std::ostream mStream;
   bool mFinished = false;
   bool mFinishResult = false;
};

#endif
