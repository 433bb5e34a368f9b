#!/usr/bin/env bash
# Wall time of `velmora-engine write` on a movie of at least 1 GiB, against
# the baselines measured in the same run:
#   cp        one plain copy of the same file; it leaves its data in the page
#             cache, unflushed
#   flush     the `sync` of that copy alone: the time the device needs to take
#             the bytes, which every durable copy pays and cp does not
#   cp+flush  the two together: the same copy forced to stable storage, as the
#             write is
#   ffmpeg    a remux with a timecode, what a user would pick instead
# The runs interleave (write, cp, flush, ffmpeg, write, ...) so that a change
# in the machine's load touches every column alike. Prints the median and the
# minimum of RUNS runs of each and the ratios write/cp, write/(cp+flush) and ffmpeg/write.
# With BENCH_COLD=1 (root only) it repeats write and cp+flush with the page
# cache dropped before each run, as when the movie comes from a card.
#   bench/write_bench.sh [ENGINE] [RUNS]
# ENGINE defaults to build/resources/bin/velmora-engine; the work folder
# (BENCH_DIR, default /var/tmp) needs about 3 GiB free; everything made here is
# removed at the end. Run it on the file system the movies live on: on one
# that shares blocks (XFS, Btrfs) both the write and cp clone the data.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/lib.sh"
engine_bench_setup write 5 "$@"

# 270 frames of raw 1080p 4:2:2 video ('2vuy', 4,147,200 bytes each) and PCM
# audio: about 1.04 GiB, a movie ffmpeg itself can remux.
echo "generating $input ..."
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
  -frames:v 270 -t 10.8 -c:v rawvideo -pix_fmt uyvy422 -c:a pcm_s16le "$input"
size=$(stat -c %s "$input")
[ "$size" -ge $((1024 * 1024 * 1024)) ] || { echo "input is only $size bytes" >&2; exit 1; }
cat "$input" >/dev/null  # every run starts with the input in the page cache

cold=${BENCH_COLD:-0}

# Makes the next run start from the same state: no output, nothing left to
# write back, and with BENCH_COLD=1 nothing of the input in memory either.
reset() {
  rm -f "$output"
  sync
  if [ "$cold" = 1 ]; then echo 3 >/proc/sys/vm/drop_caches; fi
}

# Runs the command once, prints its wall time in seconds.
time_once() {
  reset
  local start
  start=$(now)
  "$@" >/dev/null 2>&1
  elapsed "$start" "$(now)"
}

# cp, then the sync of its copy: prints both times on one line.
time_cp_then_flush() {
  reset
  local start copied
  start=$(now)
  cp "$input" "$output"
  copied=$(now)
  sync "$output"
  echo "$(elapsed "$start" "$copied") $(elapsed "$copied" "$(now)")"
}


declare -A samples
measure() {
  local i cp_flush
  for ((i = 1; i <= runs; i++)); do
    samples[write]+="$(time_once "$engine" write "$input" "$output" 01:00:00:00)"$'\n'
    cp_flush=$(time_cp_then_flush)
    samples[cp]+="${cp_flush% *}"$'\n'
    samples[flush]+="${cp_flush#* }"$'\n'
    samples[cpflush]+="$(awk -v a="${cp_flush% *}" -v b="${cp_flush#* }" 'BEGIN { printf "%.6f", a + b }')"$'\n'
    if [ "$cold" != 1 ]; then
      samples[ffmpeg]+="$(time_once ffmpeg -v error -i "$input" -map 0 -c copy -timecode 01:00:00:00 "$output")"$'\n'
    fi
  done
  rm -f "$output"
  declare -gA med=() best=()
  local name
  for name in "${!samples[@]}"; do
    med[$name]=$(printf '%s' "${samples[$name]}" | median)
    best[$name]=$(printf '%s' "${samples[$name]}" | minimum)
  done
}

row() { printf '  %-22s %8.3f s %8.3f s\n' "$1" "${med[$2]}" "${best[$2]}"; }
ratio_row() { printf '  %-22s %8.3f   %8.3f\n' "$1" "$(ratio "${med[$2]}" "${med[$3]}")" "$(ratio "${best[$2]}" "${best[$3]}")"; }

# Medians and minimums: on a shared machine the minimum is the run that the
# neighbours disturbed least.
report() {
  printf '  %-22s %10s %10s\n' "" "median" "minimum"
  row "velmora-engine write" write
  row "cp" cp
  row "  its flush alone" flush
  row "cp + flush" cpflush
  [ -n "${med[ffmpeg]:-}" ] && row "ffmpeg -c copy" ffmpeg
  if [ -n "${BENCH_VERBOSE:-}" ]; then
    local name
    for name in "${!samples[@]}"; do printf '  (%s: %s)\n' "$name" "$(printf '%s' "${samples[$name]}" | tr '\n' ' ')"; done
  fi
  ratio_row "ratio write/cp" write cp
  ratio_row "ratio write/(cp+flush)" write cpflush
  [ -n "${med[ffmpeg]:-}" ] && ratio_row "ratio ffmpeg/write" ffmpeg write
  return 0
}

printf 'input: %s bytes on %s, %s runs each, median and minimum wall time\n' "$size" "$(stat -f -c %T "$work")" "$runs"
if [ "$cold" = 1 ]; then
  [ -w /proc/sys/vm/drop_caches ] || { echo "BENCH_COLD=1 needs root" >&2; exit 2; }
  echo "page cache dropped before every run"
fi

# One discarded round first: the disk is still taking the freshly made input
# and the first runs of every column would pay for it.
saved_runs=$runs
runs=1
measure
samples=()
runs=$saved_runs
measure
report
