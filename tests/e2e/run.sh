#!/usr/bin/env bash
# End-to-end: the real stubs under Wine, with archives made by trelk-pack,
# driven on an Xvfb display as a person would drive them. Every case runs for
# each width asked for (the i686 product and the x86-64 build), each program
# started by the Wine of its own width, in one prefix started once. Every wait
# is bounded; every case checks the files on disk, the exact boxes and that
# the program ends by itself. Screenshots land in build/e2e/.
#   bash tests/e2e/run.sh [-w WIDTH]... [CASE...]
# WIDTH is i686 or x86_64 (default: every width this machine runs); CASE
# names a case without its case_ prefix (default: every case).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

WORK=$E2E_OUT/work
WIDTH=""   # the width and name of the case running
CASE=""
STUB=""

pack() { "$TRELK_PACK" --stub "$STUB" -q "$@"; }

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

# make_many DIR FOLDERS: FOLDERS folders of 100 small files each. Small files
# keep the worker busy for seconds at little cost, so that a person can act
# while it runs.
make_many() {
    local d f
    for d in $(seq -w 1 "$2"); do
        mkdir -p "$1/many/d$d"
        for f in $(seq -w 1 100); do echo "file $d/$f" >"$1/many/d$d/f$f.txt"; done
    done
}

# fresh: an empty work folder for the case running, with run/ (where the
# program lies and starts) and out/.
fresh() {
    W=$WORK/$WIDTH/$CASE
    rm -rf "$W"
    mkdir -p "$W/run" "$W/out"
    LOG=$W/boxes.log
}

# shot NAME: a screenshot named for the width, e.g. i686-key-dialog.png.
shot() { screenshot "$WIDTH-$1"; }

# launch EXE TITLE: starts run/EXE with the Wine of this width and sets WIN
# to the id of its first window, TITLE (the first start of a program may be
# slow). Not in a subshell: the program's process id must stay known.
launch() {
    start_stub "$W/run" "$W/run/$1" "$LOG"
    WIN=$(wait_window "$2" "$WAIT_START")
}

# The program may leave nothing beside itself but its own volumes.
run_dir_untouched() {
    local extra
    extra=$(find "$W/run" -mindepth 1 ! -name '*.exe' ! -name '*.A[0-9][0-9]')
    [ -z "$extra" ] || { echo "left in the program's folder: $extra" >&2; return 1; }
}
nothing_extracted() {
    [ -z "$(ls -A "$W/out")" ] || { echo "files were extracted: $(ls -A "$W/out")" >&2; return 1; }
}
# Whatever a stopped run leaves must be whole files, and fewer than all.
only_whole_files() {
    local total extracted f
    total=$(find "$W/src" -type f | wc -l)
    extracted=$(find "$W/out" -type f | wc -l)
    [ "$extracted" -lt "$total" ] || { echo "the extraction was not stopped" >&2; return 1; }
    while read -r f; do
        cmp -s "$W/src/$f" "$W/out/$f" || { echo "partial file left: $f" >&2; return 1; }
    done < <(cd "$W/out" && find . -type f)
}

# accept_destination DIR [WINDOW]: Tab Tab reaches the edit with its text
# selected; type over it.
accept_destination() {
    local w=${2:-}
    [ -n "$w" ] || w=$(wait_window 'Trelk - Choose destination folder') || return 1
    keys "$w" Tab Tab
    type_text "$w" "$(winpath "$1")"
    keys "$w" Return
}

# answer_box TITLE KEY [SHOT]: waits for a box, optionally shoots it, answers it with a key.
answer_box() {
    local w
    w=$(wait_window "$1") || return 1
    [ -z "${3:-}" ] || shot "$3"
    keys "$w" "$2"
}

# open_about MAIN: the About dialog from the system menu; prints its id. Our
# entry is the menu's last (Wine puts its own About just above).
open_about() {
    keys "$1" alt+space
    sleep 0.3
    keys "$1" Up Return
    wait_window 'About Trelk self-extractor'
}

