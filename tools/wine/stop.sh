#!/bin/sh
# Stops the wineserver of the given prefix only.
WINEPREFIX="$1" wineserver -k 2>/dev/null
exit 0
