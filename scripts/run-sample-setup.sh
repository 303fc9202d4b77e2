#!/usr/bin/env bash
# Builds the sample Setup.exe (examples/, Windows build) and runs it under
# Wine. With a display ($DISPLAY set) the installer opens there for you to use.
# Without one it runs inside Xvfb: the dialog is read, photographed to
# build/artifacts/sample-setup.png (the path is printed), and cancelled.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/bootstrap.sh
cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake >/dev/null
cmake --build build/win64 --target sample_setup setup_probe
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
setup=$root/build/win64/examples/Setup.exe
mkdir -p build/logs build/artifacts
echo "sample setup program: $setup ($(stat -c %s "$setup") bytes)"

if [[ -n "${DISPLAY:-}" ]]; then
  echo "running it under Wine on display $DISPLAY"
  rc=0
  wine "$setup" >build/logs/sample-setup.log 2>&1 || rc=$?
  wineserver -w
  echo "Setup.exe ended with exit code $rc"
  exit $rc
fi

bmp=$root/build/artifacts/sample-setup.bmp
png=$root/build/artifacts/sample-setup.png
log=$root/build/logs/sample-setup.log
echo "no display: running it under Xvfb"
rc=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c \
  'wine "$0" "$1" --screenshot "$2" >"$3" 2>&1; rc=$?; wineserver -w; exit $rc' \
  "$root/build/win64/tests/setup_probe.exe" "$setup" "$bmp" "$log" || rc=$?
cat "$log"
if [[ -f "$bmp" ]]; then
  convert "$bmp" "$png" && rm -f "$bmp"
  echo "screenshot: $png"
fi
exit $rc
