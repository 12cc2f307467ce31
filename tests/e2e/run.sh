#!/usr/bin/env bash
# End-to-end: the real x86-64 stub under Wine, with archives made by
# trelk-pack, driven on an Xvfb display as a person would drive it. Every
# wait is bounded; every case checks the files on disk, the exact boxes and
# that the program ends by itself. Screenshots land in build/e2e/.
#   bash tests/e2e/run.sh [CASE...]      (default: every case)
set -uo pipefail
source "$(dirname "$0")/lib.sh"

[ -x "$TRELK_PACK" ] || die "trelk-pack is missing ($TRELK_PACK): build it first (./dev build)"
[ -s "$STUB64" ] || die "the x86-64 stub is missing ($STUB64): build it first (./dev build)"
for tool in wine wineserver winepath Xvfb xdotool xdpyinfo import sox openssl osslsigncode; do
    command -v "$tool" >/dev/null || die "$tool is missing"
done

WORK=$E2E_OUT/work

pack() { "$TRELK_PACK" --stub "$STUB64" -q "$@"; }

# Two folders of small files (one empty, one of odd length) and a short 16-bit WAV.
make_tree() {
    local d=$1
    mkdir -p "$d/docs" "$d/media"
    printf 'Trelk end-to-end test\r\nSecond line.\r\n' >"$d/docs/readme.txt"
    seq 1 3000 >"$d/docs/numbers.txt"
    printf 'x' >"$d/docs/one.txt"
    : >"$d/docs/empty.txt"
    sox -q -n -r 22050 -b 16 -c 2 "$d/media/tone.wav" synth 1.5 sine 440 sine 660
}

# fresh CASE: an empty work folder with run/ (where the program lies and starts) and out/.
fresh() {
    W=$WORK/$1
    rm -rf "$W"
    mkdir -p "$W/run" "$W/out"
    LOG=$W/boxes.log
}

# The program may leave nothing beside itself but its own volumes.
run_dir_untouched() {
    local extra
    extra=$(find "$W/run" -mindepth 1 ! -name '*.exe' ! -name '*.A[0-9][0-9]')
    [ -z "$extra" ] || { echo "left in the program's folder: $extra" >&2; return 1; }
}

# accept_destination DIR: Tab Tab reaches the edit with its text selected; type over it.
accept_destination() {
    local w
    w=$(wait_window 'Trelk - Choose destination folder')
    keys "$w" Tab Tab
    type_text "$w" "$(winepath -w "$1")"
    keys "$w" Return
}

# answer_box TITLE KEY: waits for a box and answers it with a key.
answer_box() {
    local w
    w=$(wait_window "$1")
    keys "$w" "$2"
}

case_plain() {
    fresh plain
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/run/plain.exe" docs media)
    start_stub "$W/run" "$W/run/plain.exe" "$LOG"
    wait_window 'Trelk - Choose destination folder' >/dev/null
    # The caption names the archive before the destination is asked.
    wait_window 'Trelk - plain\.exe' 5 >/dev/null
    screenshot destination-dialog
    accept_destination "$W/out"
    wait_stub_exit 60
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
    run_dir_untouched
}

case_encrypted() {
    fresh encrypted
    make_tree "$W/src"
    (cd "$W/src" && pack --key "Open Sesame" -o "$W/run/locked.exe" docs media)
    start_stub "$W/run" "$W/run/locked.exe" "$LOG"
    local w
    w=$(wait_window 'Trelk - Decryption key')
    screenshot key-dialog
    type_text "$w" "Open Sesame"
    keys "$w" Return
    accept_destination "$W/out"
    wait_stub_exit 60
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
}

case_wrong_key() {
    fresh wrong-key
    make_tree "$W/src"
    (cd "$W/src" && pack --key "Open Sesame" -o "$W/run/locked.exe" docs media)
    start_stub "$W/run" "$W/run/locked.exe" "$LOG"
    local w
    w=$(wait_window 'Trelk - Decryption key')
    type_text "$w" "not the key"
    keys "$w" Return
    answer_box 'Fatal Error!' Return
    answer_box 'File error' Return
    wait_stub_exit 30
    expect_boxes "$LOG" \
        'Error while reading the archive locked.exe.\nThis is an invalid or corrupted archive' \
        "Couldn't load the catalog for the archive."
    [ -z "$(ls -A "$W/out")" ] || { echo "files extracted with a wrong key" >&2; return 1; }
    run_dir_untouched
}

