#!/bin/sh
# Runs the configuration benchmarks; pass benchmark flags after the build dir.
# The start-up benchmark needs root: it puts the system configuration files
# in place inside a private mount namespace of its own.
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
"$build/bin/bench_config_file" --benchmark_color=false "$@"
"$build/bin/bench_config_startup" --benchmark_color=false "$@"
