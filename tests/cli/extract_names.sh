# NAMEs after the archive pick the entries to extract, list or test: stored
# names with / or \ between folders, or shell patterns. A NAME that picks
# nothing is named on stderr and makes the exit code 1, after the rest is done.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
make_tree tree
"$PACK" -q --stub stub.exe -o a.exe tree || fail "packing a.exe"
"$PACK" -q --stub stub.exe --split 30k -o split.exe tree || fail "packing split.exe"

# check WHAT RC STDOUT STDERR ARGS...: extracts into a fresh out/ and checks
# what it printed and that out/ holds the extracted files only, as packed.
check() {
  local what=$1 rc=$2 out=$3 err=$4
  shift 4
  rm -rf out
  run "$EXTRACT" -d out "$@"
  expect_rc "$what" "$rc"
  expect_equal "$what: stdout" "$OUT" "$out"
  expect_equal "$what: stderr" "$ERR" "$err"
  local files
  files=$(cd out && find . -type f | sort)
  expect_equal "$what: files" "$files" "$(printf '%s\n' "$out" | sed -n 's|^  extracted: |./|p' | sort)"
  for f in $files; do cmp -s "tree/${f#./tree/}" "out/$f" || fail "$what: $f differs"; done
}

check "a stored name" 0 "  extracted: tree/docs/odd.txt" "" a.exe tree/docs/odd.txt
check "with backslashes" 0 "  extracted: tree/docs/odd.txt" "" a.exe 'tree\docs\odd.txt'
check "a pattern across folders" 0 "  extracted: tree/docs/odd.txt
  extracted: tree/empty.txt" "" a.exe '*.txt'
check "several, in archive order" 0 "  extracted: tree/README
  extracted: tree/sound/tone.wav" "" a.exe 'tree/sound/*' tree/README
check "split" 0 "  extracted: tree/docs/deep/random.bin" "" split.exe '*/random.*'
check "one matches nothing" 1 "  extracted: tree/README" "caution: filename not matched: tree/readme" \
  a.exe tree/README tree/readme
check "none matches" 1 "" "caution: filename not matched: nothing
caution: filename not matched: tree" a.exe nothing tree

# The list takes the same NAMEs: its rows are those of the whole list.
run "$EXTRACT" -l a.exe
whole=$OUT
run "$EXTRACT" -l a.exe 'tree/docs/*' missing
expect_rc "-l with names" 1
expect_equal "-l with names: stdout" "$OUT" "$(sed -n '1p; \|  tree/docs/|p' <<<"$whole")
     70014      70314            3 files"
expect_equal "-l with names: stderr" "$ERR" "caution: filename not matched: missing"

finish
