#include "tool/watch.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <cmath>
#include <optional>
#include <utility>

#include "tool/errLogListing.h"
#include "tool/jsonOutput.h"
#include "tool/records.h"

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM};

volatile sig_atomic_t gStopRequested = 0;

void RequestStop(int)
{
   gStopRequested = 1;
}

// SIGINT and SIGTERM blocked except while waiting, so a step always ends
// whole: an error-log record is never lost between its output and its
// deletion.
class StopSignals
{
 public:
   StopSignals()
   {
      gStopRequested = 0;
      sigset_t stop;
      sigemptyset(&stop);
      for (int sig : kStopSignals) {
         sigaddset(&stop, sig);
      }
      sigprocmask(SIG_BLOCK, &stop, &mOldMask);
      mWaitMask = mOldMask;
      for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; i++) {
         struct sigaction sa;
         memset(&sa, 0, sizeof sa);
         sa.sa_handler = RequestStop;
         sigemptyset(&sa.sa_mask);
         sigaction(kStopSignals[i], nullptr, &mOldActions[i]);
         // A signal ignored by whoever started the tool stays ignored.
         if (mOldActions[i].sa_handler != SIG_IGN) {
            sigaction(kStopSignals[i], &sa, nullptr);
            sigdelset(&mWaitMask, kStopSignals[i]);
         }
      }
   }
   ~StopSignals()
   {
      // Unblocked while still caught: a second signal pending now is taken
      // as another request to stop, not as the default's end.
      sigprocmask(SIG_SETMASK, &mOldMask, nullptr);
      for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; i++) {
         sigaction(kStopSignals[i], &mOldActions[i], nullptr);
      }
   }
   StopSignals(const StopSignals &) = delete;
   StopSignals &operator=(const StopSignals &) = delete;

   /// Waits until `deadline` (CLOCK_MONOTONIC). Returns false when a stop
   /// signal came first.
   bool WaitUntil(const struct timespec &deadline) const
   {
      for (;;) {
         if (gStopRequested) {
            return false;
         }
         struct timespec now;
         clock_gettime(CLOCK_MONOTONIC, &now);
         struct timespec left = {deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
         if (left.tv_nsec < 0) {
            left.tv_sec--;
            left.tv_nsec += 1000000000L;
         }
         if (left.tv_sec < 0) {
            return true;
         }
         // The stop signals are let in only here, atomically with the wait.
         ppoll(nullptr, 0, &left, &mWaitMask);
      }
   }

 private:
   sigset_t mOldMask;
   sigset_t mWaitMask;
   struct sigaction mOldActions[sizeof kStopSignals / sizeof kStopSignals[0]];
};

double Seconds(const struct timespec &t)
{
   return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct timespec AddSeconds(struct timespec t, double seconds)
{
   double whole = std::floor(seconds);
   t.tv_sec += static_cast<time_t>(whole);
   t.tv_nsec += static_cast<long>((seconds - whole) * 1e9);
   if (t.tv_nsec >= 1000000000L) {
      t.tv_sec++;
      t.tv_nsec -= 1000000000L;
   }
   return t;
}

// Local time to the millisecond; `iso` joins date and time with 'T' and
// adds the offset, so a line's time stamp is one word.
std::string TimeText(const struct timespec &t, bool iso)
{
   struct tm tm;
   localtime_r(&t.tv_sec, &tm);
   char date[40], text[64];
   strftime(date, sizeof date, iso ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &tm);
   char zone[8] = "";
   if (iso) {
      strftime(zone, sizeof zone, "%z", &tm);
   }
   snprintf(text, sizeof text, "%s.%03ld%s", date, t.tv_nsec / 1000000, zone);
   return text;
}

// "rx bytes" -> "rx_bytes": one word per column.
std::string ColumnName(std::string name)
{
   for (char &c : name) {
      c = c == ' ' ? '_' : c;
   }
   return name;
}

// `text` right-aligned in `width` columns, after one space.
void Column(std::ostream &out, const std::string &text, size_t width)
{
   out << ' ' << std::string(text.size() < width ? width - text.size() : 0, ' ') << text;
}

// Opens map `name` of `registry` afresh from its pin. Returns true, or says
// on `err` that the pin is gone and returns false.
bool ReopenWatched(BpfMapRegistry &registry, const std::string &name, std::ostream &err)
{
   int rc = registry.ReopenMap(name);
   if (rc != 0) {
      err << "fwdmaps: " << registry.BuildPinPath(name)
          << ": the map is gone: " << strerror(rc == -1 ? EINVAL : -rc) << std::endl;
      return false;
   }
   return true;
}

} // namespace

