# trelk-pack refuses, with exit code 2 and a message, whatever the extractor
# would refuse or could not extract; exit code 1 for inputs and outputs it
# cannot read or write. No refusal leaves an archive behind.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe

# check WHAT EXIT-CODE EXPECTED-STDERR PACK-ARGS...: runs trelk-pack with the
# fake stub and out.exe as the output.
check() {
  local what=$1 code=$2 expected=$3
  shift 3
  rm -f out.exe out.A*
  run "$PACK" --stub stub.exe -o out.exe "$@"
  expect_rc "$what" "$code"
  expect_equal "$what: message" "$ERR" "$expected"
  if [ "$code" -ne 0 ] && ls out.* >/dev/null 2>&1; then fail "$what: left $(ls out.*) behind"; fi
  if ls .out.* >/dev/null 2>&1; then fail "$what: left the temporary $(ls .out.*) behind"; fi
}

# Names that are not safe or not possible on Windows.
mkdir -p names/{colon,backslash,dots,dotspace,forbidden,device,device2,fine}
printf x >"names/colon/a:b"
printf x >'names/backslash/a\b'
mkdir -p names/dots/... && printf x >names/dots/.../f
printf x >'names/dotspace/. .'
printf x >'names/forbidden/what?'
printf x >names/device/nul.txt
printf x >names/device2/COM1
printf x >names/fine/nul1.txt
check "colon" 2 "trelk-pack: cannot store names/colon/a:b: ':' and '/' are not allowed in names" names/colon
check "backslash" 2 "trelk-pack: cannot store names/backslash/a\\b: a '\\' in a name would make it a folder on Windows" names/backslash
check "dots only" 2 "trelk-pack: cannot store names/dots/...: a name made only of dots and spaces could climb out of the destination folder" names/dots
check "dots and spaces" 2 "trelk-pack: cannot store names/dotspace/. .: a name made only of dots and spaces could climb out of the destination folder" names/dotspace
check "forbidden character" 2 "trelk-pack: cannot store names/forbidden/what?: Windows does not allow control characters or any of < > \" | ? * in names" names/forbidden
check "device name" 2 "trelk-pack: cannot store names/device/nul.txt: Windows opens a device (CON, NUL, COM1, ...) for this name, not a file" names/device
check "device name without extension" 2 "trelk-pack: cannot store names/device2/COM1: Windows opens a device (CON, NUL, COM1, ...) for this name, not a file" names/device2
check "a name like a device's" 0 "" -q names/fine
# A top-level name is checked like the others.
check "top-level name" 2 "trelk-pack: cannot store names/colon/a:b: ':' and '/' are not allowed in names" names/colon/a:b

# Stored paths: refused when they cannot fit an output path even below a drive
# root, warned about when they may not fit below a deep folder.
long=$(printf 'd%.0s' {1..98})
n55=$(printf 'n%.0s' {1..55})
mkdir -p "p/$long/$long"
printf x >"p/$long/$long/${n55}m"
check "stored path too long" 2 "trelk-pack: cannot store p/$long/$long/${n55}m: the stored path .\\p\\$long\\$long\\${n55}m has 258 characters; even below a drive root it would pass the 259 characters of an output path" p
rm "p/$long/$long/${n55}m"
printf x >"p/$long/$long/$n55"
check "longest stored path" 0 "trelk-pack: warning: the stored path .\\p\\$long\\$long\\$n55 has 257 characters; it may not fit below a deep destination folder" -q p
rm -r p && mkdir -p "p/$long/$(printf 'd%.0s' {1..95})"
printf x >"p/$long/$(printf 'd%.0s' {1..95})/f"
check "short enough stored path" 0 "" -q p
printf x >"p/$long/$(printf 'd%.0s' {1..95})/g2"
check "long stored path" 0 "trelk-pack: warning: the stored path .\\p\\$long\\$(printf 'd%.0s' {1..95})\\g2 has 201 characters; it may not fit below a deep destination folder" -q p

# Two files on one path: the same name from two folders, names that differ in
# case only, a file where another needs a folder.
mkdir -p same/a same/b case/Dir fold/a fold/b/x
printf 1 >same/a/f; printf 2 >same/b/f
printf 1 >case/Dir/README; printf 2 >case/Dir/readme
printf 1 >fold/a/x; printf 2 >fold/b/x/y
check "same stored path" 2 "trelk-pack: same/a/f and same/b/f would both be extracted as .\\f" same/a/f same/b/f
check "names differing in case" 2 "trelk-pack: case/Dir/README and case/Dir/readme would both be extracted as .\\Dir\\readme (Windows ignores case in names, and dots and spaces at their end)" case/Dir
check "file where a folder goes" 2 "trelk-pack: fold/a/x stands where fold/b/x/y needs the folder .\\x" fold/a/x fold/b/x

# Counts and sizes the catalog cannot hold.
mkdir -p many empty
(cd many && seq -f 'f%05g' 0 32767 | xargs touch)
check "too many files" 2 "trelk-pack: 32768 files: an archive holds at most 32767" many
rm many/f32767
check "as many files as fit" 0 "" -q many
truncate -s 2147483648 big.bin
check "file too large" 2 "trelk-pack: big.bin has 2147483648 bytes; an archive holds files of at most 2147483647" big.bin
check "nothing to pack" 2 "trelk-pack: warning: the empty folder empty is not stored: an archive holds files only
trelk-pack: nothing to pack: the paths hold no files" empty

