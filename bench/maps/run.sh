#!/bin/sh
# Runs the map-dump benchmark (as root; it enters its own namespaces):
# medians of three repetitions, and their ratios.
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
exec "$build/bin/bench_maps" --benchmark_color=false --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true "$@"
