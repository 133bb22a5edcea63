#include "supervision/loggerWrapper.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

#include "lib/config/config.h"
#include "lib/log/log.h"
#include "lib/log/logConfig.h"
#include "lib/misc/productState.h"
#include "lib/user/dictionary.h"

namespace {

struct LevelWord
{
   const char *word;
   int level;
};

const LevelWord kLevelWords[] = {
    {"error", 2}, {"warn", 3}, {"info", 5}, {"debug", 8}, {"trace", 9}, {"verbose", 10},
};

/// The level of a word, or -1 for a word not in the table.
int LevelOfWord(const std::string &word)
{
   for (const LevelWord &lw : kLevelWords) {
      if (word == lw.word) {
         return lw.level;
      }
   }
   return -1;
}

std::atomic<bool> gRedirectStarted{false};

} // namespace

LoggerWrapper &LoggerWrapper::getInstance(const std::string &name)
{
   // Never destroyed: components log until the very end of the process.
   static LoggerWrapper *instance = new LoggerWrapper(name);
   return *instance;
}

std::string LoggerWrapper::levelName(int level)
{
   for (const LevelWord &lw : kLevelWords) {
      if (lw.level == level) {
         return lw.word;
      }
   }
   return "unsupported";
}

std::string LoggerWrapper::maskString(const std::string &text, size_t n)
{
   return text.substr(0, n) + "*****";
}

LoggerWrapper::LoggerWrapper(const std::string &name) : mName(name)
{
   Dictionary *defaults = Dictionary_Create();
   Dictionary_SetString(defaults, (mName + ".log.filename").c_str(), "log.config");
   Dictionary_SetString(defaults, mName.c_str(), "log.suffix");
   Dictionary_SetLong(defaults, 50, "log.keepOld");
   Dictionary_SetString(defaults, "debug2", "log.fileLevel");

   char *word = Config_GetString("info", "%s.log.logLevel", mName.c_str());
   if (word != nullptr) {
      int level = LevelOfWord(word);
      if (level >= 0) {
         mLevel = level;
      }
      free(word);
   }
   mDumpEnabled = mLevel == 9 || mLevel == 10;

   // Copies: the log keeps the identity in the product state itself, and a
   // text must not be copied onto itself.
   const std::string product[] = {ProductState_GetName(), ProductState_GetVersion(),
                                  ProductState_GetBuildNumber(), ProductState_GetOption()};
   Log_SetProductInfo(product[0].c_str(), product[1].c_str(), product[2].c_str(),
                      product[3].c_str());
   Log_InitWithConfig(mName.c_str(), defaults, Log_GetSystemConfigProvider(), TRUE);
   Log_SetModuleFileLevel(0, mLevel);
   Dictionary_Free(defaults);
   Log_Level(5, "Log level of %s is %s\n", mName.c_str(), levelName(mLevel).c_str());
}

LoggerWrapper::~LoggerWrapper()
{
   closeLogPipe();
   Log_Exit();
}

void LoggerWrapper::setLogLevel(const std::string &word)
{
   int level = LevelOfWord(word);
   if (level < 0) {
      return;
   }
   int old = mLevel.exchange(level);
   if (old != level) {
      Log_SetModuleFileLevel(0, level);
      Log_Level(5, "Change log level from %s to %s\n", levelName(old).c_str(), word.c_str());
   }
}

void LoggerWrapper::dumpData(const char *title, const unsigned char *bytes, int len, bool force)
{
   if (!mDumpEnabled && !force) {
      return;
   }
   if (len <= 0) {
      if (title != nullptr) {
         Log_Level(8, "%s\n", title);
      }
      return;
   }
   size_t size = 3 * static_cast<size_t>(len) + 1 + (title != nullptr ? strlen(title) + 1 : 0);
   char *buf = static_cast<char *>(calloc(size, 1));
   if (buf == nullptr) {
      Log_Level(2, "Failed to dump data, bad calloc %d buffer", static_cast<int>(size));
      return;
   }
   char *at = buf;
   if (title != nullptr) {
      at += snprintf(at, size, "%s\n", title);
   }
   for (int i = 0; i < len; i++) {
      at += snprintf(at, size - static_cast<size_t>(at - buf), "%02x ", bytes[i]);
   }
   Log_Level(8, "%s\n", buf);
   free(buf);
}

void LoggerWrapper::startLogRedirect()
{
   bool started = false;
   if (!gRedirectStarted.compare_exchange_strong(started, true)) {
      Log_Level(5, "Log redirection thread is already started.\n");
      return;
   }
   std::lock_guard<std::mutex> guard(mPipeMutex);
   int fds[2];
   mWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
   // Close-on-exec: a child gets the write end only where it is made its
   // output (dup2 clears the flag there).
   if (mWake < 0 || pipe2(fds, O_CLOEXEC) != 0) {
      Log_Level(2, "Failed to create log pipe.\n");
   } else {
      fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
      mPipeRead = fds[0];
      mPipeWrite = fds[1];
   }
   mThread = std::thread(&LoggerWrapper::LogRedirectThread, this);
}

void LoggerWrapper::LogRedirectThread()
{
   int fd = mPipeRead;
   if (fd == -1) {
      Log_Level(2, "Log pipe is not opened correctly, return.\n");
      return;
   }
   char buf[1025];
   // The pipe stays open until this thread is joined. Once the wake-up
   // descriptor fires, it reads what is waiting, at most a default pipe's
   // capacity so that a child that keeps writing cannot hold the closer,
   // and ends.
   int drainLeft = -1; // chunks still to read once woken; -1: not woken
   while (drainLeft != 0) {
      if (drainLeft < 0) {
         // poll, not select: a descriptor above FD_SETSIZE must not
         // overrun an fd_set.
         struct pollfd pfd[2] = {{fd, POLLIN, 0}, {mWake, POLLIN, 0}};
         int ready = poll(pfd, 2, -1);
         if (ready < 0 && errno != EINTR) {
            Log_Level(3, "%s: Failed in select()!\n", "LogRedirectThread");
            break;
         }
         if (ready <= 0) {
            continue;
         }
         if (pfd[1].revents != 0) {
            drainLeft = 64;
         }
      }
      ssize_t n = read(fd, buf, sizeof buf - 1);
      if (drainLeft > 0) {
         drainLeft--;
      }
      if (n <= 0) {
         if (n == 0 || drainLeft >= 0) {
            // Every writer closed it, or nothing more is waiting.
            break;
         }
         continue;
      }
      buf[n] = '\0';
      if (buf[n - 1] == '\n') {
         buf[n - 1] = '\0';
      }
      Log_Level(5, "[Child Process]: %s\n", buf);
   }
   Log_Level(5, "Exit LogRedirectThread.\n");
}

void LoggerWrapper::closeLogPipe()
{
   std::lock_guard<std::mutex> guard(mPipeMutex);
   if (mWake >= 0) {
      uint64_t one = 1;
      (void)!write(mWake, &one, sizeof one);
   }
   if (mThread.joinable()) {
      mThread.join();
   }
   if (mWake >= 0) {
      close(mWake);
      mWake = -1;
   }
   for (std::atomic<int> *end : {&mPipeRead, &mPipeWrite}) {
      int fd = end->exchange(-1);
      if (fd > 0) {
         close(fd);
      }
   }
}
