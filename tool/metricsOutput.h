/// Prometheus text exposition output of the proxy's counters, for scraping
/// through node exporter's textfile collector. Only bpf_fwd_stats and
/// bpf_fwd_err are offered; the error log is an event list, not a counter.
#ifndef TOOL_METRICSOUTPUT_H
#define TOOL_METRICSOUTPUT_H

#include <time.h>

#include <ostream>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "tool/mapDump.h"
#include "tool/records.h"

/// The byte counters: bpf_fwd_stats_bytes_total{counter,cpu} per CPU position
/// and bpf_fwd_stats_all_cpus_bytes_total{counter}, each family with its
/// HELP and TYPE lines even when empty. counter is rx, rx_end, tx or tx_end;
/// records without a known index are left out, as the text form does.
std::string FwdStatsMetrics(const std::vector<FwdStatsRecord> &records);

/// bpf_fwd_err_total{code,error}, with HELP and TYPE lines; unknown codes are
/// left out, as the text form does.
std::string FwdErrMetrics(const std::vector<FwdErrRecord> &records);

/// Walks the maps named (each bpf_fwd_stats or bpf_fwd_err; the maps are
/// open) and writes their metrics to `out`, finished with `finish`. Reasons
/// go to `err` as "fwdmaps: <what>: <why>". The collection gauges end the
/// text, with success 1 only when every walk reached its end. Returns the
/// exit status: 0; 1 when a
/// walk failed part way (what was read is still written) or the output
/// failed; 2 for a map this format does not offer.
int WriteMetrics(BpfMapRegistry &registry, const std::vector<std::string> &names, std::ostream &out,
                 std::ostream &err, const OutputFinisher &finish);

/// The freshness pair of the textfile collector's usual style, so an alert
/// can tell a stale file from a quiet proxy: gauges
/// fwdmaps_last_collection_timestamp_seconds (`when`, seconds since the
/// epoch, to the millisecond) and fwdmaps_last_collection_success (1 when
/// every counter map asked for was opened and read to its end, else 0),
/// each with HELP and TYPE lines. No sample carries a time stamp of its own:
/// the collector refuses those.
std::string CollectionMetrics(bool success, const struct timespec &when);

/// The wall-clock time for CollectionMetrics: now.
struct timespec CollectionTime();

#endif