still_running() {
    kill -0 "$STUB_PID" 2>/dev/null || { echo "the extraction ended before $1" >&2; return 1; }
}

case_plain() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/run/plain.exe" docs media)
    local w
    launch plain.exe 'Trelk - Choose destination folder'
    w=$WIN
    # The caption names the archive before the destination is asked.
    wait_window 'Trelk - plain\.exe' 5 >/dev/null
    shot destination-dialog
    accept_destination "$W/out" "$w"
    wait_stub_exit
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
    run_dir_untouched
}

# Names of code page 1252, the stub's, land on disk under their own names.
case_western_names() {
    fresh
    mkdir -p "$W/src/Café" "$W/src/Straße"
    printf 'é\r\n' >"$W/src/Café/naïve résumé.txt"
    printf '€ and ß\r\n' >"$W/src/Straße/Größe €.txt"
    seq 1 2000 >"$W/src/Straße/Übersicht.txt"
    (cd "$W/src" && pack -o "$W/run/names.exe" Café Straße)
    local w
    launch names.exe 'Trelk - Choose destination folder'
    w=$WIN
    accept_destination "$W/out" "$w"
    wait_stub_exit
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
}

case_encrypted() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack --key "Open Sesame" -o "$W/run/locked.exe" docs media)
    local w
    launch locked.exe 'Trelk - Decryption key'
    w=$WIN
    shot key-dialog
    type_text "$w" "Open Sesame"
    keys "$w" Return
    accept_destination "$W/out"
    wait_stub_exit
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
}

case_wrong_key() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack --key "Open Sesame" -o "$W/run/locked.exe" docs media)
    local w
    launch locked.exe 'Trelk - Decryption key'
    w=$WIN
    type_text "$w" "not the key"
    keys "$w" Return
    answer_box 'Fatal Error!' Return wrong-key-box
    answer_box 'File error' Return catalog-box
    wait_stub_exit
    expect_boxes "$LOG" \
        'Error while reading the archive locked.exe.\nThis is an invalid or corrupted archive' \
        "Couldn't load the catalog for the archive."
    nothing_extracted
    run_dir_untouched
}

case_key_cancel() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack --key "Open Sesame" -o "$W/run/locked.exe" docs media)
    local w
    launch locked.exe 'Trelk - Decryption key'
    w=$WIN
    keys "$w" Escape
    wait_stub_exit
    expect_boxes "$LOG"
    run_dir_untouched
}

case_destination_cancel() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/run/plain.exe" docs media)
    local w
    launch plain.exe 'Trelk - Choose destination folder'
    w=$WIN
    # OK has the focus; the next tab stop is the Cancel button.
    keys "$w" Tab space
    wait_stub_exit
    expect_boxes "$LOG"
    run_dir_untouched
}

# An emptied destination field is refused with a box, the dialog stays, and
# a folder typed afterwards is taken.
case_empty_destination() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/run/plain.exe" docs media)
    local w box
    launch plain.exe 'Trelk - Choose destination folder'
    w=$WIN
    keys "$w" Tab Tab BackSpace Return
    box=$(wait_window 'File error')
    shot empty-destination-box
    keys "$box" Return
    window_id_gone "$box"
    sleep 1
    window_closed "$w" && { echo "the destination dialog closed on an empty folder" >&2; return 1; }
    expect_boxes "$LOG" 'You must specify a valid destination folder'
    # The focus is back in the (empty) field.
    type_text "$w" "$(winpath "$W/out")"
    keys "$w" Return
    wait_stub_exit
    expect_boxes "$LOG" 'You must specify a valid destination folder'
    same_tree "$W/src" "$W/out"
    run_dir_untouched
}

