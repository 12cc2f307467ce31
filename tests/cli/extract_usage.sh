# trelk-extract's command line: a usage error is one line that says what is
# wrong (exit code 2), --help and --version answer on stdout, and --key-file
# takes the key from the file's first line.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe
mkdir -p tree && printf 'secret contents\n' >tree/a.txt
"$PACK" -q --stub stub.exe --key "open sesame 1" -o keyed.exe tree || fail "packing keyed.exe"

usage() {  # usage PROBLEM ARGS...: a usage error naming PROBLEM
  local problem=$1
  shift
  run "$EXTRACT" "$@"
  expect_rc "$*" 2
  expect_equal "$*: message" "$ERR" "trelk-extract: $problem; try --help"
  expect_equal "$*: stdout" "$OUT" ""
}
usage "no archive given"
usage "no archive given" -q -d out
usage "unknown option -x" -x keyed.exe
usage "unknown option --bogus" --bogus=1 keyed.exe
usage "-d needs a value" keyed.exe -d
usage "-d needs a folder" -d "" keyed.exe
usage "--key-file needs a value" keyed.exe --key-file
usage "give -l or -t, not both" -l -t keyed.exe
usage "give -o or -n, not both" -o -n keyed.exe
usage "give -k or --key-file, not both" -k x --key-file key.txt keyed.exe
[ ! -e out ] || fail "a usage error made the folder out"

run "$EXTRACT" --help
expect_rc "--help" 0
[[ $OUT == "usage: trelk-extract [options] ARCHIVE.exe [NAME...]"* ]] || fail "--help: $OUT"
[[ $OUT == *"Exit codes: 0 done"* ]] || fail "--help names no exit codes"
expect_equal "--help: stderr" "$ERR" ""

run "$EXTRACT" --version
expect_rc "--version" 0
expect_equal "--version" "$OUT" "trelk-extract 1.0"

# The first line only, without its line end (a Windows one included).
printf 'open sesame 1\r\nnot the key\n' >key.txt
run "$EXTRACT" --key-file key.txt -d out keyed.exe
expect_rc "--key-file" 0
expect_equal "--key-file: extracted" "$OUT" "  extracted: tree/a.txt"
cmp -s tree/a.txt out/tree/a.txt || fail "--key-file: a.txt differs"

printf 'a wrong key' >wrong.txt
run "$EXTRACT" --key-file wrong.txt -d wrong keyed.exe
expect_rc "--key-file with a wrong key" 1
[ -z "$(ls -A wrong 2>/dev/null)" ] || fail "a wrong key from the file wrote files"

run "$EXTRACT" --key-file missing.txt keyed.exe
expect_rc "a missing key file" 1
expect_equal "a missing key file: message" "$ERR" "trelk-extract: cannot read the key file missing.txt: No such file or directory"

finish
