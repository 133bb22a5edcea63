/// --watch: the counter maps sampled at an interval, each counter with its
/// rate per second and its total, and the error log followed as it fills.
/// Every sample opens the map afresh from its pin, so a map re-created under
/// the pin is seen (its counters show as reset, never as a negative rate)
/// and one whose pin is gone ends the watch with status 1. Not thread safe.
#ifndef TOOL_WATCH_H
#define TOOL_WATCH_H

#include <time.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "tool/mapDump.h"

/// How a watch writes its samples.
enum class WatchForm {
   Screen, ///< a terminal: each sample redrawn in place under a top line
           ///< with the interval and the time; the error log is appended
   Lines,  ///< a header line, then one time-stamped line per sample
   Json,   ///< one JSON object per line: per sample, or per error-log record
};

/// One counter of a sample: the named counters of bpf_fwd_stats (indexes 0
/// to 3, summed over the CPUs) or bpf_fwd_err (codes 0 to 4).
struct CounterReading
{
   uint32_t key;
   std::string name; ///< "rx bytes", "lookup label"
   bool present;     ///< false when the map holds no such record
   unsigned __int128 total;
};

/// A counter map read once.
struct CounterSample
{
   struct timespec wall;                 ///< when it was read, for the reader
   double monotonic;                     ///< the same, in seconds of CLOCK_MONOTONIC, for rates
   uint32_t mapId;                       ///< the kernel's id of the map read; 0: no record
   std::vector<CounterReading> counters; ///< every named counter, in key order
};

/// Samples bpf_fwd_stats or bpf_fwd_err of a registry whose maps are open.
class CounterWatch
{
 public:
   /// `intervalSeconds` is shown on the screen form's top line. Reasons for
   /// failures go to `err` as "fwdmaps: <what>: <why>".
   CounterWatch(BpfMapRegistry &registry, std::string name, WatchForm form, double intervalSeconds,
                std::ostream &err);
   CounterWatch(const CounterWatch &) = delete;
   CounterWatch &operator=(const CounterWatch &) = delete;

   /// Reads the map and writes the sample, with each counter's rate since
   /// the previous sample ("-" or null for the first; a counter that went
   /// backwards or a re-created map shows "reset"), then `finish`es the
   /// output. Returns kStatusOk, or kStatusFailed when the pin is gone, the
   /// walk failed or the output failed.
   int Step(std::ostream &out, const OutputFinisher &finish);

 private:
   int Read(CounterSample *sample);
   void WriteScreen(std::ostream &out, const CounterSample &s) const;
   void WriteLine(std::ostream &out, const CounterSample &s) const;
   void WriteJson(std::ostream &out, const CounterSample &s) const;
   /// Rate text of counter `i` of `s`: "-", "reset" or per second.
   std::string RateText(const CounterSample &s, size_t i) const;
   /// False when counter `i` has no rate; `*reset` says why.
   bool Rate(const CounterSample &s, size_t i, double *perSecond, bool *reset) const;

   BpfMapRegistry &mRegistry;
   const std::string mName;
   const WatchForm mForm;
   const double mInterval;
   std::ostream &mErr;
   // One dump for the watch: a record too short for its layout is named once.
   MapDump mDump;
   bool mHavePrevious = false;
   CounterSample mPrevious;
};

/// Follows bpf_fwd_err_log of a registry whose maps are open: each step
/// writes the records that arrived since the previous one, sorted as the
/// listing sorts them, and deletes them only once they were written out.
class ErrLogFollow
{
 public:
   ErrLogFollow(BpfMapRegistry &registry, WatchForm form, std::ostream &err);
   ErrLogFollow(const ErrLogFollow &) = delete;
   ErrLogFollow &operator=(const ErrLogFollow &) = delete;

   /// Writes the new records (listing lines, or one JSON object each) and
   /// `finish`es the output; deletes them when that succeeded. Returns
   /// kStatusOk, or kStatusFailed when the pin is gone, the walk, the output
   /// or a deletion failed.
   int Step(std::ostream &out, const OutputFinisher &finish);

 private:
   BpfMapRegistry &mRegistry;
   const WatchForm mForm;
   std::ostream &mErr;
   MapDump mDump;
};

/// Watches map `name` (bpf_fwd_stats, bpf_fwd_err or bpf_fwd_err_log; maps
/// open): a step at once, then one every `intervalSeconds` on a fixed
/// schedule, until SIGINT or SIGTERM, `count` steps (0: no limit), or a
/// failed step. Returns kStatusOk when stopped or done, else the failed
/// step's status.
///
/// Process-wide: while it runs SIGINT and SIGTERM are blocked outside its
/// waits and caught (unless ignored), so a signal ends the watch between
/// steps, never inside one; the mask and the handlers are restored on
/// return.
int RunWatch(BpfMapRegistry &registry, const std::string &name, WatchForm form,
             double intervalSeconds, long count, std::ostream &out, std::ostream &err,
             const OutputFinisher &finish);

#endif
