# Shared by the benches that build what they measure; sourced, not run.
# The sourcing script sets `top` (the source tree) first.

# build_targets BUILD_DIR LOG_NAME TARGET...: configures BUILD_DIR when it does
# not exist yet and builds the targets, keeping the output in BUILD_DIR/LOG_NAME;
# on a failure shows that log and ends the bench.
build_targets() {
  local build=$1 log="$1/$2"
  shift 2
  [ -d "$build" ] || cmake -S "$top" -B "$build" >/dev/null
  if ! cmake --build "$build" -j2 --target "$@" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
}

# scratch_folder: a new temporary folder in `work`, removed when the bench ends.
scratch_folder() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# engine_bench_setup NAME DEFAULT_RUNS [ENGINE] [RUNS]: sets `engine` and `runs`
# from the bench's arguments, checks the engine and ffmpeg are there, and makes
# `work`, a folder below BENCH_DIR (default /var/tmp, where big files fit)
# removed when the bench ends, with `input` and `output` movie paths in it.
engine_bench_setup() {
  local name=$1
  runs=${4:-$2}
  engine=${3:-$top/build/resources/bin/velmora-engine}
  [ -x "$engine" ] || { echo "no engine at $engine (build it first)" >&2; exit 2; }
  command -v ffmpeg >/dev/null || { echo "ffmpeg is needed" >&2; exit 2; }
  work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/velmora-$name-bench-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  input=$work/input.mov
  output=$work/output.mov
}

# Wall-clock arithmetic in seconds, and the statistics of a column of numbers
# on standard input.
now() { echo "${EPOCHREALTIME/,/.}"; }
elapsed() { awk -v a="$2" -v b="$1" 'BEGIN { printf "%.6f\n", a - b }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); if (NR % 2) print v[m]; else print (v[m] + v[m + 1]) / 2 }'; }
minimum() { sort -g | head -n 1; }
