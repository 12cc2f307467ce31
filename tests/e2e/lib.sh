# Shared by the end-to-end scripts: a private Wine prefix, an Xvfb display,
# and the moves of a person in front of the stub (find a window, press keys,
# type), each bounded in time. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_OUT=$ROOT/build/e2e
STUB64=$ROOT/build/mingw-x86_64/trelk-sfx64.exe
TRELK_PACK=${TRELK_PACK:-$ROOT/build/native/trelk-pack}

export WINEPREFIX=$ROOT/build/wineprefix
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all

XVFB_PID=""
STUB_PID=""

die() { echo "e2e: $*" >&2; exit 1; }

# Every window, process and display this run made goes away, whatever happened.
e2e_cleanup() {
    if [ -n "$STUB_PID" ] && kill -0 "$STUB_PID" 2>/dev/null; then kill "$STUB_PID" 2>/dev/null || true; fi
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}

# Starts Xvfb on the first free display from :77 on.
start_display() {
    local n
    for n in $(seq 77 99); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        local i
        for i in $(seq 50); do
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then export DISPLAY=":$n"; return 0; fi
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    done
    die "no X display could be started"
}

# Makes the private prefix once; skips Mono and Gecko so nothing asks anything.
init_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1 || die "wineboot could not make $WINEPREFIX"
    timeout 60 wineserver -w || true
}

# start_stub DIR EXE LOG: runs EXE (by its Windows path, as a double-click would)
# from DIR as the current directory, in a virtual desktop so that captions are
# drawn; message boxes are logged to LOG.
start_stub() {
    local dir=$1 exe=$2 log=$3 winpath
    winpath=$(winepath -w "$exe" 2>/dev/null) || die "winepath failed for $exe"
    (cd "$dir" && WINEDEBUG=-all,trace+msgbox exec timeout 180 wine explorer /desktop=trelk-e2e,1024x768 "$winpath") \
        >"$log" 2>&1 &
    STUB_PID=$!
}

# wait_window REGEX [SECONDS]: prints the id of the visible window whose whole title matches.
wait_window() {
    local regex=$1 limit=${2:-30} i id
    for i in $(seq $((limit * 5))); do
        id=$(xdotool search --onlyvisible --name "^$regex\$" 2>/dev/null | head -1) || true
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.2
    done
    echo "no window '$regex' within ${limit}s" >&2
    return 1
}

# window_gone REGEX [SECONDS]
window_gone() {
    local regex=$1 limit=${2:-30} i
    for i in $(seq $((limit * 5))); do
        xdotool search --onlyvisible --name "^$regex\$" >/dev/null 2>&1 || return 0
        sleep 0.2
    done
    echo "window '$regex' still there after ${limit}s" >&2
    return 1
}

# window_id_gone ID [SECONDS]: that very window is closed (another of the same title may follow).
window_id_gone() {
    local id=$1 limit=${2:-30} i
    for i in $(seq $((limit * 5))); do
        xdotool getwindowname "$id" >/dev/null 2>&1 || return 0
        xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$id" || return 0
        sleep 0.2
    done
    echo "window $id still there after ${limit}s" >&2
    return 1
}

# keys WINDOW KEY...: focuses the window, then presses the keys.
keys() {
    local w=$1; shift
    xdotool windowfocus --sync "$w" >/dev/null 2>&1 || { echo "cannot focus window $w" >&2; return 1; }
    xdotool key --delay 40 "$@"
}

# type_text WINDOW TEXT
type_text() {
    xdotool windowfocus --sync "$1" >/dev/null 2>&1 || { echo "cannot focus window $1" >&2; return 1; }
    xdotool type --delay 10 -- "$2"
}

# wait_stub_exit [SECONDS]: the program (and its desktop) must end by itself.
wait_stub_exit() {
    local limit=${1:-60} i
    for i in $(seq $((limit * 5))); do
        if ! kill -0 "$STUB_PID" 2>/dev/null; then
            wait "$STUB_PID" 2>/dev/null || true
            STUB_PID=""
            return 0
        fi
        sleep 0.2
    done
    echo "the program did not end within ${limit}s" >&2
    kill "$STUB_PID" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
    STUB_PID=""
    return 1
}

# boxes LOG: the text of every message box shown, one per line, as Wine logs it
# (a line break shows as the two characters \n).
boxes() {
    sed -n 's/.*trace:msgbox:MSGBOX_OnInit L"\(.*\)"$/\1/p' "$1"
}

# expect_boxes LOG [TEXT...]: exactly these boxes, in this order.
expect_boxes() {
    local log=$1; shift
    local expected="" got
    if [ $# -gt 0 ]; then expected=$(printf '%s\n' "$@"); fi
    got=$(boxes "$log")
    if [ "$got" != "$expected" ]; then
        echo "boxes differ; expected:" >&2
        printf '  [%s]\n' "$@" >&2
        echo "got:" >&2
        sed 's/^/  [/; s/$/]/' <<<"$got" >&2
        return 1
    fi
}

# screenshot NAME: the whole virtual desktop into build/e2e/NAME.png.
screenshot() {
    import -window root "$E2E_OUT/$1.png" 2>/dev/null || { echo "screenshot $1 failed" >&2; return 1; }
}

# same_tree A B: every file of A is in B with the same bytes, and nothing else is.
same_tree() {
    diff -r "$1" "$2" >&2 || { echo "extracted tree differs from $1" >&2; return 1; }
}
