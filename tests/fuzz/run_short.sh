#!/usr/bin/env bash
# A short bounded run of every fuzz target, for ./dev test and CI.
# Exits non-zero on any crash, hang, leak or failed check.
source "$(dirname "$0")/fuzz_lib.sh"
SECONDS_EACH=${TRELK_FUZZ_SECONDS:-20}
build_fuzzers
failed=0
for t in "${TARGETS[@]}"; do run_target "$t" "$SECONDS_EACH" || failed=1; done
exit $failed
