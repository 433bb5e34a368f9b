# Sourced by the test scripts: require_programs NAME... returns when every
# named program is on PATH. Otherwise it exits 77 (a skip to ctest) naming
# what is missing, or 1 when CI is set: CI installs every peer, so a missing
# one there must not pass unseen.
require_programs() {
  local missing=() name
  for name in "$@"; do
    command -v "$name" >/dev/null || missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ -n "${CI:-}" ]; then
    echo "FAIL: not installed: ${missing[*]} (CI is set: every peer must be there)"
    exit 1
  fi
  echo "SKIP: not installed: ${missing[*]} (scripts/setup test installs them)"
  exit 77
}

# For a step of a test that can go without NAME: true when it is on PATH;
# else a note and false, or under CI the same failure as above.
have_peer() {
  command -v "$1" >/dev/null && return 0
  if [ -n "${CI:-}" ]; then
    echo "FAIL: not installed: $1 (CI is set: every peer must be there)"
    exit 1
  fi
  echo "NOTE: not installed: $1; the step that needs it is not tried"
  return 1
}
