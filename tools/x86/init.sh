#!/bin/sh
# Creates the x86 lane's private 32-bit Wine prefix once; later calls find it ready.
prefix=$1
. "$(dirname "$0")/env.sh"
[ -f "$prefix/system.reg" ] && exit 0
"$X86_TOOLS/setup.sh" || exit 1
mkdir -p "$prefix" || x86_fail "cannot create $prefix"
X86_INIT=1 "$X86_TOOLS/run.sh" "$prefix" wineboot -i >/dev/null 2>&1
[ -f "$prefix/system.reg" ] || x86_fail "wineboot -i did not create the prefix $prefix under emulation"
# Debian's i386 user32.dll imports zlib1.dll: give programs it in system32 too.
cp "$X86_ROOT/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" "$prefix/drive_c/windows/system32/" \
  || x86_fail "cannot copy zlib1.dll into $prefix"
