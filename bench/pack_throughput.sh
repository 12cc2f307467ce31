#!/usr/bin/env bash
# Packing against `flac -0`, on audio this script makes itself: one 16-bit WAV
# of about 64 MB (speech and music, repeated) and a folder of eight such waves
# of about 510 MB in all. In each of ROUNDS rounds (default 5), interleaved so
# that a busy moment hits all alike: flac -0 on the wave, trelk-pack on it with
# the default -j and with -j 1, and trelk-pack on the folder. Prints medians,
# and on their own lines:
#   ratio R      flac -0 wall time / trelk-pack wall time on the wave (default -j)
#   ratio-j1 R   the same with -j 1
#   rss-mib M    trelk-pack's peak resident memory on the folder, in MiB
#   size S       archive size / flac -0 file size on the wave
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/native}
WORK=${WORK:-build/bench/pack}
ROUNDS=${ROUNDS:-5}
mkdir -p "$WORK/folder"

cmake --build "$BUILD" --target trelk-pack trelk-extract >/dev/null
bash bench/make_audio.sh build/bench/audio >/dev/null

if [ ! -s "$WORK/audio.wav" ]; then
  parts=()
  for _ in $(seq 6); do parts+=(build/bench/audio/speech.wav build/bench/audio/music.wav); done
  sox "${parts[@]}" "$WORK/audio.wav"
fi
# Eight waves, each the audio at another speed, so that no two are alike.
for i in $(seq 8); do
  [ -s "$WORK/folder/take$i.wav" ] || sox "$WORK/audio.wav" "$WORK/folder/take$i.wav" speed "0.9$i" rate 44100
done
bash bench/lib/fake_stub.sh "$WORK/stub.bin"

# seconds COMMAND...: wall-clock seconds of one run, written data flushed.
seconds() {
  sync
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  sync
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

pack=("$BUILD/trelk-pack" -q --stub "$WORK/stub.bin")
: >"$WORK/times"
for round in $(seq "$ROUNDS"); do
  echo "flac $(seconds flac -0 --silent -f -o "$WORK/audio.flac" "$WORK/audio.wav")" >>"$WORK/times"
  echo "pack $(seconds "${pack[@]}" -o "$WORK/audio.exe" "$WORK/audio.wav")" >>"$WORK/times"
  echo "pack1 $(seconds "${pack[@]}" -j 1 -o "$WORK/audio1.exe" "$WORK/audio.wav")" >>"$WORK/times"
  echo "folder $(seconds "${pack[@]}" -o "$WORK/folder.exe" "$WORK/folder")" >>"$WORK/times"
  echo "round $round of $ROUNDS done" >&2
done
cmp "$WORK/audio.exe" "$WORK/audio1.exe"

# The folder once more for its peak memory, and the archive checked by extracting it.
rss_kib=$( { /usr/bin/time -f %M "${pack[@]}" -o "$WORK/folder.exe" "$WORK/folder" >/dev/null; } 2>&1 | tail -n 1)
rm -rf "$WORK/out"
"$BUILD/trelk-extract" -q -d "$WORK/out" "$WORK/folder.exe"
diff -r "$WORK/folder" "$WORK/out/folder"

flac_s=$(awk '$1 == "flac" { print $2 }' "$WORK/times" | median)
pack_s=$(awk '$1 == "pack" { print $2 }' "$WORK/times" | median)
pack1_s=$(awk '$1 == "pack1" { print $2 }' "$WORK/times" | median)
folder_s=$(awk '$1 == "folder" { print $2 }' "$WORK/times" | median)
wave=$(stat -c %s "$WORK/audio.wav")
folder=$(du -sb "$WORK/folder" | cut -f1)
archive=$(( $(stat -c %s "$WORK/audio.exe") - 65536 ))
flac=$(stat -c %s "$WORK/audio.flac")
awk -v w="$wave" -v d="$folder" -v f="$flac_s" -v p="$pack_s" -v p1="$pack1_s" -v fo="$folder_s" \
    -v rss="$rss_kib" -v a="$archive" -v fl="$flac" -v cores="$(nproc)" 'BEGIN {
  printf "wave                %.1f MB, folder %.1f MB, %d cores\n", w / 1e6, d / 1e6, cores
  printf "flac -0             %6.2f s  %7.1f MB/s\n", f, w / 1e6 / f
  printf "trelk-pack          %6.2f s  %7.1f MB/s\n", p, w / 1e6 / p
  printf "trelk-pack -j 1     %6.2f s  %7.1f MB/s\n", p1, w / 1e6 / p1
  printf "trelk-pack, folder  %6.2f s  %7.1f MB/s\n", fo, d / 1e6 / fo
  printf "ratio %.2f\n", f / p
  printf "ratio-j1 %.2f\n", f / p1
  printf "rss-mib %.1f\n", rss / 1024
  printf "size %.3f\n", a / fl
}'
