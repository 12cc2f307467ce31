#!/usr/bin/env bash
# ./dev demo: packs examples/sample (plus a short tone made here) into a
# self-extracting program, runs it under Wine and lists what it extracted.
# With a usable display the program is yours to drive; without one it runs on
# Xvfb and the proposed destination is accepted. TRELK_DEMO_WIDTH=i686 runs
# the 32-bit product instead of the x86-64 build (32-bit Wine needed).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
# On a machine that is busy, or setting Wine up for the first time, minutes pass.
WAIT_START=${E2E_WAIT_START:-900}
WAIT_EXIT=${E2E_WAIT_EXIT:-900}

WIDTH=${TRELK_DEMO_WIDTH:-x86_64}
STUB=$(stub_of "$WIDTH")
[ -x "$TRELK_PACK" ] || die "trelk-pack is missing ($TRELK_PACK)"
[ -s "$STUB" ] || die "the $WIDTH stub is missing ($STUB)"
width_runs "$WIDTH" || die "$(wine_of "$WIDTH") cannot run here"

DEMO=$ROOT/build/demo
rm -rf "$DEMO"
mkdir -p "$DEMO/extracted"
cp -r "$ROOT/examples/sample" "$DEMO/sample"
if command -v sox >/dev/null; then
    sox -q -n -r 22050 -b 16 -c 1 "$DEMO/sample/tone.wav" synth 2 sine 440 fade 0.1 2 0.5
fi
(cd "$DEMO/sample" && "$TRELK_PACK" --stub "$STUB" -o "$DEMO/trelk-demo.exe" .)
echo "== packed: $DEMO/trelk-demo.exe ($(stat -c %s "$DEMO/trelk-demo.exe") bytes)"

# A failed demo leaves what it saw: a screenshot and the boxes it showed.
demo_failed() {
    screenshot failed-demo 2>/dev/null && echo "demo: FAILED; the screen is in $E2E_OUT/failed-demo.png" >&2
    if [ -n "$(boxes "$DEMO/boxes.log" 2>/dev/null)" ]; then
        echo "demo: the message boxes shown, from $DEMO/boxes.log:" >&2
        boxes "$DEMO/boxes.log" | sed 's/^/  /' >&2
    else
        echo "demo: no message box was shown (Wine's log: $DEMO/boxes.log)" >&2
    fi
}
clean_up_on_exit
trap 'status=$?; [ $status -eq 0 ] || demo_failed; e2e_cleanup' EXIT
echo "== waiting for Wine to make and start its prefix $WINEPREFIX (the first time can take ten minutes)"
init_prefix
# The program proposes its current directory as the destination.
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "== running it on $DISPLAY: press OK to extract into $DEMO/extracted"
    (cd "$DEMO/extracted" && WINEDEBUG=-all "$(wine_of "$WIDTH")" "$(winpath "$DEMO/trelk-demo.exe")")
else
    echo "== no display: running it on Xvfb and accepting the proposed destination"
    start_display
    start_stub "$DEMO/extracted" "$DEMO/trelk-demo.exe" "$DEMO/boxes.log"
    echo "== waiting for the program's destination dialog (up to $WAIT_START s)"
    w=$(wait_window 'Trelk - Choose destination folder' "$WAIT_START")
    screenshot demo-destination
    keys "$w" Return
    wait_stub_exit
fi

echo "== extracted into $DEMO/extracted:"
(cd "$DEMO/extracted" && find . -type f -printf '%10s  %p\n' | sort -k2)
if diff -r "$DEMO/sample" "$DEMO/extracted" >/dev/null; then
    echo "== every file matches the sample byte for byte"
else
    echo "== the extracted files differ from the sample (or the extraction was cancelled)"
    exit 1
fi
