#!/usr/bin/env bash
# Wall time of `velmora-engine write` on a movie of at least 1 GiB, against
# the baselines measured in the same run:
#   cp        one plain copy of the same file (what the write must come close to)
#   cp+fsync  the same copy forced to stable storage, as the write is
#   ffmpeg    a remux with a timecode, what a user would pick instead
# Prints the median of RUNS runs of each and the ratios write/cp, write/cp+fsync
# and ffmpeg/write.
#   bench/write_bench.sh [ENGINE] [RUNS]
# ENGINE defaults to build/resources/bin/velmora-engine; the work folder
# (BENCH_DIR, default /var/tmp) needs about 3 GiB free; everything made here is
# removed at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
engine=${1:-$top/build/resources/bin/velmora-engine}
runs=${2:-5}
[ -x "$engine" ] || { echo "no engine at $engine (build it first)" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed" >&2; exit 2; }

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/velmora-write-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
input=$work/input.mov
output=$work/output.mov

# 270 frames of raw 1080p 4:2:2 video ('2vuy', 4,147,200 bytes each) and PCM
# audio: about 1.04 GiB, a movie ffmpeg itself can remux.
echo "generating $input ..."
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
  -frames:v 270 -t 10.8 -c:v rawvideo -pix_fmt uyvy422 -c:a pcm_s16le "$input"
size=$(stat -c %s "$input")
[ "$size" -ge $((1024 * 1024 * 1024)) ] || { echo "input is only $size bytes" >&2; exit 1; }
cat "$input" >/dev/null  # every run starts with the input in the page cache

now() { echo "${EPOCHREALTIME/,/.}"; }

# Runs the command once, prints its wall time in seconds; the output is
# removed and written back to disk before the clock starts.
time_once() {
  rm -f "$output"
  sync
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  awk -v a="$end" -v b="$start" 'BEGIN { printf "%.6f\n", a - b }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); if (NR % 2) print v[m]; else print (v[m] + v[m + 1]) / 2 }'; }

declare -A samples
for ((i = 1; i <= runs; i++)); do
  samples[write]+="$(time_once "$engine" write "$input" "$output" 01:00:00:00)"$'\n'
  samples[cp]+="$(time_once cp "$input" "$output")"$'\n'
  samples[cpsync]+="$(time_once sh -c 'cp "$1" "$2" && sync "$2"' sh "$input" "$output")"$'\n'
  samples[ffmpeg]+="$(time_once ffmpeg -v error -i "$input" -map 0 -c copy -timecode 01:00:00:00 "$output")"$'\n'
done
rm -f "$output"

declare -A med
for name in write cp cpsync ffmpeg; do
  med[$name]=$(printf '%s' "${samples[$name]}" | median)
done

printf 'input: %s bytes, %s runs each, median wall time\n' "$size" "$runs"
printf '  velmora-engine write  %8.3f s\n' "${med[write]}"
printf '  cp                    %8.3f s\n' "${med[cp]}"
printf '  cp + fsync            %8.3f s\n' "${med[cpsync]}"
printf '  ffmpeg -c copy        %8.3f s\n' "${med[ffmpeg]}"
printf 'ratio write/cp          %8.3f\n' "$(ratio "${med[write]}" "${med[cp]}")"
printf 'ratio write/(cp+fsync)  %8.3f\n' "$(ratio "${med[write]}" "${med[cpsync]}")"
printf 'ratio ffmpeg/write      %8.3f\n' "$(ratio "${med[ffmpeg]}" "${med[write]}")"
