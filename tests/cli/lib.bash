# Shared by the command-line tests: sourced with the build folder as $1.
set -uo pipefail

BUILD=$(cd "${1:?usage: bash TEST.sh BUILD_DIR}" && pwd)
PACK=$BUILD/trelk-pack
EXTRACT=$BUILD/trelk-extract
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
FAILURES=0

fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}

finish() {
  if [ "$FAILURES" -ne 0 ]; then
    echo "$FAILURES check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

# run CMD...: runs it with stdout in $OUT, stderr in $ERR and the exit code in $RC.
run() {
  "$@" >"$WORK/.out" 2>"$WORK/.err"
  RC=$?
  OUT=$(cat "$WORK/.out")
  ERR=$(cat "$WORK/.err")
}

expect_rc() {  # expect_rc WHAT WANTED
  [ "$RC" -eq "$2" ] || fail "$1: exit code $RC, expected $2 (stderr: $ERR)"
}

expect_equal() {  # expect_equal WHAT ACTUAL EXPECTED
  [ "$2" == "$3" ] || fail "$1: got
---
$2
---
expected
---
$3
---"
}

# A stand-in for the stub: an MZ header whose field at 0x3C points to a PE
# signature at 0x80, and zero bytes, without the marker.
make_stub() {  # make_stub FILE [SIZE], SIZE at least 132
  [ "${2:-4096}" -ge 132 ] || { echo "make_stub: a stub has at least 132 bytes" >&2; return 1; }
  { printf 'MZ\220\000'; head -c 56 /dev/zero; printf '\200\000\000\000'; head -c 64 /dev/zero
    printf 'PE\000\000'; head -c $((${2:-4096} - 132)) /dev/zero; } >"$1"
}

# Little-endian bytes as printf escapes, into the variable LE (no subshell:
# the wave's samples call it thousands of times).
le() {  # le VALUE WIDTH
  local i byte
  LE=""
  for ((i = 0; i < $2; i++)); do
    printf -v byte '\\%03o' $((($1 >> (8 * i)) & 255))
    LE+=$byte
  done
}

# A mono 16-bit PCM wave of a triangle tone, followed by an odd-sized chunk
# that ends up in the raw tail.
make_wave() {  # make_wave FILE SAMPLES
  local n=$2 i samples="" header
  for ((i = 0; i < n; i++)); do
    le $((((i % 64 - 32) * 900) & 0xFFFF)) 2
    samples+=$LE
  done
  local data=$((2 * n))
  header='RIFF'; le $((4 + 24 + 8 + data + 8 + 3 + 1)) 4; header+="${LE}WAVE"
  header+='fmt '; le 16 4; header+=$LE; le 1 2; header+=$LE; le 1 2; header+=$LE
  le 8000 4; header+=$LE; le 16000 4; header+=$LE; le 2 2; header+=$LE; le 16 2; header+=$LE
  header+='data'; le $data 4; header+=$LE
  le 3 4
  printf "$header$samples"'note'"$LE"'abc\000' >"$1"
}

# The tree every round trip packs: empty files, nested folders, a wave, a
# binary file and files of odd length.
make_tree() {  # make_tree FOLDER
  mkdir -p "$1/docs/deep/er" "$1/sound"
  : >"$1/empty.txt"
  : >"$1/docs/deep/er/also-empty"
  printf 'odd, 13 bytes' >"$1/docs/odd.txt"
  printf 'Readme for the tree\n' >"$1/README"
  head -c 70001 /dev/urandom >"$1/docs/deep/random.bin"
  make_wave "$1/sound/tone.wav" 5000
}
