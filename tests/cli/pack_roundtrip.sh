# trelk-pack and trelk-extract: a folder tree packed and extracted back identical,
# plain, encrypted, split and both; the stored order; the summary.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
make_tree tree
printf 'single file\n' >single.txt

# Folders are walked in byte order of names, their own name included; a file
# argument lands at the top.
run "$PACK" --stub stub.exe -o order.exe tree single.txt
expect_rc "pack" 0
run "$EXTRACT" -l order.exe
expect_rc "list" 0
expect_equal "stored order" "$(awk 'NR > 1 && $4 != "files" { print $4 }' <<<"$OUT")" "tree/README
tree/docs/deep/er/also-empty
tree/docs/deep/random.bin
tree/docs/odd.txt
tree/empty.txt
tree/sound/tone.wav
single.txt"

# The wave is coded (smaller than stored raw); random bytes are stored as they are.
run "$PACK" --stub stub.exe -v -o verbose.exe tree/sound tree/docs/deep/random.bin
expect_rc "verbose pack" 0
wave_line=$(grep -F '.\sound\tone.wav' <<<"$OUT")
[[ "$wave_line" =~ ^\.\\sound\\tone\.wav\ \ 10056\ -\>\ ([0-9]+)\ bytes$ ]] && [ "${BASH_REMATCH[1]}" -lt 10056 ] ||
  fail "the wave is not coded smaller: $wave_line"
expect_equal "random file line" "$(grep -F random.bin <<<"$OUT")" '.\random.bin  70001 -> 70101 bytes (stored)'

# Every kind of archive extracts back to the same tree.
check_round_trip() {  # check_round_trip NAME PACK-ARGS... -- EXTRACT-ARGS...
  local name=$1 pack_args=() extract_args=()
  shift
  while [ "$1" != "--" ]; do pack_args+=("$1"); shift; done
  shift
  extract_args=("$@")
  run "$PACK" --stub stub.exe -o "$name.exe" "${pack_args[@]}" tree
  expect_rc "$name: pack" 0
  run "$EXTRACT" -q -d "out-$name" "${extract_args[@]}" "$name.exe"
  expect_rc "$name: extract" 0
  diff -r tree "out-$name/tree" >/dev/null || fail "$name: the extracted tree differs"
}
check_round_trip plain --
check_round_trip encrypted --key "Open Sesame" -- -k "open sesame"
printf 'from a file\r\nsecond line is not part of the key\n' >key.txt
check_round_trip keyfile --key-file key.txt -- -k "FROMAFILE"
check_round_trip split --split 20k --
check_round_trip split-encrypted --split 9000 --key k3y -- -k k3y

# Volumes: named as the extractor looks for them, each but the last filled
# to the given size, the last one not larger.
volumes=(split.exe split.A0{1..9})
count=$(ls split.* | wc -l)
[ "$count" -ge 3 ] || fail "only $count volumes"
for ((n = 0; n < count; n++)); do
  v=${volumes[n]}
  size=$(stat -c %s "$v" 2>/dev/null || echo missing)
  if ((n < count - 1)); then
    expect_equal "size of $v" "$size" 20480
  else
    [[ "$size" =~ ^[0-9]+$ ]] && [ "$size" -le 20480 ] || fail "last volume $v: $size bytes"
  fi
done

# "." stores the folder's contents at the top.
(cd tree && "$PACK" -q --stub ../stub.exe -o ../dot.exe .) || fail "packing . failed"
run "$EXTRACT" -q -d out-dot dot.exe
expect_rc "dot: extract" 0
diff -r tree out-dot >/dev/null || fail "dot: the extracted tree differs"

# The summary: files, input bytes, archive bytes, ratio, time.
run "$PACK" --stub stub.exe -o summary.exe single.txt
expect_equal "summary" "$(sed 's/, [0-9.]* s$/, T s/' <<<"$OUT")" \
  "Packed 1 file (12 bytes) into summary.exe: 4271 bytes, stub 4096 + archive 175 (1458.3% of the input), T s"
expect_equal "summary stderr" "$ERR" ""
run "$PACK" --stub stub.exe --split 5000 -o summary2.exe tree/docs/odd.txt tree/empty.txt
expect_equal "split summary" "$(sed 's/, [0-9.]* s$/, T s/' <<<"$OUT")" \
  "Packed 2 files (13 bytes) into summary2.exe: 4417 bytes, stub 4096 + archive 321 (2469.2% of the input), T s"
run "$PACK" -q --stub stub.exe -o quiet.exe single.txt
expect_equal "quiet output" "$OUT$ERR" ""

# An empty folder is not stored, and the run says so.
mkdir -p withempty/nothing
printf x >withempty/file
run "$PACK" --stub stub.exe -o withempty.exe withempty
expect_rc "empty folder" 0
expect_equal "empty folder warning" "$ERR" \
  "trelk-pack: warning: the empty folder withempty/nothing is not stored: an archive holds files only"

finish
