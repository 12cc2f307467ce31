#!/usr/bin/env bash
# The Windows tools, trelk-pack.exe and trelk-extract.exe, under 64-bit Wine:
# a folder packed, listed and extracted again to the same bytes and names (one
# of them outside ASCII), a keyed archive, a split one, and archives of the
# Linux tools read by the Windows ones and the other way round.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
TOOLS=${TRELK_WINDOWS_TOOLS:-$ROOT/build/mingw-tools}
NATIVE=${TRELK_NATIVE:-$ROOT/build/native}
STUB=$ROOT/build/mingw-i686/trelk-sfx.exe
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64  # the 64-bit loader: plain `wine` may be the 32-bit one
WORK=$ROOT/build/wintools
FAILURES=0

fail() { echo "wintools: FAIL: $*" >&2; FAILURES=$((FAILURES + 1)); }
for f in "$TOOLS/trelk-pack.exe" "$TOOLS/trelk-extract.exe" "$STUB" "$NATIVE/trelk-pack" "$NATIVE/trelk-extract"; do
  [ -s "$f" ] || { echo "wintools: $f is missing: build it first" >&2; exit 1; }
done

# win TOOL ARGS...: runs a Windows tool, the archive's folder as its current folder.
win() {
  local tool=$1
  shift
  (cd "$WORK" && timeout 600 "$WINE64" "$TOOLS/$tool.exe" "$@")
}

rm -rf "$WORK" && mkdir -p "$WORK/tree/docs/deeper" "$WORK/tree/media"
cp "$STUB" "$WORK/trelk-sfx.exe"  # beside the archives, where a Windows user keeps it
printf 'Trelk on Windows\r\n' >"$WORK/tree/docs/readme.txt"
printf 'é' >"$WORK/tree/docs/café.txt"
seq 1 20000 >"$WORK/tree/docs/deeper/numbers.txt"
: >"$WORK/tree/docs/empty"
head -c 900000 /dev/urandom >"$WORK/tree/media/noise.bin"
if command -v sox >/dev/null; then sox -q -n -r 22050 -b 16 -c 2 "$WORK/tree/media/tone.wav" synth 3 sine 440; fi

# The prefix's first start can take minutes on a loaded machine.
echo "wintools: starting Wine (the first start of a prefix can take minutes)"
win trelk-pack --version >/dev/null || { echo "wintools: Wine did not start" >&2; exit 1; }

case_roundtrip() {  # case_roundtrip NAME PACK-OPTIONS...
  local name=$1
  shift
  rm -rf "$WORK/out" "$WORK/$name".*
  win trelk-pack -q --stub trelk-sfx.exe "$@" -o "$name.exe" tree || { fail "$name: trelk-pack.exe"; return; }
  local list
  list=$(win trelk-extract -l "${KEY[@]}" "$name.exe") || { fail "$name: trelk-extract.exe -l"; return; }
  grep -q 'tree/docs/café.txt' <<<"$list" || fail "$name: the list lacks tree/docs/café.txt: $list"
  win trelk-extract -q "${KEY[@]}" -d out "$name.exe" || { fail "$name: trelk-extract.exe"; return; }
  diff -r "$WORK/tree" "$WORK/out/tree" >/dev/null || fail "$name: the extracted tree differs"
  # And the Linux extractor reads what the Windows writer made.
  rm -rf "$WORK/out"
  "$NATIVE/trelk-extract" -q "${KEY[@]}" -d "$WORK/out" "$WORK/$name.exe" || fail "$name: trelk-extract (Linux)"
  diff -r "$WORK/tree" "$WORK/out/tree" >/dev/null || fail "$name: the tree extracted on Linux differs"
  # The same bytes as the Linux writer's.
  (cd "$WORK" && "$NATIVE/trelk-pack" -q --stub trelk-sfx.exe "$@" -o "linux-$name.exe" tree) || fail "$name: trelk-pack (Linux)"
  for v in "$WORK/$name".*; do
    cmp -s "$v" "$WORK/linux-${v##*/}" || fail "$name: ${v##*/} differs from the Linux writer's"
  done
  echo "wintools: $name passed"
}

KEY=()
case_roundtrip plain
KEY=(-k "Open Sesame")
case_roundtrip keyed --key "Open Sesame"
KEY=()
case_roundtrip split --split 400k
[ -e "$WORK/split.A02" ] || fail "split: expected three volumes or more"

# A refusal and a usage error keep their exit codes.
win trelk-pack -q --stub trelk-sfx.exe -o bad.exe nothere 2>/dev/null
[ $? -eq 1 ] || fail "a missing input: exit code"
win trelk-extract 2>/dev/null
[ $? -eq 2 ] || fail "no archive given: exit code"

if [ "$FAILURES" -ne 0 ]; then
  echo "wintools: $FAILURES check(s) failed" >&2
  exit 1
fi
echo "wintools: all cases passed"
