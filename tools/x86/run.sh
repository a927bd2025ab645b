#!/bin/sh
# Runs an x86 Windows program under Wine with its i386 code in QEMU user-mode emulation
# (the x86 lane's CTest emulator):   run.sh PREFIX PROGRAM [ARGS...]
# or a shell script that starts several Wine programs in one namespace (one wineserver
# for all of them; each Wine start costs seconds under emulation):
#                    run.sh PREFIX --script SCRIPT [ARGS...]
# The script runs on the host side of the namespace with WINEPREFIX exported, X86_WINE
# naming the command that runs one x86 program in the root ("$X86_WINE" regsvr32 ...)
# and X64_WINE the one for an x64 program.
#
# Each run is its own user, mount and PID namespace: a private binfmt_misc instance
# sends i386 ELF to qemu-i386 (Linux >= 6.7 gives every user namespace its own, so
# nothing global changes), and Wine runs chrooted in the private root (setup.sh) with
# /proc, /dev, a private /tmp, the X socket and the project and build folders bound in
# at their own paths. When this script is killed or signalled (a CTest timeout), the
# whole namespace ends with it.
prefix=$1; shift
. "$(dirname "$0")/env.sh"
"$X86_TOOLS/setup.sh" || exit 1
prefix=$(mkdir -p "$prefix" && cd "$prefix" && pwd) || x86_fail "cannot create the prefix folder"
if [ "${X86_INIT:-}" != 1 ]; then
  "$X86_TOOLS/init.sh" "$prefix" || exit 1
fi
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
# unshare ignores SIGTERM and SIGINT while it waits, and PID 1 of the namespace ignores
# what it has no handler for: a signal to this script kills unshare, and --kill-child
# then ends the namespace with everything in it.
exec 3<&0
unshare --user --map-root-user --mount --pid --fork --kill-child \
  sh "$X86_TOOLS/namespace.sh" "$X86_SOURCE" "$(dirname "$prefix")" "$@" <&3 3<&- &
ns=$!
exec 3<&-
trap 'kill -KILL $ns 2>/dev/null' INT TERM HUP
rc=0
while kill -0 $ns 2>/dev/null; do
  wait $ns
  rc=$?
done
exit $rc
