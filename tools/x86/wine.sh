#!/bin/sh
# One program under 32-bit Wine in the i386 root, from the working folder
# (inside the x86 lane's namespace: see run.sh).   wine.sh PROGRAM [ARGS...]
exec unshare --root="$X86_ROOT" --wd="$PWD" /usr/lib/wine/wine "$@"
