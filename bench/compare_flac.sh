#!/usr/bin/env bash
# Our block decoder against libFLAC on the same audio, both decoding from memory to
# memory in one benchmark binary: about 60 s of speech and 60 s of music, 44.1 kHz
# 16-bit mono, libFLAC reading `flac -0` files with the MD5 check off.
# Prints, per audio, each decoder's speed (median of the repetitions, CPU time) and
# the stored sizes; the last line is `ratio R`, R = our speed / libFLAC's, the
# smaller of speech and music.
#   BENCH_BUILD=DIR (default build/bench)  BENCH_REPETITIONS=N (default 9)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BENCH_BUILD:-build/bench}
REPS=${BENCH_REPETITIONS:-9}

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DTRELK_BENCH=ON -DTRELK_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if ! log=$(cmake --build "$BUILD" -j 2 --target trelk_decoder_bench 2>&1); then
  echo "$log" >&2
  exit 1
fi
bash bench/make_audio.sh "$BUILD/audio"

# Interleaved repetitions, so that a busy moment of the machine hits both decoders alike.
"$BUILD/bench/trelk_decoder_bench" --audio-dir="$BUILD/audio" \
  --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null >"$BUILD/decoder_bench.csv"

awk -F, '
  NR == 1 { for (i = 1; i <= NF; i++) { gsub(/"/, "", $i); col[$i] = i }; next }
  {
    gsub(/"/, "", $1)
    if ($1 !~ /_median$/) next
    split(substr($1, 1, length($1) - 7), id, "/")   # decoder/audio
    speed[id[1], id[2]] = $col["bytes_per_second"] / 1e6
    wave[id[2]] = $col["wave_bytes"]; stored[id[2]] = $col["stored_bytes"]; flac[id[2]] = $col["flac_bytes"]
  }
  END {
    printf "%-7s %14s %15s %8s   %20s %20s %10s\n", "audio", "trelk MB/s", "libFLAC MB/s", "speed", \
      "trelk stored", "flac -0 file", "size/flac"
    worst = -1
    n = split("speech music", names, " ")
    for (j = 1; j <= n; j++) {
      a = names[j]
      r = speed["trelk", a] / speed["flac", a]
      if (worst < 0 || r < worst) worst = r
      printf "%-7s %14.0f %15.0f %7.2fx   %10d (%5.1f%%) %10d (%5.1f%%) %10.3f\n", a, speed["trelk", a], \
        speed["flac", a], r, stored[a], 100 * stored[a] / wave[a], flac[a], 100 * flac[a] / wave[a], stored[a] / flac[a]
    }
    printf "ratio %.2f\n", worst
  }' "$BUILD/decoder_bench.csv"
