# trelk-pack writes its archive under a temporary name beside it and gives it
# its name only when it is whole: a failure, a full disk or Ctrl-C leaves no
# half archive and no temporary file, and an existing archive of that name is
# kept as it was. -j changes nothing in the bytes.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
make_tree tree
printf 'the archive of an earlier run\n' >old.exe

# no_temporaries WHAT: nothing but the archive's own names is left.
no_temporaries() {
  local left
  left=$(find . -name '.*trelk-*')
  [ -z "$left" ] || fail "$1: temporary files left: $left"
}
old_kept() {  # old_kept WHAT FILE
  [ "$(cat "$2")" = "the archive of an earlier run" ] || fail "$1: $2 was changed"
}

# A failure after the output was made: an input that cannot be read.
cp old.exe out.exe
run "$PACK" -q --stub stub.exe -o out.exe tree nothere
expect_rc "missing input" 1
old_kept "missing input" out.exe
no_temporaries "missing input"

# A full disk, as a file-size limit of 2 MiB makes one.
head -c $((5 << 20)) /dev/urandom >tree/noise.bin
cp old.exe out.exe
run bash -c "ulimit -f 2048; exec \"$PACK\" -q --stub stub.exe -o out.exe tree"
expect_rc "full disk" 1
expect_equal "full disk: message" "$ERR" "trelk-pack: cannot write out.exe: File too large"
old_kept "full disk" out.exe
no_temporaries "full disk"
cp old.exe split.exe
run bash -c "ulimit -f 2048; exec \"$PACK\" -q --stub stub.exe --split 3M -o split.exe tree"
expect_rc "full disk, split" 1
old_kept "full disk, split" split.exe
[ ! -e split.A01 ] || fail "full disk, split: volumes given their names"
no_temporaries "full disk, split"
rm tree/noise.bin

# The archive is written into the folder being packed: its temporary file and
# the archive itself are left out.
mkdir -p inside && cp -r tree inside/ && cp old.exe inside/self.exe
run "$PACK" --stub stub.exe -o inside/self.exe inside
expect_rc "packing the archive's own folder" 0
grep -q "skipping inside/self.exe: it is the archive being written" <<<"$ERR" ||
  fail "packing the archive's own folder: no word about the archive ($ERR)"
run "$EXTRACT" -q -d unpacked inside/self.exe
expect_rc "packing the archive's own folder: extract" 0
diff -r tree unpacked/inside/tree >/dev/null || fail "packing the archive's own folder: tree differs"
[ "$(cd unpacked/inside && ls -A)" = "tree" ] || fail "packing the archive's own folder: packed $(ls -A unpacked/inside)"
no_temporaries "packing the archive's own folder"

# Packing a folder into itself again and again: no earlier volume of the
# archive is packed, whatever it is named now.
mkdir -p again && cp -r tree again/ && head -c 300000 /dev/urandom >again/tree/noise.bin
for round in 1 2; do
  run "$PACK" -q --stub stub.exe --split 100k -o again/out.exe again
  expect_rc "repacking, round $round" 0
done
grep -c "it is a volume of the archive being written" <<<"$ERR" | grep -qx 3 ||
  fail "repacking: not every earlier volume named ($ERR)"
rm -rf unpacked
run "$EXTRACT" -q -d unpacked again/out.exe
expect_rc "repacking: extract" 0
[ "$(cd unpacked/again && ls -A)" = "tree" ] || fail "repacking: packed $(ls -A unpacked/again)"
no_temporaries "repacking"

# Ctrl-C and SIGTERM while a large input is coded: killed by the signal, with
# nothing left behind. The input takes seconds to code on one thread.
head -c $((256 << 20)) /dev/urandom >large.bin
for sig in INT TERM; do
  cp old.exe big.exe
  "$PACK" -q -j 1 --stub stub.exe -o big.exe large.bin 2>"$WORK/.err" &
  pid=$!
  until [ -n "$(find . -maxdepth 1 -name '.big.exe.trelk-*')" ] || ! kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
  sleep 0.3
  kill -"$sig" "$pid" 2>/dev/null || fail "$sig: trelk-pack had ended before the signal"
  wait "$pid"
  RC=$?
  expected=$((128 + $(kill -l "$sig")))
  [ "$RC" -eq "$expected" ] || fail "$sig: exit status $RC, expected $expected ($(cat "$WORK/.err"))"
  old_kept "$sig" big.exe
  no_temporaries "$sig"
done
rm large.bin

# Every thread count gives the same bytes, for small files and for one coded
# in many pieces.
sox -n -r 44100 -b 16 -c 2 tree/sound/long.wav synth 12 sine 440 sine 660 || fail "sox could not make a wave"
for j in 1 2 3 8; do
  run "$PACK" -q -j "$j" --stub stub.exe -o "j$j.exe" tree
  expect_rc "-j $j" 0
  cmp -s j1.exe "j$j.exe" || fail "-j $j: the archive differs from -j 1's"
done
run "$PACK" -j 0 --stub stub.exe -o j0.exe tree
expect_rc "-j 0" 2
expect_equal "-j 0: message" "$ERR" "trelk-pack: not a number of threads (1 to 256): 0; try --help"

finish
