#!/usr/bin/env bash
# velmora-engine probe against ffprobe -show_streams on the same movies, as a
# ratio measured in this run:
#   short.mov      2 s of h264 + aac from ffmpeg
#   samples.mov    mjpeg video + 12 s of 48 kHz PCM from ffmpeg (576,000 audio samples)
#   chunks.mov     synthetic: 1,000,000 one-sample chunks in 100,000 top-level mdat atoms
#
#   bench/probe_bench.sh [BUILD_DIR] [ROUNDS]
# BUILD_DIR defaults to build/ (configured with the tests, which provide
# velmora-make-movie); ROUNDS (default 10) runs per movie and program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/lib.sh"
build=${1:-$top/build}
rounds=${2:-10}
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || { echo "ffmpeg and ffprobe are needed" >&2; exit 1; }
build_targets "$build" probe_bench_build.log velmora-engine velmora-make-movie
engine="$build/resources/bin/velmora-engine"
maker="$build/engine/tests/velmora-make-movie"

scratch_folder
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 \
  -t 2 -c:v libx264 -bf 0 -c:a aac "$work/short.mov"
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=32x32:rate=25 -f lavfi -i sine=sample_rate=48000 \
  -t 12 -c:v mjpeg -c:a pcm_s16le "$work/samples.mov"
"$maker" large "$work/chunks.mov" 1000000 10

# Mean wall time and mean CPU time (user + system) in milliseconds of ROUNDS
# runs of the command; CPU time is the steadier figure on a busy machine.
measure() {
  local TIMEFORMAT='%R %U %S' times
  times=$( { time (for _ in $(seq "$rounds"); do "$@" >/dev/null 2>&1 || exit 1; done) ; } 2>&1 ) ||
    { echo "failed: $*" >&2; exit 1; }
  awk -v n="$rounds" '{ printf "%.2f %.2f", $1 * 1000 / n, ($2 + $3) * 1000 / n }' <<<"$times"
}

printf '%-10s %14s %14s %10s %14s %14s %10s\n' movie "velmora ms" "ffprobe ms" "wall ratio" \
  "velmora cpu" "ffprobe cpu" "cpu ratio"
for movie in short samples chunks; do
  file="$work/$movie.mov"
  "$engine" probe "$file" >/dev/null
  read -r our_wall our_cpu <<<"$(measure "$engine" probe "$file")"
  read -r their_wall their_cpu <<<"$(measure ffprobe -v error -show_streams "$file")"
  awk -v m="$movie" -v a="$our_wall" -v b="$their_wall" -v c="$our_cpu" -v d="$their_cpu" 'BEGIN {
    printf "%-10s %14.2f %14.2f %9.1fx %14.2f %14.2f %9.1fx\n", m, a, b, (a > 0 ? b / a : 0), c, d, (c > 0 ? d / c : 0)
  }'
done
