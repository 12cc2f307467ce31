#!/usr/bin/env bash
# Whole-extraction throughput: extracts a 100 MB audio entry with trelk-extract,
# decodes the same audio with `flac -d` and writes as many bytes with dd, all
# into one folder, and prints MB/s of output for each. Last line: `ratio R`,
# R = extraction speed / flac -d speed. Best of RUNS runs each (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/native}
WORK=${WORK:-build/bench/throughput}
RUNS=${RUNS:-3}
mkdir -p "$WORK"

cmake --build "$BUILD" --target trelk-pack trelk-extract >/dev/null
bash bench/make_audio.sh build/bench/audio >/dev/null

# About 100 MB of 16-bit mono audio: speech and music, repeated.
if [ ! -s "$WORK/big.wav" ]; then
  parts=()
  for _ in $(seq 9); do parts+=(build/bench/audio/speech.wav build/bench/audio/music.wav); done
  sox "${parts[@]}" "$WORK/big.wav"
fi
if [ ! -s "$WORK/big.flac" ] || [ "$WORK/big.wav" -nt "$WORK/big.flac" ]; then
  flac -0 --no-md5-sum --silent -f -o "$WORK/big.flac" "$WORK/big.wav" 2>/dev/null
fi

bash bench/lib/fake_stub.sh "$WORK/stub.bin"
"$BUILD/trelk-pack" -q --stub "$WORK/stub.bin" -o "$WORK/big.exe" "$WORK/big.wav"
bytes=$(stat -c %s "$WORK/big.wav")

# best_seconds COMMAND...: the fastest of RUNS wall-clock runs, output synced to disk.
best_seconds() {
  local best=""
  for _ in $(seq "$RUNS"); do
    rm -rf "$WORK/out" && mkdir -p "$WORK/out" && sync
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    sync
    t1=$(date +%s.%N)
    best=$(echo "$t0 $t1 ${best:-0}" | awk '{d = $2 - $1; if ($3 == 0 || d < $3) print d; else print $3}')
  done
  echo "$best"
}

extract=$(best_seconds "$BUILD/trelk-extract" -q -o -d "$WORK/out" "$WORK/big.exe")
cmp "$WORK/out/big.wav" "$WORK/big.wav"
flacd=$(best_seconds flac -d --silent -f -o "$WORK/out/big.wav" "$WORK/big.flac")
ddw=$(best_seconds dd if=/dev/zero of="$WORK/out/dd.bin" bs=1536 count=$((bytes / 1536)) status=none)

awk -v b="$bytes" -v e="$extract" -v f="$flacd" -v d="$ddw" 'BEGIN {
  mb = b / 1e6
  printf "output        %.1f MB\n", mb
  printf "trelk-extract %8.1f MB/s\n", mb / e
  printf "flac -d       %8.1f MB/s\n", mb / f
  printf "dd bs=1536    %8.1f MB/s\n", mb / d
  printf "extract / dd  %.2f\n", d / e
  printf "ratio %.2f\n", f / e
}'
