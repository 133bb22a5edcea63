/// LoggerWrapper: the logging front of an agent component. One instance
/// per process, created on first use with the component's name: it starts
/// the log facility with the component's file output and defaults, holds
/// the component's verbosity as one of six level words, dumps byte buffers
/// in hexadecimal, and runs the thread that copies what children write into
/// the log pipe into the log.
///
/// Level words: "error" 2, "warn" 3, "info" 5, "debug" 8, "trace" 9,
/// "verbose" 10 (exact, case-sensitive); any other level is "unsupported".
///
/// Thread safe: the level and the flags are atomic, and every line goes
/// through the log facility, whose lock ("logLock") serialises the
/// redirection thread's lines with the component's own. startLogRedirect
/// and closeLogPipe take the wrapper's pipe mutex.
///
/// Descriptors: the wrapper owns both ends of the log pipe and the
/// redirection thread's wake-up descriptor (see supervision/README.md).
#ifndef SUPERVISION_LOGGERWRAPPER_H
#define SUPERVISION_LOGGERWRAPPER_H

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class LoggerWrapper
{
 public:
   /// The process's instance, created by the first call with `name`; later
   /// calls return it whatever name they pass. Never destroyed.
   static LoggerWrapper &getInstance(const std::string &name);

   /// The word of `level`, or "unsupported".
   static std::string levelName(int level);
   /// The first `n` characters of `text` (all when shorter) and "*****".
   static std::string maskString(const std::string &text, size_t n);

   /// Applies a level word; when the level changes, the log's global file
   /// threshold follows and the change is logged. An unknown word changes
   /// nothing.
   void setLogLevel(const std::string &word);
   int getLogLevel() const { return mLevel.load(); }

   /// Logs `title` and a newline, then each byte as two lower-case hex
   /// digits and a blank, at level 8: only when dumping is enabled (level 9
   /// or 10 at creation) or `force` is set. With `len` of 0 or less only
   /// the title, when given, is logged.
   void dumpData(const char *title, const unsigned char *bytes, int len, bool force);

   /// Starts the redirection thread, once per process: from then on every
   /// chunk (up to 1024 bytes) written to getLogPipeWriteFd() is logged as
   /// "[Child Process]: <text>" at level 5, one trailing newline dropped.
   void startLogRedirect();
   /// The write end to hand to a child as its output, or -1. Lent: valid
   /// until closeLogPipe; a holder that keeps it duplicates it (as
   /// ProcessObject does).
   int getLogPipeWriteFd() const { return mPipeWrite.load(); }
   /// Wakes the redirection thread, which logs what is already in the pipe
   /// and ends, joins it, then closes both ends of the log pipe that are
   /// open. Children holding the write end keep a pipe nobody reads. Not
   /// from the redirection thread.
   void closeLogPipe();

   ~LoggerWrapper();
   LoggerWrapper(const LoggerWrapper &) = delete;
   LoggerWrapper &operator=(const LoggerWrapper &) = delete;

 private:
   explicit LoggerWrapper(const std::string &name);
   void LogRedirectThread();

   std::atomic<bool> mDumpEnabled{false};
   std::atomic<int> mLevel{5};
   const std::string mName;
   std::atomic<int> mPipeRead{-1};
   std::atomic<int> mPipeWrite{-1};
   int mWake = -1;        ///< eventfd the redirection thread polls besides the pipe
   std::mutex mPipeMutex; ///< guards the thread object and mWake
   std::thread mThread;
};

#endif
