#!/bin/sh
# Creates the x86 lane's private Wine prefix once (64-bit with its 32-bit side, as on
# 64-bit Windows); later calls find it ready.
prefix=$1
. "$(dirname "$0")/env.sh"
"$X86_TOOLS/setup.sh" || exit 1
# The prefix records the root it was made with; one left unfinished or made with another
# root is made anew.
[ -f "$prefix/.x86-lane-ready" ] && [ "$(cat "$prefix/.x86-lane-ready")" = "$(cat "$X86_READY")" ] && exit 0
[ -f "$prefix/system.reg" ] && rm -rf "$prefix"
mkdir -p "$prefix" || x86_fail "cannot create $prefix"
X86_INIT=1 "$X86_TOOLS/run.sh" "$prefix" --script "$X86_TOOLS/wineboot.sh" >/dev/null 2>&1
win=$prefix/drive_c/windows
[ -f "$prefix/system.reg" ] && [ -f "$win/syswow64/kernel32.dll" ] \
  || x86_fail "wineboot -i did not create the prefix $prefix with its 32-bit side"
# Debian's user32.dll imports zlib1.dll: give programs it in system32 and syswow64 too.
cp "$X86_ROOT/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/zlib1.dll" "$win/system32/" \
  && cp "$X86_ROOT/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" "$win/syswow64/" \
  || x86_fail "cannot copy zlib1.dll into $prefix"
cp "$X86_READY" "$prefix/.x86-lane-ready"
