# What trelk-extract does with files that are already there: -n skips them,
# -o overwrites them, and on a terminal each one is asked about: yes, no (skip
# it), all, none (skip this and every later one), cancel. A skipped file is
# left as it was, its entry is reported skipped, and the run goes on.
source "$(dirname "$0")/lib.bash"
# A write to the question FIFO after trelk-extract ended fails the checks, not the script.
trap "" PIPE

make_stub stub.exe
mkdir -p tree
for f in a b c d; do printf 'new %s\n' "$f" >"tree/$f.txt"; done
"$PACK" -q --stub stub.exe -o four.exe tree || fail "packing four.exe"

# out/ with old a.txt to c.txt; d.txt is not there.
fresh_out() {
  rm -rf out && mkdir -p out/tree
  for f in a b c; do printf 'old %s\n' "$f" >"out/tree/$f.txt"; done
  touch -d '2001-02-03 04:05:06' out/tree/*.txt
}

# expect_files WHAT OLD...: the named files are as they were (d.txt absent),
# every other one is extracted.
expect_files() {
  local what=$1 f
  shift
  for f in a b c d; do
    if [[ " $* " == *" d "* && $f == d ]]; then
      [ ! -e out/tree/d.txt ] || fail "$what: d.txt was extracted"
    elif [[ " $* " == *" $f "* ]]; then
      expect_equal "$what: $f.txt" "$(cat "out/tree/$f.txt"; stat -c %y "out/tree/$f.txt")" \
        "old $f
2001-02-03 04:05:06.000000000 +0000"
    else
      cmp -s "tree/$f.txt" "out/tree/$f.txt" || fail "$what: $f.txt was not extracted"
    fi
  done
}

fresh_out
run "$EXTRACT" -n -d out four.exe
expect_rc "-n" 0
expect_equal "-n: stdout" "$OUT" "  skipped: tree/a.txt
  skipped: tree/b.txt
  skipped: tree/c.txt
  extracted: tree/d.txt"
expect_equal "-n: stderr" "$ERR" ""
expect_files "-n" a b c

fresh_out
run "$EXTRACT" -o -d out four.exe
expect_rc "-o" 0
expect_files "-o"

# Without a terminal nobody can answer: the run is cancelled before anything is written.
fresh_out
run "$EXTRACT" -d out four.exe </dev/null
expect_rc "no terminal" 3
expect_equal "no terminal: stdout" "$OUT" ""
expect_equal "no terminal: stderr" "$ERR" "Overwrite?: The file a.txt already exists.
Do you want to overwrite it?
(no terminal to answer on: refused; -o overwrites, -n skips)"
expect_files "no terminal" a b c d

# On a terminal: script(1) gives trelk-extract one, and the test types each
# answer once its question shows. Both outputs go through a pipe, so that the
# progress line, which is for terminals only, stays out of the transcript.
cat >with-pipe.sh <<EOT
"$EXTRACT" "\$@" 2>&1 | cat
exit "\${PIPESTATUS[0]}"
EOT
QUESTION="Do you want to overwrite it? [y]es, [n]o, [A]ll, [N]one, [c]ancel: "

answering() {  # answering ANSWER...: runs on four.exe into out/, typing the answers
  rm -f keys && mkfifo keys
  script -qefc "bash with-pipe.sh -d out four.exe" /dev/null <keys >"$WORK/.tty" 2>&1 &
  local pid=$! asked=0 answer
  exec 4>keys
  for answer in "$@"; do
    asked=$((asked + 1))
    until [ "$(grep -oF "$QUESTION" "$WORK/.tty" | wc -l)" -ge "$asked" ] || ! kill -0 "$pid" 2>/dev/null; do
      sleep 0.1
    done
    printf '%s\n' "$answer" >&4
  done
  wait "$pid"
  RC=$?
  exec 4>&-
  OUT=$(tr -d '\r' <"$WORK/.tty")
}

asked() {  # the question about one file, and the answer typed
  printf 'Overwrite?: The file %s already exists.\n%s%s' "$1" "$QUESTION" "$2"
}

fresh_out
answering n y n
expect_rc "no, yes, no" 0
expect_equal "no, yes, no: the terminal" "$OUT" "$(asked a.txt n)
  skipped: tree/a.txt
$(asked b.txt y)
  extracted: tree/b.txt
$(asked c.txt n)
  skipped: tree/c.txt
  extracted: tree/d.txt"
expect_files "no, yes, no" a c

fresh_out
answering no yes all
expect_rc "whole words" 0
expect_equal "whole words: the terminal" "$OUT" "$(asked a.txt no)
  skipped: tree/a.txt
$(asked b.txt yes)
  extracted: tree/b.txt
$(asked c.txt all)
  extracted: tree/c.txt
  extracted: tree/d.txt"
expect_files "whole words" a

fresh_out
answering A
expect_rc "all" 0
expect_equal "all: the terminal" "$OUT" "$(asked a.txt A)
  extracted: tree/a.txt
  extracted: tree/b.txt
  extracted: tree/c.txt
  extracted: tree/d.txt"
expect_files "all"

fresh_out
answering y N
expect_rc "yes, none" 0
expect_equal "yes, none: the terminal" "$OUT" "$(asked a.txt y)
  extracted: tree/a.txt
$(asked b.txt N)
  skipped: tree/b.txt
  skipped: tree/c.txt
  extracted: tree/d.txt"
expect_files "yes, none" b c

# An answer it does not know is asked again; Cancel ends the run at once.
fresh_out
answering n what c
expect_rc "cancel" 3
expect_equal "cancel: the terminal" "$OUT" "$(asked a.txt n)
  skipped: tree/a.txt
$(asked b.txt what)
$(asked b.txt c)"
expect_files "cancel" a b c d

finish
