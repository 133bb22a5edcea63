#!/bin/sh
# Builds every libFuzzer target with clang and runs each for FUZZ_SECONDS
# from its seed corpus in fuzz/corpus/<name>/ (copied, so the tree stays clean).
set -eu
build=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-30}
if [ ! -e "$(clang -print-file-name=libclang_rt.fuzzer-x86_64.a)" ] &&
   ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    echo "fuzz: clang's fuzzer runtime is not installed; skipping"
    exit 0
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFWD_FUZZ=ON -DFWD_SANITIZE=address >/dev/null
cmake --build "$build" -j "$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for src in fuzz/*.cpp; do
    name=$(basename "$src" .cpp)
    mkdir -p "$work/$name"
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/$name/"
    echo "fuzz: $name for ${seconds}s"
    "$build/bin/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/$name" 2>"$work/$name.log" ||
        { tail -50 "$work/$name.log"; exit 1; }
    grep -E 'stat::number_of_executed_units' "$work/$name.log" || true
done
