#!/usr/bin/env bash
# engine/fuzz/run.sh [SECONDS] [JOBS]: the engine's fuzzer, see scripts/fuzz.
exec "$(dirname "$0")/../../scripts/fuzz" engine "$@"