case_overwrite() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/run/plain.exe" docs media)
    mkdir -p "$W/out/docs"
    printf 'older text\n' >"$W/out/docs/readme.txt"
    local prompt='The file readme.txt already exists.\nDo you want to overwrite it?'

    # No stops the whole extraction and leaves the file alone.
    launch plain.exe 'Trelk - Choose destination folder'
    accept_destination "$W/out" "$WIN"
    answer_box 'Overwrite\?' n overwrite-box
    wait_stub_exit
    expect_boxes "$LOG" "$prompt"
    [ "$(cat "$W/out/docs/readme.txt")" = "older text" ] || { echo "No overwrote the file" >&2; return 1; }

    # Yes replaces it. The files the first run wrote are asked about too, one box each.
    LOG=$W/boxes-yes.log
    launch plain.exe 'Trelk - Choose destination folder'
    accept_destination "$W/out" "$WIN"
    local w answered=0 deadline=$((SECONDS + WAIT_EXIT))
    while kill -0 "$STUB_PID" 2>/dev/null; do
        w=$(find_window 'Overwrite\?') || true
        if [ -n "$w" ]; then
            keys "$w" Return
            answered=$((answered + 1))
            window_id_gone "$w"
        fi
        [ "$SECONDS" -lt "$deadline" ] || { echo "the second run did not end" >&2; return 1; }
        sleep 0.2
    done
    wait_stub_exit
    boxes "$LOG" | grep -qxF "$prompt" || { echo "the second run never asked about readme.txt" >&2; return 1; }
    [ "$(boxes "$LOG" | grep -c 'already exists')" -eq "$answered" ] || { echo "boxes: $(boxes "$LOG")" >&2; return 1; }
    [ "$(boxes "$LOG" | wc -l)" -eq "$answered" ] || { echo "unexpected boxes: $(boxes "$LOG")" >&2; return 1; }
    same_tree "$W/src" "$W/out"
}

case_split() {
    fresh
    make_tree "$W/src"
    # Incompressible bytes of a known length, so the volume count is known.
    { openssl enc -aes-128-ctr -nosalt -K 00112233445566778899aabbccddeeff -iv 00000000000000000000000000000000 \
        </dev/zero 2>/dev/null || true; } | head -c 1300000 >"$W/src/media/noise.bin"
    local size=$(( $(stat -c %s "$STUB") + 400000 ))
    (cd "$W/src" && pack --split "$size" -o "$W/run/split.exe" docs media)
    local volumes
    volumes=$(cd "$W/run" && ls | tr '\n' ' ')
    [ "$volumes" = "split.A01 split.A02 split.exe " ] || { echo "expected three volumes, got: $volumes" >&2; return 1; }
    launch split.exe 'Trelk - Choose destination folder'
    accept_destination "$W/out" "$WIN"
    wait_stub_exit
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
    run_dir_untouched
    # The joined temporary archive is gone again.
    local left
    left=$(find "$WINEPREFIX/drive_c/users" "$W" -iname 's*.tmp' 2>/dev/null)
    [ -z "$left" ] || { echo "temporary archive left behind: $left" >&2; return 1; }
}

case_signed() {
    fresh
    make_tree "$W/src"
    (cd "$W/src" && pack -o "$W/unsigned.exe" docs media)
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Trelk e2e test" \
        -keyout "$W/key.pem" -out "$W/cert.pem" >/dev/null 2>&1
    osslsigncode sign -certs "$W/cert.pem" -key "$W/key.pem" -n "Trelk e2e" \
        -in "$W/unsigned.exe" -out "$W/run/signed.exe" >/dev/null
    osslsigncode extract-signature -in "$W/run/signed.exe" -out "$W/signature.der" >/dev/null 2>&1 ||
        { echo "the signed program carries no signature" >&2; return 1; }
    launch signed.exe 'Trelk - Choose destination folder'
    accept_destination "$W/out" "$WIN"
    wait_stub_exit
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
}

case_corrupt() {
    fresh
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
    launch corrupt.exe 'Trelk - Choose destination folder'
    accept_destination "$W/out" "$WIN"
    answer_box 'Fatal Error!' Return crc-error-box
    wait_stub_exit
    expect_boxes "$LOG" 'Error while writing the file bad.txt.\nCRC error'
    cmp "$W/src/good.txt" "$W/out/good.txt" || return 1
    [ ! -e "$W/out/bad.txt" ] || { echo "the damaged file was left behind" >&2; return 1; }
}

