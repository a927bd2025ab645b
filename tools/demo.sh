#!/bin/sh
# The demo: runs the driver in its own Wine prefix against the virtual DAC.
set -e
win64=$1
prefix="$win64/demo-prefix"
"$(dirname "$0")/wine/init.sh" "$prefix"
echo "demo: nothing to show yet (the driver is not built)"
"$(dirname "$0")/wine/stop.sh" "$prefix"
