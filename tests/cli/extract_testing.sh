# trelk-extract -t decodes and checks every entry as an extraction does and
# writes nothing: no file, no folder, and of the joined temporary file of a
# split archive nothing that stays. Exit code 0 when all is well, 1 otherwise.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
make_tree tree
"$PACK" -q --stub stub.exe -o single.exe tree || fail "packing single.exe"
"$PACK" -q --stub stub.exe --key "a key of 13 c" -o keyed.exe tree || fail "packing keyed.exe"
"$PACK" -q --stub stub.exe --split 30k -o split.exe tree || fail "packing split.exe"
# One changed byte inside random.bin's raw data, the third entry, and one in
# the raw tail of tone.wav, the last.
cp single.exe damaged.exe
size=$(stat -c %s damaged.exe)
for offset in $((size - 20000)) $((size - 2)); do
  printf '\377' | dd of=damaged.exe bs=1 seek="$offset" conv=notrunc status=none
done

ALL="  tested: tree/README
  tested: tree/docs/deep/er/also-empty
  tested: tree/docs/deep/random.bin
  tested: tree/docs/odd.txt
  tested: tree/empty.txt
  tested: tree/sound/tone.wav"

# The folder it runs in holds files of the archive's names, with other
# contents: a test must neither ask about them nor touch them.
mkdir -p here/tree/docs/deep tmp
printf 'mine\n' >here/tree/README
printf 'mine too\n' >here/tree/docs/deep/random.bin
chmod 444 here/tree/README
# Every file with its size, mode and time, every folder with its mode and,
# unless a split archive's joined file came and went in it, its time.
snapshot() {
  (cd "$WORK" && find here tmp \( -type d -printf "%p %m ${1:-%T@}\n" \) -o -printf '%p %s %m %T@\n' | sort)
}
before=$(snapshot)
before_split=$(snapshot -)

# check WHAT RC STDOUT STDERR ARGS...: runs trelk-extract -t in here/ and
# checks that nothing there or in TMP changed.
check() {
  local what=$1 rc=$2 out=$3 err=$4
  shift 4
  run env -C here TMP="$WORK/tmp" "$EXTRACT" -t "$@"
  expect_rc "$what" "$rc"
  expect_equal "$what: stdout" "$OUT" "$out"
  expect_equal "$what: stderr" "$ERR" "$err"
  if [[ $* == *split* ]]; then
    expect_equal "$what: what is on disk" "$(snapshot -)" "$before_split"
  else
    expect_equal "$what: what is on disk" "$(snapshot)" "$before"
  fi
}

check "plain" 0 "$ALL" "" ../single.exe </dev/null
check "keyed" 0 "$ALL" "" -k "A KEY OF 13 C" ../keyed.exe
check "picked names" 0 "  tested: tree/docs/odd.txt
  tested: tree/sound/tone.wav" "" ../single.exe 'tree/sound/*.wav' tree/docs/odd.txt
# Each damaged entry is reported, and the rest are tested.
check "damaged" 1 "  tested: tree/README
  tested: tree/docs/deep/er/also-empty
  tested: tree/docs/odd.txt
  tested: tree/empty.txt" "Fatal Error!: Error while writing the file random.bin.
CRC error
Fatal Error!: Error while writing the file tone.wav.
CRC error" ../damaged.exe
check "damaged, the damaged entries picked" 1 "" "Fatal Error!: Error while writing the file random.bin.
CRC error
Fatal Error!: Error while writing the file tone.wav.
CRC error" -q ../damaged.exe '*.wav' '*.bin'
check "damaged, the sound entry picked" 1 "" "Fatal Error!: Error while writing the file tone.wav.
CRC error" ../damaged.exe 'tree/sound/*'
check "wrong key" 1 "" "Fatal Error!: Error while reading the archive keyed.exe.
This is an invalid or corrupted archive
File error: Couldn't load the catalog for the archive." -k "wrong" ../keyed.exe
# -d names where extracting would go; a test does not make it.
check "-t with -d" 0 "" "" -q -d new/folder ../single.exe

# The joined file of a split archive comes and goes in TMP, or without TMP in
# the current folder, as for an extraction.
check "split" 0 "$ALL" "" ../split.exe
check "split, quiet" 0 "" "" -q ../split.exe
run env -C here -u TMP "$EXTRACT" -t -q ../split.exe
expect_rc "split without TMP" 0
expect_equal "split without TMP: what is on disk" "$(snapshot -)" "$before_split"

finish
