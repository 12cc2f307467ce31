# Shared by run_short.sh and run_long.sh: builds the fuzz targets with clang,
# writes the seed corpora with the writer and runs one target at a time.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${TRELK_FUZZ_BUILD:-$ROOT/build/fuzz}
TARGETS=(block_decoder catalog extract volumes)
JOBS=${JOBS:-2}

# Longest input each target may grow to.
max_len() {
  case $1 in
    block_decoder) echo 4096 ;;
    volumes) echo 16384 ;;
    *) echo 8192 ;;
  esac
}

build_fuzzers() {
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DTRELK_FUZZ=ON -DTRELK_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  fi
  cmake --build "$BUILD" -j "$JOBS" --target fuzz_make_seeds "${TARGETS[@]/#/fuzz_}"
  rm -rf "$BUILD/seeds"
  "$BUILD/tests/fuzz/fuzz_make_seeds" "$BUILD/seeds"
}

# run_target NAME SECONDS: fuzzes NAME from its seeds, its saved findings and
# the corpus grown by earlier runs; prints the final stats; fails on any finding.
run_target() {
  local name=$1 seconds=$2
  local corpus=$BUILD/corpus/$name artifacts=$BUILD/artifacts/$name log=$BUILD/logs/$name.log
  mkdir -p "$corpus" "$artifacts" "$BUILD/logs"
  # The targets write their files below this folder, one per process.
  local sandbox
  sandbox=$(mktemp -d "${TMPDIR:-/tmp}/trelk-fuzz-run.XXXXXX")
  [ -w /dev/shm ] && { rmdir "$sandbox"; sandbox=$(mktemp -d /dev/shm/trelk-fuzz-run.XXXXXX); }
  local dirs=("$corpus" "$BUILD/seeds/$name")
  [ -d "$ROOT/tests/fuzz/regressions/$name" ] && dirs+=("$ROOT/tests/fuzz/regressions/$name")
  local status=0 started=$SECONDS
  TRELK_FUZZ_TMP=$sandbox ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    nice -n 19 "$BUILD/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
      -max_len="$(max_len "$name")" -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "${dirs[@]}" >"$log" 2>&1 || status=$?
  rm -rf "$sandbox"
  local done_line execs
  # The last status line: "#N DONE cov: X ft: Y corp: Z" or the last progress line.
  done_line=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 | sed -E 's/[[:space:]]+/ /g' || true)
  execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
  echo "fuzz $name: $((SECONDS - started))s, ${execs:-?} executions; ${done_line:-no final stats}" | tee -a "$BUILD/logs/history.txt"
  if [ "$status" -ne 0 ]; then
    echo "fuzz $name FAILED (exit $status); the log ends:" >&2
    tail -40 "$log" >&2
    ls -1 "$artifacts" >&2
    return 1
  fi
}
