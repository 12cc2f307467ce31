# Shared by the end-to-end scripts: a private Wine prefix holding Wine's own
# fonts, an Xvfb display, the Wine loader of each stub's width, and the moves
# of a person in front of the stub (find a window, press keys, type), each
# bounded in time. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_OUT=$ROOT/build/e2e
TRELK_PACK=${TRELK_PACK:-$ROOT/build/native/trelk-pack}
# Named by path: once wine32 is installed, plain `wine` is the 32-bit loader
# (through qemu where the kernel lacks 32-bit support) whatever it starts.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINE_FONTS=/usr/share/wine/fonts

export WINEPREFIX=$ROOT/build/wineprefix
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all

# Waits, sized for a loaded machine where a 32-bit program may run under
# qemu: a program's first window, any later window, the program's end.
WAIT_START=${E2E_WAIT_START:-240}
WAIT_WINDOW=${E2E_WAIT_WINDOW:-90}
WAIT_EXIT=${E2E_WAIT_EXIT:-240}

XVFB_PID=""
STUB_PID=""
CASE_PID=""

die() { echo "e2e: $*" >&2; exit 1; }

stub_of() {  # stub_of WIDTH
    case $1 in
        i686) echo "$ROOT/build/mingw-i686/trelk-sfx.exe" ;;
        x86_64) echo "$ROOT/build/mingw-x86_64/trelk-sfx64.exe" ;;
        *) die "unknown width $1" ;;
    esac
}
wine_of() {  # wine_of WIDTH: the loader that starts a program of that width
    case $1 in
        i686) echo "$WINE32" ;;
        x86_64) echo "$WINE64" ;;
        *) die "unknown width $1" ;;
    esac
}
# Whether this machine can run programs of WIDTH under Wine at all.
width_runs() { [ -x "$(wine_of "$1")" ] && timeout 300 "$(wine_of "$1")" --version >/dev/null 2>&1; }

# The Windows path of a Linux path, through Wine's Z: drive (the root); no
# Wine process needed.
winpath() {
    local p
    p=$(realpath -m "$1")
    echo "Z:${p//\//\\}"
}

# poll SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; fails
# once SECONDS have passed.
poll() {
    local limit=$1 i; shift
    for i in $(seq $((limit * 5))); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}

# Every window, process and display this run made goes away, whatever
# happened, an interruption included.
clean_up_on_exit() {
    trap e2e_cleanup EXIT
    trap "exit 130" INT TERM
}
e2e_cleanup() {
    if [ -n "$CASE_PID" ]; then kill "$CASE_PID" 2>/dev/null || true; fi
    if [ -n "$STUB_PID" ] && kill -0 "$STUB_PID" 2>/dev/null; then kill "$STUB_PID" 2>/dev/null || true; fi
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}

# Starts Xvfb on a free display of this checkout's own range (so that two
# checkouts rarely even try the same number). A display counts as ours only
# once its lock file names our server: two runs starting at once cannot both
# take it.
xvfb_is_ours() {
    [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$1-lock")" = "$XVFB_PID" ] && xdpyinfo -display ":$1" >/dev/null 2>&1
}
display_alive() { [ -n "$XVFB_PID" ] && kill -0 "$XVFB_PID" 2>/dev/null; }
start_display() {
    local first n
    first=${E2E_DISPLAY_FIRST:-$((100 + $(cksum <<<"$ROOT" | cut -d' ' -f1) % 60 * 5))}
    for n in $(seq "$first" $((first + 30))); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        if poll 10 xvfb_is_ours "$n"; then
            export DISPLAY=":$n"
            return 0
        fi
        kill "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    done
    die "no X display could be started from :$first on"
}

# Makes the private prefix once (without Mono and Gecko, so nothing asks
# anything) and gives it Wine's own fonts: without them "MS Sans Serif" falls
# back to a wider face that cuts labels, and the close box shows as "r".
init_prefix() {
    # A prefix made before 32-bit Wine was installed lacks its 32-bit half.
    if [ -f "$WINEPREFIX/system.reg" ] && [ -x "$WINE32" ] &&
        [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX" "$E2E_OUT"
        timeout 900 "$WINE64" wineboot -i >"$E2E_OUT/wineboot.log" 2>&1 || die "wineboot could not make $WINEPREFIX"
        timeout 300 wineserver -w || true
        if [ -x "$WINE32" ] && [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
            mv "$WINEPREFIX" "$WINEPREFIX.broken"
            die "wineboot left $WINEPREFIX without its 32-bit half (kept as $WINEPREFIX.broken; see $E2E_OUT/wineboot.log)"
        fi
    fi
    [ -e "$WINE_FONTS/marlett.ttf" ] || die "Wine's fonts are missing ($WINE_FONTS): apt-get install fonts-wine"
    cp -u "$WINE_FONTS"/* "$WINEPREFIX/drive_c/windows/Fonts/"
}

# Starts the prefix once for the whole run: a persistent wineserver and the
# prefix's services, so that each program starts into a running prefix.
start_prefix() {
    wineserver -p || die "wineserver did not start"
    timeout 900 "$WINE64" wineboot >/dev/null 2>&1 || die "the prefix did not start"
}

# start_stub DIR EXE LOG: runs EXE (by its Windows path, as a double-click
# would) from DIR as the current directory, in a virtual desktop so that
# captions are drawn; message boxes are logged to LOG. The desktop is always
# the 64-bit explorer, as on 64-bit Windows; it hands a 32-bit program to the
# 32-bit loader. Under qemu that keeps the desktop itself out of emulation:
# a case then takes about a third of the time it takes with a 32-bit desktop.
start_stub() {
    local dir=$1 exe=$2 log=$3
    (cd "$dir" && WINEDEBUG=-all,trace+msgbox exec timeout 900 "$WINE64" \
        explorer /desktop=trelk-e2e,1024x768 "$(winpath "$exe")") >"$log" 2>&1 &
    STUB_PID=$!
}

# The programs still running from below DIR (Wine shows a process by its Windows path).
programs_left() {
    local dir
    dir=$(winpath "$1")
    ps -eo pid=,args= | grep -iF -- "$dir\\" | grep -v grep || true
}

find_window() {  # find_window REGEX: prints the id of the visible window whose whole title matches
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
    [ -n "$id" ] && echo "$id"
}
no_window() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
window_closed() {  # that very window is gone (another of the same title may follow)
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
    ! xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$1"
}
stub_ended() { ! kill -0 "$STUB_PID" 2>/dev/null; }

# wait_window REGEX [SECONDS]: prints the id of the visible window whose whole title matches.
wait_window() {
    local limit=${2:-$WAIT_WINDOW}
    poll "$limit" find_window "$1" && return 0
    echo "no window '$1' within ${limit}s" >&2
    return 1
}

# window_gone REGEX [SECONDS]
window_gone() {
    local limit=${2:-$WAIT_WINDOW}
    poll "$limit" no_window "$1" && return 0
    echo "window '$1' still there after ${limit}s" >&2
    return 1
}

# window_id_gone ID [SECONDS]
window_id_gone() {
    local limit=${2:-$WAIT_WINDOW}
    poll "$limit" window_closed "$1" && return 0
    echo "window $1 still there after ${limit}s" >&2
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
    local limit=${1:-$WAIT_EXIT}
    if poll "$limit" stub_ended; then
        wait "$STUB_PID" 2>/dev/null || true
        STUB_PID=""
        return 0
    fi
    # Left running, so that the failure's screenshot shows what it waits for.
    echo "the program did not end within ${limit}s" >&2
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
