#!/usr/bin/env bash
# A longer run by hand: ./dev fuzz [SECONDS] runs every target that long, one
# after the other. tests/fuzz/run_long.sh SECONDS TARGET... runs only those.
# The grown corpora stay in build/fuzz/corpus/ for the next run.
source "$(dirname "$0")/fuzz_lib.sh"
SECONDS_EACH=${1:-600}
shift || true
[ $# -gt 0 ] && TARGETS=("$@")
build_fuzzers
failed=0
for t in "${TARGETS[@]}"; do run_target "$t" "$SECONDS_EACH" || failed=1; done
exit $failed
