#!/bin/sh
# Runs the log benchmark; pass benchmark flags after the build dir. The
# repetitions are interleaved at random, so that a drift of the machine
# (the page cache filling, writeback) does not favour whichever runs first.
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
exec "$build/bin/bench_log" --benchmark_color=false --benchmark_repetitions=5 \
    --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true "$@"
