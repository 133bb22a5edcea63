#!/bin/sh
# Runs the pipe round-trip benchmark; pass benchmark flags after the build dir.
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
exec "$build/bin/bench_supervision" --benchmark_color=false --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true "$@"
