#!/bin/sh
# Runs every benchmark topic: bench/<topic>/run.sh when present, else its binary.
set -eu
build=${1:-build}
for dir in bench/*/; do
    topic=$(basename "$dir")
    echo "== bench: $topic"
    if [ -x "$dir/run.sh" ]; then
        "$dir/run.sh" "$build"
    elif [ -x "$build/bin/bench_$topic" ]; then
        "$build/bin/bench_$topic"
    else
        echo "bench: $topic has neither run.sh nor $build/bin/bench_$topic" >&2
        exit 1
    fi
done
