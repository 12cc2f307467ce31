#!/usr/bin/env bash
# Generates the benchmark audio into DIR (default build/bench/audio): about 60 s of
# speech (espeak-ng) and 60 s of synthesized music (sox), 44.1 kHz 16-bit mono,
# each also encoded with `flac -0`. Nothing here is committed; files are reused.
# No dither (-D), so that the same tools give the same audio every time.
set -euo pipefail
DIR=${1:-$(dirname "$0")/../build/bench/audio}
mkdir -p "$DIR"
SECONDS_LONG=60
TO_CD="-r 44100 -b 16 -c 1 -e signed-integer"

if [ ! -s "$DIR/speech.wav" ]; then
  text="The quick brown fox jumps over the lazy dog while the old clock in the hall strikes nine.
  Self-extracting archives carry their own program, so nobody needs to install anything first.
  Every block of samples is predicted from the samples before it, and only the small errors are stored.
  She sells sea shells by the sea shore, and the shells she sells are surely sea shells.
  Numbers like three hundred and forty two, or nineteen eighty four, keep the voice busy.
  A careful reader checks every byte against its checksum before trusting the result."
  parts=()
  i=0
  for voice in en en-us en-gb-scotland en+f3 en-us+m5 en+f4; do
    espeak-ng -v "$voice" -s $((150 + 10 * i)) -w "$DIR/part$i.wav" "$text"
    parts+=("$DIR/part$i.wav")
    i=$((i + 1))
  done
  # shellcheck disable=SC2086
  sox -D "${parts[@]}" $TO_CD "$DIR/speech.wav" trim 0 $SECONDS_LONG
  rm -f "${parts[@]}"
fi

if [ ! -s "$DIR/music.wav" ]; then
  # A chord progression of plucked strings over a bass, two chords a second, with reverb.
  chords=("C3 E4 G4 C5" "A2 E4 A4 C5" "F2 F4 A4 C5" "G2 D4 G4 B4" "E2 E4 G#4 B4" "D3 D4 F4 A4")
  bars=()
  for n in $(seq 0 $((SECONDS_LONG * 2 - 1))); do
    read -r bass a b c <<<"${chords[$(( (n / 4) % ${#chords[@]} ))]}"
    melody=$(( (n * 7) % 12 ))
    f="$DIR/bar$n.wav"
    sox -D -n -r 44100 -b 16 -c 5 "$f" synth 0.5 pluck "$bass" pluck "$a" pluck "$b" pluck "$c" \
      pluck "%$melody" remix - fade 0 0.5 0.05 gain -8
    bars+=("$f")
  done
  # shellcheck disable=SC2086
  sox -D -V1 "${bars[@]}" $TO_CD "$DIR/music.wav" reverb 40 gain -n -3
  rm -f "${bars[@]}"
fi

for name in speech music; do
  if [ ! -s "$DIR/$name.flac" ] || [ "$DIR/$name.wav" -nt "$DIR/$name.flac" ]; then
    flac -0 --silent -f -o "$DIR/$name.flac" "$DIR/$name.wav"
  fi
done
