#!/usr/bin/env bash
# backend/fuzz/run.sh [SECONDS] [JOBS]: the backend's fuzzer, see scripts/fuzz.
exec "$(dirname "$0")/../../scripts/fuzz" backend "$@"
