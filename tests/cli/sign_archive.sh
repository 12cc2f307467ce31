# A single-file archive signed after packing (Authenticode, osslsigncode, a
# self-signed certificate made here) still extracts: the extractor finds the
# archive by its marker, not by the end of the file, and the signature covers
# the archive. Volume 0 of a split archive cannot be signed: the signature
# lands where the extractor reads the volume's CRC.
source "$(dirname "$0")/lib.bash"

for tool in x86_64-w64-mingw32-gcc osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is needed (./dev test installs it)" >&2; exit 1; }
done

# A real PE to sign, built here: osslsigncode refuses anything else.
printf 'int main(void) { return 0; }\n' >tiny.c
x86_64-w64-mingw32-gcc -O2 -s -o tiny.exe tiny.c || { echo "FAIL: cannot build the PE stub" >&2; exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Trelk test" \
  >/dev/null 2>&1 || { echo "FAIL: cannot make the test certificate" >&2; exit 1; }

sign() {  # sign IN OUT
  osslsigncode sign -certs cert.pem -key key.pem -n "Trelk test" -in "$1" -out "$2" >/dev/null
}

make_tree tree
"$PACK" -q --stub tiny.exe -o app.exe tree || fail "packing app.exe"
sign app.exe signed.exe || fail "signing app.exe"
[ "$(stat -c %s signed.exe)" -gt "$(stat -c %s app.exe)" ] || fail "the signature did not grow the file"
cmp -s -n "$(stat -c %s app.exe)" app.exe signed.exe && fail "signing changed nothing in the PE header"

run osslsigncode verify -in signed.exe -CAfile cert.pem
expect_rc "signature verifies" 0
grep -q "Signature verification: ok" <<<"$OUT" || fail "no verified signature: $OUT"

run "$EXTRACT" -q -d out signed.exe
expect_rc "extract the signed archive" 0
diff -r tree out/tree >/dev/null || fail "the signed archive extracts a different tree"

# The signature covers the archive: a changed archive byte breaks it.
cp signed.exe tampered.exe
printf 'X' | dd of=tampered.exe bs=1 seek=$(($(stat -c %s tiny.exe) + 200)) conv=notrunc 2>/dev/null
run osslsigncode verify -in tampered.exe -CAfile cert.pem
[ "$RC" -ne 0 ] || fail "a changed archive byte keeps the signature valid"

# Volume 0 of a split archive, signed: its CRC is no longer the file's last four bytes.
"$PACK" -q --stub tiny.exe --split 40k -o split.exe tree || fail "packing split.exe"
sign split.exe split-signed.exe || fail "signing split.exe"
mv split-signed.exe split.exe
run "$EXTRACT" -d out-split split.exe
expect_rc "signed volume 0" 1
expect_equal "signed volume 0 text" "$ERR" "Fatal Error!: Error while reading the archive split.exe.
Volume #0 - CRC error in split file/volume"

finish
