#!/usr/bin/env bash
# Makes 32-bit Wine usable, so that the i686 product can run end to end:
# wine32 from Debian's i386 architecture and, where the kernel cannot start
# 32-bit programs itself, qemu-i386 registered for them through binfmt_misc.
# Idempotent: a machine that is ready is only checked. Whatever cannot be
# finished is undone, so a machine where it fails is left as it was.
#
#   bash tests/e2e/setup_wine32.sh STATUS-FILE
#
# STATUS-FILE receives "ready" or "skipped: REASON"; the exit status is 0 when
# ready, 1 when skipped. Environment switches, for trying the failure paths:
#   TRELK_WINE32_SIMULATE=no-root   act as if not run by root
#   TRELK_WINE32_SIMULATE=no-index  fetch the index through a dead proxy (a real failed fetch)
#   TRELK_WINE32_SIMULATE=no-binfmt act as if binfmt_misc could not be mounted
#   TRELK_WINE32_SIMULATE=broken    act as if the installed 32-bit Wine did not start
#   TRELK_WINE32_QEMU=1             run 32-bit programs through qemu-i386 even where the
#                                   kernel could run them (the way of kernels without IA32)
set -uo pipefail

STATUS=${1:?usage: setup_wine32.sh STATUS-FILE}
SIMULATE=${TRELK_WINE32_SIMULATE:-}
WINE32=/usr/lib/wine/wine
QEMU=/usr/bin/qemu-i386
BINFMT=/proc/sys/fs/binfmt_misc
BINFMT_NAME=qemu-i386
# i386 ELF executables and shared objects (the mask lets any OS/ABI byte and both types through).
BINFMT_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
BINFMT_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
APT=(apt-get -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends)
export DEBIAN_FRONTEND=noninteractive

UNDO=()       # shell commands that take back what was done, run last first
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT

say() { echo "wine32 set-up: $*"; }