# Mid-extraction: the progress dialog, the About dialog from the system menu
# while the worker goes on, then Cancel. The program must stop by itself,
# silently, and whatever it leaves must be whole files.
case_progress_about_cancel() {
    fresh
    make_many "$W/src" 30
    (cd "$W/src" && pack -o "$W/run/many.exe" many)
    launch many.exe 'Trelk - Choose destination folder'
    accept_destination "$W/out" "$WIN"
    local main about
    main=$(wait_window 'Trelk - many\.exe')
    sleep 1
    shot progress-dialog
    about=$(open_about "$main")
    shot about-dialog
    keys "$about" Return
    window_id_gone "$about"
    still_running "Cancel could be pressed"
    keys "$main" Escape
    wait_stub_exit
    expect_boxes "$LOG"
    only_whole_files
}

# Enter in the progress dialog (which has no OK button) must not stop or end
# anything: the extraction goes on to the last file.
case_enter_during_extraction() {
    fresh
    make_many "$W/src" 20
    (cd "$W/src" && pack -o "$W/run/many.exe" many)
    launch many.exe 'Trelk - Choose destination folder'
    accept_destination "$W/out" "$WIN"
    local main
    main=$(wait_window 'Trelk - many\.exe')
    sleep 1
    keys "$main" Return
    still_running "Enter could be pressed"
    keys "$main" KP_Enter
    wait_stub_exit
    expect_boxes "$LOG"
    same_tree "$W/src" "$W/out"
}

# Alt+F4 closes a dialog as its close box does. On the destination, key and
# progress dialogs and the overwrite box it ends the run: no box, no partial
# file. On the About dialog it closes only that, and the extraction goes on.
alt_f4_on() {
    local dialog=$1 w
    fresh
    case $dialog in
        destination | key | overwrite) make_tree "$W/src" ;;
        progress | about) make_many "$W/src" 20 ;;
    esac
    case $dialog in
        destination)
            (cd "$W/src" && pack -o "$W/run/a.exe" docs media)
            launch a.exe 'Trelk - Choose destination folder'
            w=$WIN
            ;;
        key)
            (cd "$W/src" && pack --key "Open Sesame" -o "$W/run/a.exe" docs media)
            launch a.exe 'Trelk - Decryption key'
            w=$WIN
            ;;
        overwrite)
            (cd "$W/src" && pack -o "$W/run/a.exe" docs media)
            mkdir -p "$W/out/docs"
            printf 'older text\n' >"$W/out/docs/readme.txt"
            launch a.exe 'Trelk - Choose destination folder'
            accept_destination "$W/out" "$WIN"
            w=$(wait_window 'Overwrite\?')
            ;;
        progress | about)
            (cd "$W/src" && pack -o "$W/run/a.exe" many)
            launch a.exe 'Trelk - Choose destination folder'
            accept_destination "$W/out" "$WIN"
            w=$(wait_window 'Trelk - a\.exe')
            sleep 1
            [ "$dialog" = progress ] || w=$(open_about "$w")
            ;;
    esac
    [ -n "$w" ] || return 1
    keys "$w" alt+F4
    case $dialog in
        about)
            window_id_gone "$w"
            still_running "the About dialog was closed"
            wait_stub_exit
            expect_boxes "$LOG"
            same_tree "$W/src" "$W/out"
            ;;
        overwrite)
            wait_stub_exit
            expect_boxes "$LOG" 'The file readme.txt already exists.\nDo you want to overwrite it?'
            [ "$(cat "$W/out/docs/readme.txt")" = "older text" ] || { echo "the file was overwritten" >&2; return 1; }
            rm "$W/out/docs/readme.txt"
            only_whole_files
            ;;
        progress)
            wait_stub_exit
            expect_boxes "$LOG"
            only_whole_files
            ;;
        *)
            wait_stub_exit
            expect_boxes "$LOG"
            nothing_extracted
            ;;
    esac
    run_dir_untouched
}
case_alt_f4_destination() { alt_f4_on destination; }
case_alt_f4_key() { alt_f4_on key; }
case_alt_f4_progress() { alt_f4_on progress; }
case_alt_f4_about() { alt_f4_on about; }
case_alt_f4_overwrite() { alt_f4_on overwrite; }

