# The files trelk-extract makes and the messages it gives: files get the
# user's umask; a box keeps the stub's text and gains, where the system gave a
# reason, a line with it and the path; a TMP that is exactly the current
# folder follows -d, as it follows the folder typed into the stub's dialog.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
make_tree tree
"$PACK" -q --stub stub.exe -o a.exe tree || fail "packing a.exe"
"$PACK" -q --stub stub.exe --split 30k -o split.exe tree || fail "packing split.exe"

for mask in 022 077 002; do
  rm -rf out
  run bash -c "umask $mask && exec '$EXTRACT' -q -d out a.exe"
  expect_rc "umask $mask" 0
  expect_equal "umask $mask: modes" "$(stat -c %a out/tree/README out/tree/sound/tone.wav | sort -u)" \
    "$(printf '%o' $((0666 & ~0$mask)))"
done

# check WHAT RC STDERR ARGS...: runs trelk-extract and checks what it said.
check() {
  local what=$1 rc=$2 err=$3
  shift 3
  run "$@"
  expect_rc "$what" "$rc"
  expect_equal "$what: stderr" "$ERR" "$err"
}

# A read-only file is still not overwritten, whoever asks.
rm -rf out && "$EXTRACT" -q -d out a.exe && chmod 444 out/tree/README
check "read-only file" 1 "Fatal Error!: Error while writing the file README.
Could not create file
cause: out/tree/README: Permission denied" "$EXTRACT" -q -o -d out a.exe
cmp -s tree/README out/tree/README || fail "read-only file: README changed"

rm -rf out && mkdir out && : >out/tree
check "a file where a folder goes" 1 "Fatal Error!: Error while writing the file README.
Could not create file
cause: out/tree/README: Not a directory" "$EXTRACT" -q -d out a.exe

check "no such archive" 1 "Fatal Error!: Error while reading the archive missing.exe.
Could not open archive file
cause: missing.exe: No such file or directory
File error: Couldn't load the catalog for the archive." "$EXTRACT" -q -d out missing.exe

mv split.A02 away.A02
check "a missing volume" 1 "Fatal Error!: Error while reading the archive split.exe.
A file of a split archive was not found
cause: split.A02: No such file or directory" "$EXTRACT" -q -o -d out split.exe
mv away.A02 split.A02

# Where the joined file of a split archive goes shows when a folder stands at
# its name, s<process id in base 32>.tmp: the report names the path.
temp_name() {  # temp_name PID
  local n=$1 digits=0123456789abcdefghijklmnopqrstuv name=""
  while :; do
    name=${digits:n%32:1}$name
    n=$((n / 32))
    [ "$n" -eq 0 ] && break
  done
  echo "s$name.tmp"
}
# joined_in WHAT FOLDER TMP-SETTING...: the temporary file is looked for in FOLDER.
joined_in() {
  local what=$1 folder=$2
  shift 2
  rm -rf out other && mkdir -p out other
  # The subshell's id is the one trelk-extract runs with after the exec.
  run bash -c 'name=$1; shift; mkdir "$name/$(temp_name $$)" && exec env "$@"' - "$folder" "$@" \
    "$EXTRACT" -q -d out split.exe
  expect_rc "$what" 1
  [[ $ERR == "Fatal Error!: Error while reading the archive split.exe.
Error while opening temporary file for writing
cause: $folder/s"*".tmp: Is a directory" ]] || fail "$what: $ERR"
}
export -f temp_name
joined_in "TMP is the current folder" out TMP="$PWD"
joined_in "no TMP" out -u TMP
joined_in "TMP is another folder" "$PWD/other" TMP="$PWD/other"
joined_in "TMP is the current folder in other words" "$PWD/" TMP="$PWD/"

finish
