#!/bin/sh
# Runs the map-dump benchmark (as root; it enters its own namespaces).
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
exec "$build/bin/bench_maps" --benchmark_color=false "$@"
