#!/bin/sh
# Nothing to stop: each x86 run's wineserver ends with its namespace (run.sh waits for it
# so that the registry is written).
exit 0
