#!/bin/sh
# Stops the wineserver of the given prefix only, and waits until it is gone so that
# a run started right after does not meet a server that is still shutting down.
export WINEPREFIX="$1"
wineserver -k 2>/dev/null
timeout 30 wineserver -w 2>/dev/null
exit 0
