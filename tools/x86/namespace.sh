#!/bin/sh
# The x86 lane's namespace side (started by run.sh as PID 1 of a fresh PID namespace):
# binfmt_misc, mounts into the private Wine root, then the program or script:
#   namespace.sh SOURCE_DIR BUILD_DIR PROGRAM|--script SCRIPT [ARGS...]
. "$(dirname "$0")/env.sh"
source_dir=$1 build_dir=$2; shift 2

binfmt=$(mktemp -d) || x86_fail "no temporary folder"
mount -t binfmt_misc binfmt_misc "$binfmt" || x86_fail "cannot mount binfmt_misc in the user namespace"
# i386 ELF executables and shared objects; F: the interpreter is opened now, outside the root.
printf '%s' ':tess-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$X86_QEMU"':F' \
  > "$binfmt/register" || x86_fail "cannot register qemu-i386 with binfmt_misc"

root=$X86_ROOT
mount -t proc proc "$root/proc" || x86_fail "cannot mount /proc in the root"
mount --rbind /dev "$root/dev" || x86_fail "cannot bind /dev into the root"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp" || x86_fail "cannot mount /tmp in the root"
# The X server's socket, and xvfb-run's authority file, when there is a display.
if [ -n "${DISPLAY:-}" ] && [ -d /tmp/.X11-unix ]; then
  mkdir -p "$root/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  case "${XAUTHORITY:-}" in
    /tmp/*) d=$(dirname "$XAUTHORITY"); mkdir -p "$root$d" && mount --bind "$d" "$root$d" ;;
  esac
fi
# The project, the build folder, the working folder and X86_BIND's folders at their own
# paths (outer ones first).
bound=""
# shellcheck disable=SC2086
for dir in $(printf '%s\n' "$source_dir" "$build_dir" "$PWD" ${X86_BIND:-} | sort -u); do
  inside=0
  for b in $bound; do case "$dir/" in "$b"/*) inside=1 ;; esac; done
  [ $inside = 1 ] && continue
  mkdir -p "$root$dir" && mount --bind "$dir" "$root$dir" || x86_fail "cannot bind $dir into the root"
  bound="$bound $dir"
done

# Only Wine's, the tests' and the display's variables pass into the root.
for name in $(env | sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)=.*/\1/p'); do
  case $name in
    WINEPREFIX|WINEDEBUG|WINEDLLOVERRIDES|TESSALINE_*|GTEST_*|DISPLAY|XAUTHORITY|LANG|LC_*|TZ) ;;
    *) unset "$name" 2>/dev/null ;;
  esac
done
export HOME=/root USER=root PATH=/usr/bin:/bin WINESERVER=/usr/lib/wine/wineserver64
export X86_WINE="$X86_TOOLS/wine.sh" X64_WINE="$X86_TOOLS/wine64.sh" X86_ROOT="$root"
# wine.sh and wine64.sh leave this behind: a Wine program ran and the server has work to save.
export X86_RAN="$binfmt.ran"

# The (native, 64-bit) wineserver, started here rather than by the first program: no
# linger at its end (-p0). It ends when the last program of the run has ended.
unshare --root="$root" --wd=/ "$WINESERVER" -p0 || x86_fail "the wineserver does not start in the root"
if [ "$1" = --script ]; then
  shift
  script=$1; shift
  sh "$script" "$@"
else
  "$X86_WINE" "$@"
fi
rc=$?
# Wine writes the registry when its server ends, after the last program; the namespace
# ends with this process. A server no program reached (a script that stopped early)
# would wait for one: it is stopped instead, as is one that programs left behind keep alive.
if [ -f "$X86_RAN" ]; then
  timeout 300 unshare --root="$root" --wd=/ "$WINESERVER" -w || unshare --root="$root" --wd=/ "$WINESERVER" -k
else
  unshare --root="$root" --wd=/ "$WINESERVER" -k
fi
exit $rc
