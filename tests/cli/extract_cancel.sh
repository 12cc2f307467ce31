# Ctrl-C (SIGINT) and SIGTERM cancel trelk-extract as the dialog's Cancel does:
# the file being written and the joined temporary file of a split archive are
# removed, the files done before stay, and the exit code is 3.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
mkdir -p tree
printf 'done before the cancel\n' >tree/a.txt
# Random bytes are stored raw and copied in pieces of 1 MiB.
head -c $((24 << 20)) /dev/urandom >tree/big.bin
"$PACK" -q --stub stub.exe --split 8M -o split.exe tree || fail "packing split.exe"

# Runs trelk-extract on split.exe into out/ and signals it while it writes
# big.bin. big.bin is a FIFO that the test holds open at both ends: it stands
# in for a slow disk, since nothing the extractor writes gets past it until the
# test reads it, so the file cannot be finished before the signal comes.
cancel_while_writing() {  # cancel_while_writing SIGNAL
  local sig=$1
  rm -rf out && mkdir -p out/tree && mkfifo out/tree/big.bin
  exec 3<>out/tree/big.bin
  # Without TMP the joined temporary file goes beside the extracted files. A
  # script's background job ignores SIGINT; one started from a terminal does not.
  env -u TMP --default-signal=INT "$EXTRACT" -q -o -d out split.exe >"$WORK/.out" 2>"$WORK/.err" 3<&- &
  local pid=$!
  # Until trelk-extract itself has big.bin open: before the exec, the forked
  # shell still holds the test's own descriptor on it.
  until { [ "$(readlink "/proc/$pid/exe")" = "$(readlink -f "$EXTRACT")" ] &&
          [ -n "$(find "/proc/$pid/fd" -lname '*/out/tree/big.bin' 2>/dev/null)" ]; } || ! kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
  done
  local temps
  temps=$(cd out && ls s*.tmp 2>/dev/null)
  [ -n "$temps" ] || fail "$sig: no joined temporary file while big.bin is written"
  kill -"$sig" "$pid" 2>/dev/null || fail "$sig: trelk-extract had ended before the signal"
  # Let it write on to its next check of the cancel.
  cat <&3 >/dev/null &
  local drain=$!
  wait "$pid"
  RC=$?
  kill "$drain"
  wait "$drain" 2>/dev/null
  exec 3<&-
  OUT=$(cat "$WORK/.out")
  ERR=$(cat "$WORK/.err")
  expect_rc "$sig" 3
  expect_equal "$sig: messages" "$OUT$ERR" ""
  [ ! -e out/tree/big.bin ] || fail "$sig: the partial big.bin remains"
  [ -z "$(cd out && ls s*.tmp 2>/dev/null)" ] || fail "$sig: the joined temporary file $temps remains"
  cmp -s tree/a.txt out/tree/a.txt || fail "$sig: a.txt, done before the cancel, is not intact"
}

cancel_while_writing INT
cancel_while_writing TERM

# Ctrl-C typed on the terminal while the overwrite prompt waits for an answer:
# the prompt gives up at once, as Cancel, and the joined temporary file goes.
# script(1) gives trelk-extract a terminal; the test types into it through a FIFO.
rm -rf out keys && mkdir -p out/tree && mkfifo keys
printf 'kept\n' >out/tree/a.txt
script -qefc "exec env -u TMP --default-signal=INT '$EXTRACT' -q -d out split.exe" /dev/null <keys >"$WORK/.tty" 2>&1 &
pid=$!
exec 4>keys
until grep -q 'Do you want to overwrite it?' "$WORK/.tty" || ! kill -0 "$pid" 2>/dev/null; do
  sleep 0.1
done
printf '\003' >&4
wait "$pid"
RC=$?
exec 4>&-
ERR=$(cat "$WORK/.tty")
expect_rc "Ctrl-C at the prompt" 3
expect_equal "Ctrl-C at the prompt: the terminal" "$(tr -d '\r' <"$WORK/.tty")" "Overwrite?: The file a.txt already exists.
Do you want to overwrite it? [y]es, [n]o, [A]ll, [N]one, [c]ancel: ^C"
expect_equal "Ctrl-C at the prompt: a.txt" "$(cat out/tree/a.txt)" "kept"
[ -z "$(cd out && ls s*.tmp 2>/dev/null)" ] || fail "Ctrl-C at the prompt: the joined temporary file remains"
[ ! -e out/tree/big.bin ] || fail "Ctrl-C at the prompt: big.bin was written"

finish
