// Time stamps for file names and millisecond clocks.
#include <sys/time.h>
#include <time.h>

#include <chrono>

#include "common/commonUtils.h"

std::string CommonUtils::GetTimeStamp()
{
   struct timeval tv;
   gettimeofday(&tv, nullptr);
   struct tm local;
   char buf[64] = {0};
   if (localtime_r(&tv.tv_sec, &local) != nullptr) {
      strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &local);
   }
   return buf;
}

int64_t CommonUtils::GetNowMs()
{
   auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
       std::chrono::system_clock::now().time_since_epoch());
   return ns.count() / 1000000;
}
