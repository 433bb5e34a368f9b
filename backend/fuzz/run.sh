#!/usr/bin/env bash
# Runs the coverage-guided fuzzer over the backend's readers: the request
# stream, JSON and the typed arguments, and an engine's status output.
#   backend/fuzz/run.sh [SECONDS] [JOBS]
# Builds the fuzz preset (clang 16) into build-fuzz/, fuzzes a working copy of
# the seed corpus, and leaves any crash as build-fuzz/crash-* . Add a fixed
# crash to backend/fuzz/corpus/ so that the unit tests replay it from then on.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-300}
jobs=${2:-1}
build=${VELMORA_FUZZ_BUILD_DIR:-$top/build-fuzz}
compiler=()
if [ -n "${CXX_FUZZ:-}" ]; then
  compiler=(-DCMAKE_CXX_COMPILER="$CXX_FUZZ" -DCMAKE_C_COMPILER="${CXX_FUZZ/clang++/clang}")
fi
cmake --preset fuzz -S "$top" -B "$build" "${compiler[@]}" >/dev/null
cmake --build "$build" -j2 --target backend_input_fuzzer
work="$build/backend-fuzz-corpus"
mkdir -p "$work"
cp -n "$top"/backend/fuzz/corpus/* "$work"/ 2>/dev/null || true
parallel=()
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
cd "$build"
exec ./backend/fuzz/backend_input_fuzzer -max_total_time="$seconds" "${parallel[@]}" \
  -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work"
