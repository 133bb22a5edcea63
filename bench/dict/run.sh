#!/bin/sh
# Runs the dictionary lookup benchmark; pass benchmark flags after the build dir.
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
exec "$build/bin/bench_dict" --benchmark_color=false "$@"
