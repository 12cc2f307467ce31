# Names as the stub will write them on Windows: stored in the code page it
# reads them in (1252 unless --codepage says otherwise), refused when that
# code page cannot hold them or Windows would change them, and given back
# under their own names by trelk-extract with the same code page.
source "$(dirname "$0")/lib.bash"

make_stub stub.exe

# check WHAT EXIT-CODE EXPECTED-STDERR PACK-ARGS...
check() {
  local what=$1 code=$2 expected=$3
  shift 3
  rm -f out.exe
  run "$PACK" -q --stub stub.exe -o out.exe "$@"
  expect_rc "$what" "$code"
  expect_equal "$what: message" "$ERR" "$expected"
}

mkdir -p dot space device device2 fold japanese table western
printf 1 >'dot/trailing dot'; printf 2 >'dot/trailing dot.'
printf x >'space/ends in space '
printf x >device/NUL.txt; printf x >device2/com1.log
printf 1 >'fold/Read Me'; printf 2 >'fold/rEAD mE'; printf 3 >'fold/Été'; printf 4 >'fold/éTÉ'
printf x >'japanese/日本語.txt'
printf x >'table/表.txt'
check "a trailing dot" 2 "trelk-pack: cannot store dot/trailing dot.: Windows drops the dots and spaces that end a name (it would be extracted as \"trailing dot\")" dot
check "a trailing space" 2 "trelk-pack: cannot store space/ends in space : Windows drops the dots and spaces that end a name (it would be extracted as \"ends in space\")" space
check "a device name with an extension" 2 "trelk-pack: cannot store device/NUL.txt: Windows opens a device (CON, NUL, COM1, ...) for this name, not a file" device
check "a device name in small letters" 2 "trelk-pack: cannot store device2/com1.log: Windows opens a device (CON, NUL, COM1, ...) for this name, not a file" device2
check "names that Windows folds alike" 2 "trelk-pack: fold/Read Me and fold/rEAD mE would both be extracted as .\\fold\\rEAD mE (Windows ignores case in names, and dots and spaces at their end)
trelk-pack: fold/Été and fold/éTÉ would both be extracted as .\\fold\\éTÉ (Windows ignores case in names, and dots and spaces at their end)" fold
check "a name outside code page 1252" 2 "trelk-pack: cannot store japanese/日本語.txt: its name cannot be written in code page 1252 (Western European), in which the archive stores names; give --codepage with one that can" japanese
check "a name in code page 932" 0 "" --codepage 932 japanese
check "a byte that reads as '\\'" 2 "trelk-pack: cannot store table/表.txt: in code page 932 (Japanese) its name has a byte that the extractor takes for a '\\' between folders" --codepage 932 table
check "an unknown code page" 2 "trelk-pack: code page 4242 has no conversion on this system" --codepage 4242 western

# Round trips: the names come back as they were, and the archive holds them
# in the code page's bytes.
roundtrip() {  # roundtrip CODEPAGE FOLDER CODEPAGE-BYTES
  local cp=$1 folder=$2 bytes=$3
  rm -rf out.exe unpacked
  run "$PACK" -q --codepage "$cp" --stub stub.exe -o out.exe "$folder"
  expect_rc "$cp: pack" 0
  LC_ALL=C grep -qaF "$(printf "$bytes")" out.exe || fail "$cp: the archive does not hold the name in code page $cp's bytes"
  run "$EXTRACT" -q --codepage "$cp" -d unpacked out.exe
  expect_rc "$cp: extract" 0
  diff -r "$folder" "unpacked/$folder" >/dev/null || fail "$cp: the names or bytes differ: $(cd unpacked && find . | sort)"
}
mkdir -p 'western/Straße'
printf 'é' >western/café.txt; printf '€' >'western/Straße/über €.txt'; printf 'ß' >western/ünïcödé.txt
roundtrip 1252 western 'Stra\337e\\\374ber \200.txt'
roundtrip 932 japanese '\223\372\226\173\214\352.txt'
mkdir -p cyrillic && printf 'x' >cyrillic/Привет.txt
roundtrip 1251 cyrillic '\317\360\350\342\345\362.txt'
# trelk-extract's list shows the names as they are here.
run "$EXTRACT" -l --codepage 1251 out.exe
grep -q 'cyrillic/Привет.txt' <<<"$OUT" || fail "list: the name is not shown in UTF-8 ($OUT)"

finish