case_key_cancel() {
    fresh key-cancel
    make_tree "$W/src"
    (cd "$W/src" && pack --key "Open Sesame" -o "$W/run/locked.exe" docs media)
    start_stub "$W/run" "$W/run/locked.exe" "$LOG"
    local w
    w=$(wait_window 'Trelk - Decryption key')
    keys "$w" Escape
    wait_stub_exit 30
    expect_boxes "$LOG"
    run_dir_untouched
}

case_destination_cancel() {
    fresh destination-cancel
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/run/plain.exe" docs media)
    start_stub "$W/run" "$W/run/plain.exe" "$LOG"
    local w
    w=$(wait_window 'Trelk - Choose destination folder')
    # OK has the focus; the next tab stop is the Cancel button.
    keys "$w" Tab space
    wait_stub_exit 30
    expect_boxes "$LOG"
    run_dir_untouched
}

case_overwrite() {
    fresh overwrite
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/run/plain.exe" docs media)
    mkdir -p "$W/out/docs"
    printf 'older text\n' >"$W/out/docs/readme.txt"
    local prompt='The file readme.txt already exists.\nDo you want to overwrite it?'

    # No stops the whole extraction and leaves the file alone.
    start_stub "$W/run" "$W/run/plain.exe" "$LOG"
    accept_destination "$W/out"
    answer_box 'Overwrite\?' n
    wait_stub_exit 60
    expect_boxes "$LOG" "$prompt"
    [ "$(cat "$W/out/docs/readme.txt")" = "older text" ] || { echo "No overwrote the file" >&2; return 1; }

    # Yes replaces it. The files the first run wrote are asked about too, one box each.
    LOG=$W/boxes-yes.log
    start_stub "$W/run" "$W/run/plain.exe" "$LOG"
    accept_destination "$W/out"
    local w answered=0 polls=0
    while kill -0 "$STUB_PID" 2>/dev/null; do
        w=$(xdotool search --onlyvisible --name '^Overwrite\?$' 2>/dev/null | head -1) || true
        if [ -n "$w" ]; then
            keys "$w" Return
            answered=$((answered + 1))
            window_id_gone "$w" 10
        fi
        polls=$((polls + 1))
        [ "$polls" -lt 300 ] || { echo "the second run did not end" >&2; return 1; }
        sleep 0.2
    done
    wait_stub_exit 60
    boxes "$LOG" | grep -qxF "$prompt" || { echo "the second run never asked about readme.txt" >&2; return 1; }
    [ "$(boxes "$LOG" | grep -c 'already exists')" -eq "$answered" ] || { echo "boxes: $(boxes "$LOG")" >&2; return 1; }
    [ "$(boxes "$LOG" | wc -l)" -eq "$answered" ] || { echo "unexpected boxes: $(boxes "$LOG")" >&2; return 1; }
    same_tree "$W/src" "$W/out"
}

case_split() {
    fresh split
    make_tree "$W/src"
    # Incompressible bytes of a known length, so the volume count is known.
    { openssl enc -aes-128-ctr -nosalt -K 00112233445566778899aabbccddeeff -iv 00000000000000000000000000000000 \
        </dev/zero 2>/dev/null || true; } | head -c 1300000 >"$W/src/media/noise.bin"
    local size=$(( $(stat -c %s "$STUB64") + 400000 ))
    (cd "$W/src" && pack --split "$size" -o "$W/run/split.exe" docs media)
    local volumes
    volumes=$(cd "$W/run" && ls | tr '\n' ' ')
    [ "$volumes" = "split.A01 split.A02 split.exe " ] || { echo "expected three volumes, got: $volumes" >&2; return 1; }
    start_stub "$W/run" "$W/run/split.exe" "$LOG"
    accept_destination "$W/out"
    wait_stub_exit 60
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
    run_dir_untouched
    # The joined temporary archive is gone again.
    local left
    left=$(find "$WINEPREFIX/drive_c/users" "$W" -iname 's*.tmp' 2>/dev/null)
    [ -z "$left" ] || { echo "temporary archive left behind: $left" >&2; return 1; }
}

case_signed() {
    fresh signed
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/unsigned.exe" docs media)
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Trelk e2e test" \
        -keyout "$W/key.pem" -out "$W/cert.pem" >/dev/null 2>&1
    osslsigncode sign -certs "$W/cert.pem" -key "$W/key.pem" -n "Trelk e2e" \
        -in "$W/unsigned.exe" -out "$W/run/signed.exe" >/dev/null
    osslsigncode extract-signature -in "$W/run/signed.exe" -out "$W/signature.der" >/dev/null 2>&1 ||
        { echo "the signed program carries no signature" >&2; return 1; }
    start_stub "$W/run" "$W/run/signed.exe" "$LOG"
    accept_destination "$W/out"
    wait_stub_exit 60
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
}