undo_all() {
    local i
    for ((i = ${#UNDO[@]} - 1; i >= 0; i--)); do
        say "undo: ${UNDO[i]}"
        eval "${UNDO[i]}" || say "could not undo: ${UNDO[i]}"
    done
    UNDO=()
}

skip() {
    undo_all
    echo "skipped: $*" >"$STATUS"
    say "SKIPPED: $*"
    exit 1
}

ready() {
    echo ready >"$STATUS"
    say "ready ($("$WINE32" --version 2>/dev/null))"
    exit 0
}

# A 95-byte static i386 program that exits with 42: it shows whether 32-bit
# programs start here without needing any 32-bit library.
write_probe() {
    printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00' \
        '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
        '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5f\x00\x00\x00' \
        '\x5f\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
        '\xb8\x01\x00\x00\x00\x31\xdb\xb3\x2a\xcd\x80' >"$SCRATCH/probe32"
    chmod +x "$SCRATCH/probe32"
}
runs_32bit() { timeout 60 "$SCRATCH/probe32" 2>/dev/null; [ $? -eq 42 ]; }
registered() { [ -e "$BINFMT/$BINFMT_NAME" ] && grep -qx enabled "$BINFMT/$BINFMT_NAME"; }
wine32_works() {
    [ "$SIMULATE" != broken ] || return 1
    [ -x "$WINE32" ] && timeout 300 "$WINE32" --version >/dev/null 2>&1
}
installed_packages() {
    dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' 2>/dev/null | awk '$1 != "un" {print $2}' | sort
}

write_probe
# Through qemu only where the kernel itself refuses 32-bit programs, unless asked.
need_qemu=0
if [ -n "${TRELK_WINE32_QEMU:-}" ] || ! runs_32bit; then need_qemu=1; fi
if wine32_works && { [ "$need_qemu" = 0 ] || registered; } && runs_32bit; then ready; fi

[ "$(id -u)" = 0 ] && [ "$SIMULATE" != no-root ] || skip "not root: 32-bit Wine cannot be installed"
command -v apt-get >/dev/null && command -v dpkg >/dev/null || skip "no apt-get/dpkg on this machine"

# binfmt_misc first: it is the cheapest thing that can fail.
if [ "$need_qemu" = 1 ] && ! registered && [ ! -e "$BINFMT/register" ]; then
    if [ "$SIMULATE" = no-binfmt ] || ! mount -t binfmt_misc binfmt_misc "$BINFMT" 2>"$SCRATCH/mount.err"; then
        skip "binfmt_misc cannot be mounted on $BINFMT ($(head -1 "$SCRATCH/mount.err" 2>/dev/null || echo simulated)) and the kernel cannot run 32-bit programs"
    fi
    UNDO+=("umount $BINFMT")
    say "mounted binfmt_misc"
fi

wanted=()
[ -x "$WINE32" ] || wanted+=(wine32:i386)
[ "$need_qemu" = 0 ] || [ -x "$QEMU" ] || wanted+=(qemu-user)

if [ ! -x "$WINE32" ]; then
    lists_before=$(ls /var/lib/apt/lists)
    forget_new_i386_lists() {  # the i386 indexes fetched for nothing
        local f
        for f in $(ls /var/lib/apt/lists); do
            grep -qxF "$f" <<<"$lists_before" || [[ $f != *i386* ]] || rm -f "/var/lib/apt/lists/$f"
        done
    }
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 || skip "dpkg --add-architecture i386 failed"
        UNDO+=("dpkg --remove-architecture i386" forget_new_i386_lists)
        say "added the i386 architecture"
    fi

    start=$SECONDS
    update_opts=()
    if [ "$SIMULATE" = no-index ]; then
        update_opts=(-o Acquire::http::Proxy=http://127.0.0.1:9/ -o Acquire::https::Proxy=http://127.0.0.1:9/ -o Acquire::Retries=0)
    fi
    timeout 900 apt-get -o DPkg::Lock::Timeout=600 -qq "${update_opts[@]}" update >"$SCRATCH/update.log" 2>&1
    # A failed fetch is only a warning to apt-get; what counts is whether wine32 can now be had.
    candidate=$(apt-cache policy wine32:i386 2>/dev/null | sed -n 's/^ *Candidate: //p')
    wine64_version=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null || true)
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        sed 's/^/  apt-get update: /' "$SCRATCH/update.log" | tail -5
        skip "the i386 package index could not be fetched (no wine32:i386 offered)"
    fi
    if [ -n "$wine64_version" ] && [ "$candidate" != "$wine64_version" ]; then
        skip "the i386 index offers wine32 $candidate but wine64 is $wine64_version (index out of sync)"
    fi
    say "package index with i386 fetched in $((SECONDS - start))s"
fi

start=$SECONDS
if [ ${#wanted[@]} -gt 0 ]; then
    packages_before=$(installed_packages)
    timeout 2400 "${APT[@]}" install "${wanted[@]}" >"$SCRATCH/install.log" 2>&1
    rc=$?
    new=$(comm -13 <(echo "$packages_before") <(installed_packages))
    new_native=$(grep -v ':i386$' <<<"$new" | tr '\n' ' ')
    new_i386=$(grep ':i386$' <<<"$new" | tr '\n' ' ')
    # apt-get counts libc6:i386 as essential; none of the i386 ones is needed by anything that was here.
    [ -z "${new_i386// /}" ] || UNDO+=("timeout 1200 ${APT[*]} --allow-remove-essential purge $new_i386 >/dev/null")
    [ -z "${new_native// /}" ] || UNDO+=("timeout 1200 ${APT[*]} purge $new_native >/dev/null")
    if [ $rc -ne 0 ]; then
        tail -5 "$SCRATCH/install.log" | sed 's/^/  apt-get install: /'
        skip "apt-get install ${wanted[*]} failed ($(grep -m1 '^E:' "$SCRATCH/install.log" || echo "exit $rc"))"
    fi
    say "installed ${wanted[*]} ($(wc -l <<<"$new") packages) in $((SECONDS - start))s"
fi

if [ "$need_qemu" = 1 ] && ! registered; then
    [ -x "$QEMU" ] || skip "$QEMU is missing"
    if ! printf ':%s:M::%s:%s:%s:F\n' "$BINFMT_NAME" "$BINFMT_MAGIC" "$BINFMT_MASK" "$QEMU" >"$BINFMT/register" 2>/dev/null; then
        skip "$QEMU could not be registered for i386 programs in binfmt_misc"
    fi
    UNDO+=("echo -1 >$BINFMT/$BINFMT_NAME")
    say "registered $QEMU for i386 programs"
fi

runs_32bit || skip "32-bit programs still do not start"
wine32_works || skip "$WINE32 does not start${SIMULATE:+ (simulated)}"
UNDO=()
ready
