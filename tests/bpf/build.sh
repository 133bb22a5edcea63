#!/bin/sh
# Compiles the test proxy for the bpf target: build.sh <output object>.
# Exits with status 77 when clang is not installed, so callers can skip.
set -eu
out=${1:?usage: build.sh <output object>}
src=$(dirname "$0")/fwdTestProxy.bpf.c
command -v clang >/dev/null 2>&1 || { echo "build.sh: clang is not installed" >&2; exit 77; }
mkdir -p "$(dirname "$out")"
clang -O2 -g -Wall -target bpf -I/usr/include/x86_64-linux-gnu -c "$src" -o "$out.tmp"
mv "$out.tmp" "$out"
