#!/usr/bin/env bash
# An archive larger than 4 GiB: three files just below the 2 GiB an entry may
# hold (two of random bytes, stored raw, and a long wave, coded), packed by
# trelk-pack and extracted again by trelk-extract, once whole and once split
# into 1 GiB volumes. Prints the sizes, times and peak memory of each step and
# checks every extracted file byte for byte. Needs about 20 GB of disk.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/native}
WORK=${WORK:-build/bench/large}
mkdir -p "$WORK/in"

cmake --build "$BUILD" --target trelk-pack trelk-extract >/dev/null
size=$((2147483647 - 1000))
for name in a b; do
  if [ "$(stat -c %s "$WORK/in/random-$name.bin" 2>/dev/null || echo 0)" != "$size" ]; then
    openssl enc -aes-128-ctr -nosalt -K "0011223344556677889900aabbccddee" -iv "0000000000000000000000000000000$name" \
      </dev/zero 2>/dev/null | head -c "$size" >"$WORK/in/random-$name.bin" || true
  fi
done
# About 1.2 GB of stereo tones: a file the coder has to work through.
[ -s "$WORK/in/tones.wav" ] || sox -n -r 44100 -b 16 -c 2 "$WORK/in/tones.wav" synth 7000 sine 220 sine 330 gain -6
bash bench/lib/fake_stub.sh "$WORK/stub.bin"

# step NAME COMMAND...: runs it, prints wall time and peak memory.
step() {
  local name=$1
  shift
  /usr/bin/time -f "$name %e s, peak %M KiB" "$@" >/dev/null
}

for mode in whole split; do
  rm -rf "$WORK/out" "$WORK"/archive.*
  split=()
  [ "$mode" = whole ] || split=(--split 1G)
  step "pack ($mode)" "$BUILD/trelk-pack" -q "${split[@]}" --stub "$WORK/stub.bin" -o "$WORK/archive.exe" "$WORK/in"
  total=$(cat "$WORK"/archive.* | wc -c)
  echo "archive ($mode): $(ls "$WORK"/archive.* | wc -l) file(s), $total bytes ($(awk -v t="$total" 'BEGIN { printf "%.2f", t / 2^30 }') GiB)"
  [ "$total" -gt $((4 << 30)) ] || { echo "the archive is not larger than 4 GiB" >&2; exit 1; }
  step "extract ($mode)" "$BUILD/trelk-extract" -q -d "$WORK/out" "$WORK/archive.exe"
  for f in "$WORK"/in/*; do cmp "$f" "$WORK/out/in/$(basename "$f")"; done
  echo "extracted ($mode): every file is the same"
done
rm -rf "$WORK/out" "$WORK"/archive.*