case_corrupt() {
    fresh corrupt
    mkdir -p "$W/src"
    printf 'kept intact\n' >"$W/src/good.txt"
    # An odd length: the last stored byte is copied as it is, so flipping it
    # can only show up as a wrong checksum.
    seq 1 20001 >"$W/src/bad.txt"
    truncate -s 77777 "$W/src/bad.txt"
    (cd "$W/src" && pack -o "$W/run/corrupt.exe" good.txt bad.txt)
    local size last
    size=$(stat -c %s "$W/run/corrupt.exe")
    last=$(tail -c 1 "$W/run/corrupt.exe" | od -An -tu1 | tr -d ' ')
    printf "\\$(printf '%03o' $(( last ^ 0xFF )))" |
        dd of="$W/run/corrupt.exe" bs=1 seek=$((size - 1)) conv=notrunc status=none
    start_stub "$W/run" "$W/run/corrupt.exe" "$LOG"
    accept_destination "$W/out"
    answer_box 'Fatal Error!' Return
    wait_stub_exit 60
    expect_boxes "$LOG" 'Error while writing the file bad.txt.\nCRC error'
    cmp "$W/src/good.txt" "$W/out/good.txt" || return 1
    [ ! -e "$W/out/bad.txt" ] || { echo "the damaged file was left behind" >&2; return 1; }
}

# Mid-extraction: the progress dialog, the About dialog from the system menu
# while the worker goes on, then Cancel. Thousands of small files keep the
# worker busy for seconds at little cost. The program must stop by itself,
# silently, and whatever it leaves must be whole files.
case_progress_about_cancel() {
    fresh progress
    local d f
    for d in $(seq -w 1 30); do
        mkdir -p "$W/src/many/d$d"
        for f in $(seq -w 1 100); do echo "file $d/$f" >"$W/src/many/d$d/f$f.txt"; done
    done
    (cd "$W/src" && pack -o "$W/run/many.exe" many)
    start_stub "$W/run" "$W/run/many.exe" "$LOG"
    accept_destination "$W/out"
    local main about
    main=$(wait_window 'Trelk - many\.exe')
    sleep 1
    screenshot progress-dialog
    # Our entry is the system menu's last (Wine puts its own About just above).
    keys "$main" alt+space
    sleep 0.3
    keys "$main" Up Return
    about=$(wait_window 'About Trelk self-extractor' 10)
    screenshot about-dialog
    keys "$about" Return
    window_id_gone "$about" 10
    kill -0 "$STUB_PID" 2>/dev/null || { echo "the extraction ended before Cancel could be pressed" >&2; return 1; }
    keys "$main" Escape
    wait_stub_exit 60
    expect_boxes "$LOG"
    local total extracted
    total=$(find "$W/src/many" -type f | wc -l)
    extracted=$(find "$W/out" -type f | wc -l)
    [ "$extracted" -lt "$total" ] || { echo "Cancel did not stop the extraction" >&2; return 1; }
    (cd "$W/out" && find . -type f) | while read -r f; do
        cmp -s "$W/src/$f" "$W/out/$f" || { echo "partial file left: $f" >&2; exit 1; }
    done
}

ALL_CASES="plain encrypted wrong_key key_cancel destination_cancel overwrite split signed corrupt progress_about_cancel"

main() {
    mkdir -p "$E2E_OUT" "$WORK"
    rm -f "$E2E_OUT"/failed-*.png
    trap e2e_cleanup EXIT
    start_display
    init_prefix
    local cases=${*:-$ALL_CASES} name failed="" start
    for name in $cases; do
        start=$SECONDS
        set +e
        (set -e; "case_$name")
        local rc=$?
        if [ $rc -eq 0 ]; then
            echo "e2e: $name passed ($((SECONDS - start))s)"
        else
            echo "e2e: $name FAILED ($((SECONDS - start))s)"
            failed+=" $name"
            screenshot "failed-$name" || true
        fi
        # Nothing of one case may live on into the next.
        wineserver -k >/dev/null 2>&1 || true
        STUB_PID=""
    done
    [ -z "$failed" ] || die "failed:$failed"
    echo "e2e: all cases passed; screenshots in $E2E_OUT"
}

main "$@"
