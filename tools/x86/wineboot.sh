#!/bin/sh
# Prefix creation inside the x86 lane's namespace (init.sh): the x64 wineboot, which
# also sets up the 32-bit side through QEMU.
"$X64_WINE" wineboot -i
