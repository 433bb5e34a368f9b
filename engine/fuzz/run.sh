#!/usr/bin/env bash
# Runs the coverage-guided fuzzer over open_movie and the probe report.
#   engine/fuzz/run.sh [SECONDS] [JOBS]
# Builds the fuzz preset (clang 16 or later: the engine needs std::expected)
# into build-fuzz/, fuzzes a working copy of the seed corpus, and leaves any crash
# as build-fuzz/crash-* . Add a fixed crash to engine/fuzz/corpus/ so that the
# unit tests replay it from then on.
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
cmake --build "$build" -j2 --target engine_open_movie_fuzzer
work="$build/fuzz-corpus"
mkdir -p "$work"
cp -n "$top"/engine/fuzz/corpus/* "$work"/ 2>/dev/null || true
parallel=()
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
cd "$build"
exec ./engine/fuzz/engine_open_movie_fuzzer -max_total_time="$seconds" "${parallel[@]}" \
  -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work"
