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
