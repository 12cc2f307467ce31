# The installed tree: cmake --install puts the tools in bin/ and the stub in
# share/trelk/, and trelk-pack finds that stub with no --stub, wherever the
# tree is, or one beside itself.
source "$(dirname "$0")/lib.bash"

run cmake --install "$BUILD" --prefix "$WORK/prefix"
expect_rc "install" 0
for f in bin/trelk-pack bin/trelk-extract share/trelk/trelk-sfx.exe; do
  [ -f "prefix/$f" ] || fail "install: $f is missing"
done
mv prefix moved  # found relative to trelk-pack, not where it was installed
printf 'packed with the installed stub\n' >hello.txt
run moved/bin/trelk-pack -q -o hello.exe hello.txt
expect_rc "pack without --stub" 0
cmp -s moved/share/trelk/trelk-sfx.exe <(head -c "$(stat -c %s moved/share/trelk/trelk-sfx.exe)" hello.exe) ||
  fail "pack without --stub: the archive does not start with the installed stub"
run moved/bin/trelk-extract -q -d out hello.exe
expect_rc "extract" 0
cmp -s hello.txt out/hello.txt || fail "extract: hello.txt differs"

# Beside trelk-pack, when nothing is installed above it.
mkdir -p beside && cp moved/bin/trelk-pack beside/ && cp moved/share/trelk/trelk-sfx.exe beside/
run beside/trelk-pack -q -o beside.exe hello.txt
expect_rc "stub beside trelk-pack" 0

finish