# Stubs the extractor could not work behind.
printf x >one.txt
{ cat stub.exe; printf 'cfhjobsdijwf'; head -c 100 /dev/zero; } >marked.exe
make_stub huge.exe 1048565
make_stub largest.exe 1048564
check "stub with the marker" 2 "trelk-pack: the stub marked.exe holds the marker's search form at offset 4096; the extractor would look for the archive there" --stub marked.exe one.txt
check "a text as the stub" 2 "trelk-pack: the stub one.txt is not a Windows program (no MZ header with a PE signature)" --stub one.txt one.txt
{ printf 'MZ'; head -c 58 /dev/zero; printf '\377\377\000\000'; head -c 200 /dev/zero; } >nope.exe
check "an MZ header pointing past the end" 2 "trelk-pack: the stub nope.exe is not a Windows program (no MZ header with a PE signature)" --stub nope.exe one.txt
check "stub too large" 2 "trelk-pack: the stub huge.exe has 1048565 bytes; the extractor looks for the marker in the first 1048576 bytes, so a stub may have at most 1048564" --stub huge.exe one.txt
truncate -s 3G huge.exe  # only its front is read
check "stub of 3 GiB" 2 "trelk-pack: the stub huge.exe has 3221225472 bytes; the extractor looks for the marker in the first 1048576 bytes, so a stub may have at most 1048564" --stub huge.exe one.txt
rm huge.exe
check "largest stub" 0 "" -q --stub largest.exe one.txt
run "$EXTRACT" -q -d out-largest out.exe
expect_rc "largest stub: extract" 0
cmp -s one.txt out-largest/one.txt || fail "largest stub: the file differs"

# Split archives: volume 0 must hold the catalog; names run out at .Z99.
check "catalog too large for volume 0" 2 "trelk-pack: volume 0 of 4100 bytes cannot hold the stub, the header and the catalog; --split needs at least 4163" --split 4100 one.txt
check "smallest volume 0" 0 "" -q --split 4163 one.txt
make_stub small.exe 132
head -c $((2600 * 293)) /dev/urandom >noise.bin
check "too many volumes" 2 "trelk-pack: the archive needs more than 2600 volumes of 300 bytes; names run out after 2600 (.Z99): give a larger --split" --stub small.exe --split 300 noise.bin
rm -f noextension out.exe
run "$PACK" --stub stub.exe --split 10k -o noextension one.txt
expect_rc "split without extension" 2
expect_equal "split without extension: message" "$ERR" "trelk-pack: a split archive's name needs an extension (noextension.exe): its volumes replace it"

# Keys.
check "empty key" 2 "trelk-pack: the key has no characters that count (printable characters other than space)" --key "   " one.txt
check "key too long" 2 "trelk-pack: the key has 260 characters; the key dialog takes at most 259" --key "$(printf 'k%.0s' {1..260})" one.txt
check "long key" 0 "trelk-pack: warning: only the first 43 characters of the key count
trelk-pack: warning: 268 keys that differ from this one in a single character would pass the extractor's key check, and extract wrong names or data instead of being refused" -q --key "$(printf 'k%.0s' {1..44})" one.txt
# The extractor's key check is weak for most key lengths: warned, not refused.
check "weakly checked key" 0 "trelk-pack: warning: 603 keys that differ from this one in a single character would pass the extractor's key check, and extract wrong names or data instead of being refused" -q --key "Open Sesame" one.txt
check "fully checked key" 0 "" -q --key "Open Sesame!" one.txt

# Inputs and outputs that cannot be read or written: exit code 1.
check "missing input" 1 "trelk-pack: cannot read nothere: No such file or directory" nothere
check "missing stub" 1 "trelk-pack: cannot read the stub nostub.exe: No such file or directory" --stub nostub.exe one.txt
check "missing key file" 1 "trelk-pack: cannot read the key file nokey.txt: No such file or directory" --key-file nokey.txt one.txt
run "$PACK" --stub stub.exe -o nofolder/out.exe one.txt
expect_rc "unwritable output" 1
expect_equal "unwritable output: message" "$ERR" "trelk-pack: cannot write nofolder/out.exe: No such file or directory"

# Bad usage: exit code 2 and one line saying what is wrong.
check_usage() {  # check_usage WHAT FIRST-LINE ARGS...
  local what=$1 first=$2
  shift 2
  run "$PACK" "$@"
  expect_rc "$what" 2
  expect_equal "$what: message" "$ERR" "trelk-pack: $first; try --help"
}
check_usage "no output" "no archive to write: give -o OUT.exe" one.txt
check_usage "no input" "nothing to pack: give files or folders" -o out.exe
check_usage "bad size" "not a size: 12q" --split 12q -o out.exe one.txt
check_usage "zero size" "not a size: 0" --split 0 -o out.exe one.txt
check_usage "unknown option" "unknown option --frobnicate" --frobnicate -o out.exe one.txt
check_usage "missing value" "option --key needs a value" -o out.exe one.txt --key
check_usage "two keys" "give --key or --key-file, not both" --key a --key-file key.txt -o out.exe one.txt

# --help names the split archive's signing limit; --version.
run "$PACK" --help
expect_rc "help" 0
grep -q "so it cannot be signed after packing" <<<"$OUT" || fail "--help does not say why volume 0 cannot be signed"
run "$PACK" --version
expect_equal "version" "$OUT" "trelk-pack 1.0"

finish
