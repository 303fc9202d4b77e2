#!/usr/bin/env bash
# Runs a command inside Xvfb with Wine's virtual desktop on for its duration:
#   scripts/xvfb-wine.sh 1280x1024 COMMAND [ARGS...]
# With no window manager in Xvfb, Wine waits up to two seconds for every
# hidden top-level window to be withdrawn; on its virtual desktop Wine
# manages the windows itself and never waits. A desktop the prefix already
# has is kept; the one set here is removed again afterwards.
set -uo pipefail
size=$1
shift
exec xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
  size=$1
  shift
  key="HKCU\\Software\\Wine\\Explorer"
  own=0
  if ! wine reg query "$key" /v Desktop >/dev/null 2>&1; then
    own=1
    wine reg add "$key\\Desktops" /v vxsetup /d "$size" /f >/dev/null 2>&1
    wine reg add "$key" /v Desktop /d vxsetup /f >/dev/null 2>&1
  fi
  wineserver -w
  "$@"
  rc=$?
  wineserver -w
  if [[ $own == 1 ]]; then
    wine reg delete "$key" /v Desktop /f >/dev/null 2>&1
    wine reg delete "$key\\Desktops" /v vxsetup /f >/dev/null 2>&1
    wineserver -w
  fi
  exit $rc' bash "$size" "$@"
