#!/usr/bin/env bash
# Kills `stamp` and `unstamp` at every call that changes the file (strace
# injects SIGKILL at the Nth call of each syscall in turn, for every N until
# the command runs to its end), and makes those calls fail with ENOSPC or EIO.
# Each run must leave the exact original, a stamped movie that probes with its
# timecode, or an interrupted stamp whose first original-length bytes are the
# original's; unstamp (run again where needed) must always end at the original.
#   engine/tests/stamp_faults.sh ENGINE MAKE_MOVIE
# Exit status 77 (a skip for ctest) where strace is absent, 1 if CI is set.
set -euo pipefail
engine=$1
make_movie=$2
source "$(dirname "$0")/../../common/tests/support/require_programs.sh"
require_programs strace

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/seeds"
"$make_movie" seeds "$work/seeds"
original=$work/seeds/audio.mov
timecode=01:02:03:04
file=$work/movie.mov
failures=0
runs=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

same() { cmp -s "$1" "$2"; }

# The first `length` bytes of the file are the original's: readers that take
# the first moov still play it.
original_prefix() { cmp -s -n "$(stat -c %s "$original")" "$file" "$original"; }

stamped_and_verified() {
  local report
  report=$("$engine" probe "$file" 2>/dev/null) || return 1
  [[ $report == *"\"timecode\":\"$timecode\",\"appended\":true,"* ]]
}

# Runs the engine under strace, doing `action` at call `n` of `syscall`.
# Prints the engine's exit status (137 when killed).
traced() {
  local syscall=$1 n=$2 action=$3
  shift 3
  local status=0
  strace -f -qq -o /dev/null -e trace="$syscall" -e inject="$syscall:$action:when=$n" \
    "$engine" "$@" >"$work/out" 2>"$work/err" || status=$?
  echo "$status"
}

# unstamp until the original is back: at most twice (a killed unstamp may
# leave the interrupted form, which the second run finishes).
unstamp_to_original() {
  local what=$1
  same "$file" "$original" && return 0
  "$engine" unstamp "$file" >/dev/null 2>&1 || true
  same "$file" "$original" || fail "$what: unstamp did not give the original back"
}

check_after_stamp() {
  local what=$1
  if same "$file" "$original"; then
    return 0
  elif stamped_and_verified; then
    :
  elif ! original_prefix; then
    fail "$what: neither original, stamped nor an intact interrupted stamp"
  fi
  unstamp_to_original "$what"
}

syscalls=(pwrite64 fsync ftruncate utimensat)

# stamp killed at every call
for syscall in "${syscalls[@]}"; do
  for ((n = 1; ; n++)); do
    cp "$original" "$file"
    status=$(traced "$syscall" "$n" signal=SIGKILL stamp "$file" "$timecode")
    runs=$((runs + 1))
    if [ "$status" = 0 ]; then
      stamped_and_verified || fail "stamp ($syscall, $n): finished but does not probe as stamped"
      unstamp_to_original "stamp ($syscall, $n) finished"
      break
    fi
    [ "$status" = 137 ] || { fail "stamp ($syscall, $n): status $status: $(cat "$work/err")"; break; }
    check_after_stamp "stamp killed at $syscall #$n"
    [ "$n" -lt 20 ] || { fail "stamp: $syscall called more than 20 times"; break; }
  done
done

# unstamp killed at every call
cp "$original" "$file"
"$engine" stamp "$file" "$timecode" >/dev/null
cp "$file" "$work/stamped.mov"
for syscall in "${syscalls[@]}"; do
  for ((n = 1; ; n++)); do
    cp "$work/stamped.mov" "$file"
    status=$(traced "$syscall" "$n" signal=SIGKILL unstamp "$file")
    runs=$((runs + 1))
    if [ "$status" = 0 ]; then
      same "$file" "$original" || fail "unstamp ($syscall, $n): finished without the original"
      break
    fi
    [ "$status" = 137 ] || { fail "unstamp ($syscall, $n): status $status: $(cat "$work/err")"; break; }
    if ! same "$file" "$work/stamped.mov" && ! original_prefix; then
      fail "unstamp killed at $syscall #$n: neither stamped nor the original in front"
    fi
    unstamp_to_original "unstamp killed at $syscall #$n"
    [ "$n" -lt 20 ] || { fail "unstamp: $syscall called more than 20 times"; break; }
  done
done

# Failing calls: the engine undoes its work and says why.
expect_failed_stamp() {
  local syscall=$1 n=$2 error=$3 message=$4
  cp "$original" "$file"
  status=$(traced "$syscall" "$n" "error=$error" stamp "$file" "$timecode")
  runs=$((runs + 1))
  [ "$status" = 1 ] || fail "stamp with $syscall #$n failing $error: status $status"
  [ "$(cat "$work/err")" = "$message" ] || fail "stamp with $syscall #$n failing $error: said '$(cat "$work/err")'"
  same "$file" "$original" || fail "stamp with $syscall #$n failing $error: original changed"
}
expect_failed_stamp pwrite64 1 ENOSPC "No space left on device (os error 28)"
expect_failed_stamp fsync 1 ENOSPC "No space left on device (os error 28)"
expect_failed_stamp pwrite64 2 EIO "Input/output error (os error 5)"
expect_failed_stamp fsync 2 EIO "Input/output error (os error 5)"

# A read-back that fails, after the append and after the retyping: the reads
# that follow the first and the second flush.
cp "$original" "$file"
strace -f -qq -o "$work/calls" -e trace=pread64,fsync "$engine" stamp "$file" "$timecode" >/dev/null
read_after() { awk -v k="$1" '/fsync/ { f++ } /pread64/ { p++; if (f == k) { print p; exit } }' "$work/calls"; }
for k in 1 2; do
  n=$(read_after "$k")
  [ -n "$n" ] || { fail "no read after flush $k"; continue; }
  expect_failed_stamp pread64 "$n" EIO "Verification failed. The original is unchanged."
done

echo "$runs runs, $failures failures"
[ "$failures" = 0 ]
