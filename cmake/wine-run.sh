#!/bin/sh
# Runs a Windows program under Wine for CTest: wine-run.sh WINE PROGRAM ARGS...
# Wine starts its own services from the program when they are not running,
# and they outlive it; the program's output therefore goes through a file, as
# CTest would otherwise wait for the services to close its pipe.
wine="$1"
shift
out="$(mktemp)" || exit 1
trap 'rm -f "$out"' EXIT
"$wine" "$@" >"$out" 2>&1
status=$?
cat "$out"
exit "$status"