ALL_CASES="plain western_names encrypted wrong_key key_cancel destination_cancel empty_destination overwrite split signed corrupt
    progress_about_cancel enter_during_extraction
    alt_f4_destination alt_f4_key alt_f4_progress alt_f4_about alt_f4_overwrite"

# run_case NAME: one case of this width, with what a failure needs for a
# look afterwards (screenshot and boxes logs, named for it), and a check that
# nothing of the case lives on into the next.
run_case() {
    local name=$1 start=$SECONDS rc left
    CASE=$name
    W=$WORK/$WIDTH/$CASE
    # In the background, so that an interrupted run can stop the case too.
    (set -e; "case_$name") &
    CASE_PID=$!
    wait "$CASE_PID"
    rc=$?
    CASE_PID=""
    if [ $rc -eq 0 ]; then
        left=$(programs_left "$W")
        [ -z "$left" ] || { echo "still running after the case: $left" >&2; rc=1; }
    fi
    if [ $rc -eq 0 ]; then
        echo "e2e: $WIDTH $name passed ($((SECONDS - start))s)"
        return 0
    fi
    echo "e2e: $WIDTH $name FAILED ($((SECONDS - start))s)"
    screenshot "failed-$WIDTH-$name" || true
    local log
    for log in "$W"/*.log; do
        [ -f "$log" ] || continue
        cp "$log" "$E2E_OUT/failed-$WIDTH-$name-$(basename "$log")"
        boxes "$log" | sed "s/^/  box shown ($(basename "$log")): /"
    done
    # A failed case may leave windows behind: start the prefix afresh, and
    # the display too should it have gone.
    wineserver -k >/dev/null 2>&1 || true
    if ! display_alive; then
        echo "e2e: the X display $DISPLAY went away; starting another" >&2
        start_display
    fi
    start_prefix
    return 1
}

main() {
    local widths="" cases="" width name
    while [ $# -gt 0 ]; do
        case $1 in
            -w) widths+=" $2"; shift 2 ;;
            *) cases+=" $1"; shift ;;
        esac
    done
    if [ -z "$widths" ]; then
        widths=x86_64
        width_runs i686 && widths+=" i686"
    fi
    cases=${cases:-$ALL_CASES}

    [ -x "$TRELK_PACK" ] || die "trelk-pack is missing ($TRELK_PACK): build it first (./dev build)"
    for tool in wineserver Xvfb xdotool xdpyinfo import sox openssl osslsigncode; do
        command -v "$tool" >/dev/null || die "$tool is missing"
    done
    for width in $widths; do
        [ -s "$(stub_of "$width")" ] || die "the $width stub is missing ($(stub_of "$width")): build it first (./dev build)"
        width_runs "$width" || die "$(wine_of "$width") cannot run here"
    done

    mkdir -p "$E2E_OUT" "$WORK"
    rm -f "$E2E_OUT"/failed-*
    clean_up_on_exit
    start_display
    local start=$SECONDS failed=""
    init_prefix
    start_prefix
    echo "e2e: prefix ready in $((SECONDS - start))s on display $DISPLAY"
    for width in $widths; do
        WIDTH=$width
        STUB=$(stub_of "$width")
        local width_start=$SECONDS count=0 width_failed=""
        for name in $cases; do
            count=$((count + 1))
            # Not in an || list: that would switch off set -e inside the case.
            run_case "$name"
            [ $? -eq 0 ] || width_failed+=" $name"
        done
        echo "e2e: $width: $((count - $(wc -w <<<"$width_failed"))) of $count cases passed in $((SECONDS - width_start))s"
        [ -z "$width_failed" ] || failed+=" $width:(${width_failed# })"
    done
    [ -z "$failed" ] || die "failed:$failed"
    echo "e2e: all cases passed; screenshots in $E2E_OUT"
}

main "$@"
