#!/usr/bin/env bash
# Wall time of `velmora-engine stamp` (the timecode appended to the movie
# itself) against `velmora-engine write` (a stamped copy), in one run:
#   4 GiB     the same movie of at least 4 GiB stamped in place and written,
#             interleaved (stamp, write, stamp, ...), medians and minimums
#             and the ratio stamp/write
#   100 GB    stamp on a sparse 100 GB movie: a small movie followed by a
#             sparse free atom; its median must stay under 0.2 s
# Every stamp is undone by an untimed unstamp, so each run starts from the
# same bytes.
#   bench/append_bench.sh [ENGINE] [RUNS]
# ENGINE defaults to build/resources/bin/velmora-engine; RUNS to 3 for the
# 4 GiB movie (the sparse one runs 3 * RUNS + 1 times). The work folder
# (BENCH_DIR, default /var/tmp) needs about 9 GiB free and sparse files;
# everything made here is removed at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/lib.sh"
engine_bench_setup append 3 "$@"
sparse=$work/sparse.mov

# Runs the command once after a sync, prints its wall time in seconds; a
# failing command ends the bench.
time_once() {
  sync
  local start
  start=$(now)
  "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  elapsed "$start" "$(now)"
}

undo_stamp() { "$engine" unstamp "$1" >/dev/null; }

# 1040 frames of raw 1080p 4:2:2 video ('2vuy', 4,147,200 bytes each) and
# PCM audio: about 4.02 GiB, moov last as ffmpeg writes it.
echo "generating $input ..."
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
  -frames:v 1040 -t 41.6 -c:v rawvideo -pix_fmt uyvy422 -c:a pcm_s16le "$input"
size=$(stat -c %s "$input")
[ "$size" -ge $((4 * 1024 * 1024 * 1024)) ] || { echo "input is only $size bytes" >&2; exit 1; }
cat "$input" >/dev/null

# A one-second movie, then a free atom with a 64-bit size that brings the
# file to 100 GB without a block of it written.
ffmpeg -v error -f lavfi -i testsrc2=size=128x96:rate=25 -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p "$sparse"
sparse_size=100000000000
small=$(stat -c %s "$sparse")
printf '\0\0\0\1free' >>"$sparse"
printf '%016x' $((sparse_size - small)) | xxd -r -p >>"$sparse"
truncate -s "$sparse_size" "$sparse"

declare -a stamp_times=() write_times=() sparse_times=()
for ((i = 0; i <= runs; i++)); do  # run 0 is discarded: the disk still takes the new input
  t_stamp=$(time_once "$engine" stamp "$input" 01:00:00:00)
  undo_stamp "$input"
  rm -f "$output"
  t_write=$(time_once "$engine" write "$input" "$output" 01:00:00:00)
  rm -f "$output"
  if [ "$i" -gt 0 ]; then
    stamp_times+=("$t_stamp")
    write_times+=("$t_write")
  fi
done
[ "$(stat -c %s "$input")" = "$size" ] || { echo "unstamp left $input at another size" >&2; exit 1; }

for ((i = 0; i <= 3 * runs; i++)); do
  t=$(time_once "$engine" stamp "$sparse" 01:00:00:00)
  undo_stamp "$sparse"
  [ "$i" -gt 0 ] && sparse_times+=("$t")
done
[ "$(stat -c %s "$sparse")" = "$sparse_size" ] || { echo "unstamp left $sparse at another size" >&2; exit 1; }

col() { printf '%s\n' "$@"; }
stamp_med=$(col "${stamp_times[@]}" | median)
write_med=$(col "${write_times[@]}" | median)
sparse_med=$(col "${sparse_times[@]}" | median)
printf 'input: %s bytes on %s, %s runs each, median and minimum wall time\n' "$size" "$(stat -f -c %T "$work")" "$runs"
printf '  %-28s %10s %10s\n' "" "median" "minimum"
printf '  %-28s %8.3f s %8.3f s\n' "velmora-engine stamp" "$stamp_med" "$(col "${stamp_times[@]}" | minimum)"
printf '  %-28s %8.3f s %8.3f s\n' "velmora-engine write" "$write_med" "$(col "${write_times[@]}" | minimum)"
printf '  %-28s %8s   %8s\n' "ratio stamp/write" "$(ratio "$stamp_med" "$write_med")" ""
printf 'sparse: %s bytes, %s runs\n' "$sparse_size" "${#sparse_times[@]}"
printf '  %-28s %8.3f s %8.3f s\n' "velmora-engine stamp" "$sparse_med" "$(col "${sparse_times[@]}" | minimum)"
if awk -v m="$sparse_med" 'BEGIN { exit !(m < 0.2) }'; then
  echo "  under 0.2 s: yes"
else
  echo "  under 0.2 s: NO"
  exit 1
fi
