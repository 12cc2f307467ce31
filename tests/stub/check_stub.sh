#!/usr/bin/env bash
# Inspects the built stubs: the product must be a 32-bit GUI program that
# imports system DLLs only and never carries the marker's search form (each
# byte of the stored marker plus one), or the stub would find itself.
set -euo pipefail
cd "$(dirname "$0")/../.."

ALLOWED_DLLS="kernel32.dll user32.dll gdi32.dll comctl32.dll shell32.dll ole32.dll msvcrt.dll"

fail() { echo "check_stub: $*" >&2; exit 1; }

search_form() {  # prints the stored marker with every byte raised by one
    local stored=beginarchive out="" i c
    for ((i = 0; i < ${#stored}; i++)); do
        c=$(printf '%d' "'${stored:i:1}")
        out+=$(printf "\\$(printf '%03o' $((c + 1)))")
    done
    printf '%s' "$out"
}

# check_image FILE MAGIC-LINE: prints nothing and returns 0 when the image passes.
check_image() {
    local file=$1 magic=$2 dump dll
    [ -s "$file" ] || { echo "$file: missing"; return 1; }
    dump=$(x86_64-w64-mingw32-objdump -p "$file") || { echo "$file: objdump failed"; return 1; }
    grep -Eq "^Magic[[:space:]]+$magic" <<<"$dump" || { echo "$file: not $magic"; return 1; }
    grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$dump" || { echo "$file: not a GUI program"; return 1; }
    local dlls
    dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z')
    [ -n "$dlls" ] || { echo "$file: no imports found"; return 1; }
    for dll in $dlls; do
        [[ " $ALLOWED_DLLS " == *" $dll "* ]] || { echo "$file: imports $dll"; return 1; }
    done
    # A download named setup.exe must never ask to elevate.
    grep -aqF 'level="asInvoker"' "$file" || { echo "$file: no asInvoker manifest"; return 1; }
    if grep -aqF "$(search_form)" "$file"; then echo "$file: holds the marker's search form"; return 1; fi
    return 0
}

[ "$(search_form)" = cfhjobsdijwf ] || fail "search form computed wrongly"

problems=""
problems+=$(check_image build/mingw-i686/trelk-sfx.exe '010b') || true
problems+=$(check_image build/mingw-x86_64/trelk-sfx64.exe '020b') || true
[ -z "$problems" ] || fail "$problems"

# The checks themselves must be able to fail: a copy with the search form
# appended, and the 64-bit image taken for the 32-bit one, are both refused.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp build/mingw-i686/trelk-sfx.exe "$scratch/planted.exe"
search_form >>"$scratch/planted.exe"
check_image "$scratch/planted.exe" '010b' >/dev/null && fail "a planted search form went unnoticed"
check_image build/mingw-x86_64/trelk-sfx64.exe '010b' >/dev/null && fail "PE32+ passed as PE32"

echo "check_stub: trelk-sfx.exe is PE32 GUI, imports only system DLLs, asInvoker, no search form; trelk-sfx64.exe likewise (PE32+)"
