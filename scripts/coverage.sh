#!/bin/sh
# Line coverage of the libraries (lib, common, supervision, bpfproxy, tool)
# under the whole test suite, overall and per folder.
#   scripts/coverage.sh [tree] [build-dir] [jobs]
# tree defaults to this checkout, build-dir to <tree>/build/coverage, jobs to 2.
# Run it as root so the kernel and namespace tests run instead of skipping;
# FWD_REQUIRE_KERNEL=1 turns such a skip into a failure. Needs gcovr.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "${1:-$here}" && pwd)
build=${2:-$tree/build/coverage}
jobs=${3:-2}
folders="lib common supervision bpfproxy tool"

command -v gcovr >/dev/null || { echo "coverage: gcovr is missing (apt-get install gcovr)" >&2; exit 1; }

launcher=""
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$tree}"
    launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic" \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage $launcher >/dev/null
cmake --build "$build" -j "$jobs"

# Counters of an earlier run would add to this one.
find "$build" -name '*.gcda' -delete
status=0
(ulimit -S -c 0; cd "$build" && FWD_REQUIRE_KERNEL=1 ctest --output-on-failure -j "$jobs") \
    >"$build/coverage-ctest.log" 2>&1 || status=$?
tail -n 3 "$build/coverage-ctest.log"
[ "$status" -eq 0 ] || echo "coverage: some tests failed (ctest exit $status), see $build/coverage-ctest.log" >&2

filters=""
for f in $folders; do filters="$filters --filter $f/"; done
# Only this build's counters: another coverage build in the tree must not count.
# shellcheck disable=SC2086
(cd "$tree" && gcovr --root "$tree" --object-directory "$build" $filters \
    --exclude 'tests/' --exclude 'fuzz/' --exclude 'bench/' --exclude 'examples/' \
    --exclude-directories '.*/CMakeFiles/[0-9.]+' \
    --gcov-ignore-parse-errors \
    -j "$jobs" --json-summary "$build/coverage-summary.json" --txt "$build/coverage.txt" \
    "$build" >/dev/null)

python3 - "$build/coverage-summary.json" $folders <<'EOF'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
def line(name, rows):
    total = sum(r["line_total"] for r in rows)
    covered = sum(r["line_covered"] for r in rows)
    pct = 100.0 * covered / total if total else 0.0
    print(f"{name:<12} {covered:>6} / {total:<6} {pct:6.2f}%")
for folder in sys.argv[2:]:
    line(folder, [r for r in files if r["filename"].startswith(folder + "/")])
line("overall", files)
EOF
exit "$status"
