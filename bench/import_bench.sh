#!/usr/bin/env bash
# One "import_movies" of a folder tree holding 2,000 small movies and 2,000
# other files, through velmora-mac-backend and the real engine, against a bare
# loop of `velmora-engine probe` over the same 2,000 movies, as a ratio
# measured in this run. Also checks that every movie is in "files" and every
# other file in "errors".
#
#   bench/import_bench.sh [BUILD_DIR] [MOVIES]
# BUILD_DIR defaults to build/; MOVIES (default 2000) movies and as many other files.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/lib.sh"
build=${1:-$top/build}
movies=${2:-2000}
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed" >&2; exit 1; }
build_targets "$build" import_bench_build.log velmora-engine velmora-mac-backend
resources="$build/resources"
engine="$resources/bin/velmora-engine"
backend="$resources/bin/velmora-mac-backend"

scratch_folder
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=64x48:rate=25:duration=0.2 -c:v libx264 \
  -preset ultrafast -pix_fmt yuv420p "$work/seed.mov"

# 20 folders of up to 100 movies and 100 text files each, two levels deep.
tree="$work/tree"
for ((i = 0; i < movies; i++)); do
  dir="$tree/group-$((i / 200))/part-$((i / 100 % 2))"
  [ -d "$dir" ] || mkdir -p "$dir"
  cp "$work/seed.mov" "$dir/clip-$i.mov"
  printf 'note %d\n' "$i" >"$dir/note-$i.txt"
done

now_ms() { date +%s%3N; }

# Baseline: the engine alone, once per movie.
start=$(now_ms)
find "$tree" -name '*.mov' -print0 | while IFS= read -r -d '' movie; do
  "$engine" probe "$movie" >/dev/null
done
bare_ms=$(($(now_ms) - start))

# The import, one request to a running backend.
mkdir -p "$work/home"
coproc BACKEND { HOME="$work/home" exec "$backend" "$resources"; }
start=$(now_ms)
printf '{"id":1,"command":"import_movies","args":{"paths":["%s"],"recursive":true}}\n' "$tree" >&"${BACKEND[1]}"
IFS= read -r reply <&"${BACKEND[0]}"
import_ms=$(($(now_ms) - start))
printf '{"id":2,"command":"shutdown"}\n' >&"${BACKEND[1]}"
wait "$BACKEND_PID" || true

files=$(grep -o '"relativeDir":' <<<"$reply" | wc -l)
errors=$(grep -o '"message":"Supported formats: MOV, MP4, M4V."' <<<"$reply" | wc -l)
all_errors=$(grep -o '"message":' <<<"$reply" | wc -l)
echo "movies in files: $files of $movies; other files in errors: $errors of $movies (errors in all: $all_errors)"
[ "$files" -eq "$movies" ] && [ "$errors" -eq "$movies" ] && [ "$all_errors" -eq "$movies" ] ||
  { echo "the import lost or misfiled entries" >&2; exit 1; }

awk -v bare="$bare_ms" -v import="$import_ms" -v n="$movies" 'BEGIN {
  printf "bare engine probe loop: %d ms, %.2f ms per movie\n", bare, bare / n
  printf "import_movies:          %d ms, %.2f ms per movie\n", import, import / n
  printf "ratio import / bare probe loop: %.2f\n", import / bare
}'