CounterWatch::CounterWatch(BpfMapRegistry &registry, std::string name, WatchForm form,
                           double intervalSeconds, std::ostream &err)
    : mRegistry(registry), mName(std::move(name)), mForm(form), mInterval(intervalSeconds),
      mErr(err), mDump(registry, err)
{
}

int CounterWatch::Read(CounterSample *s)
{
   if (!ReopenWatched(mRegistry, mName, mErr)) {
      return kStatusFailed;
   }
   s->mapId = 0;
   const bool stats = mName == kFwdStatsMapName;
   s->counters.clear();
   // Every key the records name, from 0 up.
   for (uint32_t key = 0; (stats ? FwdStatsLabel(key) : FwdErrName(key)) != nullptr; key++) {
      s->counters.push_back({key, stats ? FwdStatsName(key) : FwdErrName(key), false, 0});
   }
   auto set = [s](uint32_t key, unsigned __int128 total) {
      if (key < s->counters.size()) {
         s->counters[key].present = true;
         s->counters[key].total = total;
      }
   };
   clock_gettime(CLOCK_REALTIME, &s->wall);
   struct timespec mono;
   clock_gettime(CLOCK_MONOTONIC, &mono);
   s->monotonic = Seconds(mono);
   // The walk's own info record names the map read.
   int rc = mDump.Walk(mName, [&](const struct bpf_map_info &info, const RecordBytes &bytes) {
      s->mapId = info.id;
      FwdStatsRecord counter;
      FwdErrRecord err;
      if (stats && mDump.Decode(info, bytes, &counter) && counter.hasIndex) {
         set(counter.index, FwdStatsTotal(counter));
      } else if (!stats && mDump.Decode(info, bytes, &err)) {
         set(err.code, err.count);
      }
   });
   return rc == 0 ? kStatusOk : kStatusFailed;
}

bool CounterWatch::Rate(const CounterSample &s, size_t i, double *perSecond, bool *reset) const
{
   *reset = false;
   if (!mHavePrevious || !s.counters[i].present || !mPrevious.counters[i].present) {
      return false;
   }
   const unsigned __int128 now = s.counters[i].total, before = mPrevious.counters[i].total;
   double elapsed = s.monotonic - mPrevious.monotonic;
   if (s.mapId != mPrevious.mapId || now < before) {
      *reset = true;
      return false;
   }
   *perSecond = elapsed > 0 ? static_cast<double>(now - before) / elapsed : 0;
   return true;
}

std::string CounterWatch::RateText(const CounterSample &s, size_t i) const
{
   double perSecond;
   bool reset;
   if (!Rate(s, i, &perSecond, &reset)) {
      return reset ? "reset" : "-";
   }
   char text[48];
   snprintf(text, sizeof text, "%.1f", perSecond);
   return text;
}

void CounterWatch::WriteScreen(std::ostream &out, const CounterSample &s) const
{
   char every[32];
   snprintf(every, sizeof every, "Every %gs: ", mInterval);
   // Home, then each line cleared to its end and the rest of the screen
   // below: redrawn in place without a flash of an empty screen.
   out << "\033[H" << every << mName << "  " << TimeText(s.wall, false) << "\033[K\n\033[K\n";
   out << "counter        ";
   Column(out, "rate/s", 16);
   Column(out, "total", 24);
   out << "\033[K\n";
   for (size_t i = 0; i < s.counters.size(); i++) {
      const CounterReading &c = s.counters[i];
      out << c.name << std::string(c.name.size() < 15 ? 15 - c.name.size() : 0, ' ');
      Column(out, RateText(s, i), 16);
      Column(out, c.present ? DecimalText(c.total) : "-", 24);
      out << "\033[K\n";
   }
   out << "\033[J";
}

