#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest. Wine's output goes to a file
# first: the wineserver that Wine leaves behind would otherwise hold CTest's
# pipe open after the program has ended.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
