# Encrypted archives from trelk-pack: a wrong key is refused by trelk-extract
# with exit code 1 and the corrupted-archive box, nothing is written; no key
# and no terminal to ask on is a cancel (exit code 3).
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
make_tree tree
"$PACK" -q --stub stub.exe --key "right key" -o single.exe tree || fail "packing single.exe"
"$PACK" -q --stub stub.exe --key "right key" --split 30k -o split.exe tree || fail "packing split.exe"

for archive in single.exe split.exe; do
  run "$EXTRACT" -k "wrong key" -d "out-$archive" "$archive"
  expect_rc "$archive: wrong key" 1
  expect_equal "$archive: wrong key text" "$ERR" "Fatal Error!: Error while reading the archive $archive.
This is an invalid or corrupted archive
File error: Couldn't load the catalog for the archive."
  [ -z "$(ls -A "out-$archive" 2>/dev/null)" ] || fail "$archive: a wrong key wrote files"

  run "$EXTRACT" -d "out-$archive" "$archive" </dev/null
  expect_rc "$archive: no key" 3
  expect_equal "$archive: no key text" "$ERR" "This archive is encrypted: give its key with -k (no terminal to ask on)."

  # Case and spaces do not count.
  run "$EXTRACT" -q -k "RIGHTKEY" -d "out-$archive" "$archive"
  expect_rc "$archive: right key" 0
  diff -r tree "out-$archive/tree" >/dev/null || fail "$archive: the extracted tree differs"
done

finish