void CounterWatch::WriteLine(std::ostream &out, const CounterSample &s) const
{
   const std::string time = TimeText(s.wall, true);
   // The header goes before the first sample.
   if (!mHavePrevious) {
      out << "time" << std::string(time.size() - 4, ' ');
      for (const CounterReading &c : s.counters) {
         out << ' ' << ColumnName(c.name) << "/s " << ColumnName(c.name);
      }
      out << '\n';
   }
   out << time;
   for (size_t i = 0; i < s.counters.size(); i++) {
      const CounterReading &c = s.counters[i];
      const std::string column = ColumnName(c.name);
      Column(out, RateText(s, i), column.size() + 2);
      Column(out, c.present ? DecimalText(c.total) : "-", column.size());
   }
   out << '\n';
}

void CounterWatch::WriteJson(std::ostream &out, const CounterSample &s) const
{
   JsonValue counters = JsonValue::array();
   const bool stats = mName == kFwdStatsMapName;
   for (size_t i = 0; i < s.counters.size(); i++) {
      const CounterReading &c = s.counters[i];
      if (!c.present) {
         continue;
      }
      double perSecond;
      bool reset;
      bool rate = Rate(s, i, &perSecond, &reset);
      counters.push_back({{stats ? "index" : "code", c.key},
                          {"name", c.name},
                          {"total", CounterTotalJson(c.total)},
                          {"rate", rate ? JsonValue(perSecond) : JsonValue(nullptr)},
                          {"reset", reset}});
   }
   JsonValue interval = mHavePrevious ? JsonValue(s.monotonic - mPrevious.monotonic) : nullptr;
   // The time to the millisecond, as the metrics' collection time has it.
   double time =
       static_cast<double>(s.wall.tv_sec) + static_cast<double>(s.wall.tv_nsec / 1000000) / 1000.0;
   WriteJsonDocument(out, JsonValue{{"map", mName},
                                    {"time", time},
                                    {"interval", interval},
                                    {"counters", std::move(counters)}});
}

int CounterWatch::Step(std::ostream &out, const OutputFinisher &finish)
{
   CounterSample s;
   if (Read(&s) != kStatusOk) {
      return kStatusFailed;
   }
   switch (mForm) {
   case WatchForm::Screen:
      WriteScreen(out, s);
      break;
   case WatchForm::Lines:
      WriteLine(out, s);
      break;
   case WatchForm::Json:
      WriteJson(out, s);
      break;
   }
   mPrevious = std::move(s);
   mHavePrevious = true;
   return finish(out) ? kStatusOk : kStatusFailed;
}

ErrLogFollow::ErrLogFollow(BpfMapRegistry &registry, WatchForm form, std::ostream &err)
    : mRegistry(registry), mForm(form), mErr(err), mDump(registry, err)
{
}

int ErrLogFollow::Step(std::ostream &out, const OutputFinisher &finish)
{
   if (!ReopenWatched(mRegistry, kFwdErrLogMapName, mErr)) {
      return kStatusFailed;
   }
   ErrLogListing listing;
   int rc = mDump.CollectErrLog(&listing);
   if (mForm == WatchForm::Json) {
      for (const auto &entry : listing) {
         WriteJsonDocument(out, ErrLogJson(entry.second));
      }
   } else {
      WriteErrLogListing(out, listing);
   }
   // The records go only once they were written out.
   int status = mDump.Finish(out, finish);
   return rc == 0 ? status : kStatusFailed;
}

int RunWatch(BpfMapRegistry &registry, const std::string &name, WatchForm form,
             double intervalSeconds, long count, std::ostream &out, std::ostream &err,
             const OutputFinisher &finish)
{
   StopSignals stop;
   // Only the watcher the map needs: each holds a dump of its own.
   std::optional<CounterWatch> counters;
   std::optional<ErrLogFollow> follow;
   if (name == kFwdErrLogMapName) {
      follow.emplace(registry, form, err);
   } else {
      counters.emplace(registry, name, form, intervalSeconds, err);
   }
   struct timespec tick;
   clock_gettime(CLOCK_MONOTONIC, &tick);
   for (long done = 0;;) {
      int status = follow ? follow->Step(out, finish) : counters->Step(out, finish);
      if (status != kStatusOk) {
         return status;
      }
      if (count != 0 && ++done >= count) {
         return kStatusOk;
      }
      // A fixed schedule; a step that overran skips the ticks it missed
      // rather than sampling in a burst.
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      do {
         tick = AddSeconds(tick, intervalSeconds);
      } while (Seconds(tick) <= Seconds(now));
      if (!stop.WaitUntil(tick)) {
         return kStatusOk;
      }
   }
}
