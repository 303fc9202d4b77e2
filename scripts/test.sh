#!/usr/bin/env bash
# The test command: installs what is missing, builds both platforms and runs
# every test: natively, under Wine (inside Xvfb on Wine's virtual desktop, as
# some tests open windows), and a short fuzzing run. Ends with one summary
# line "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/bootstrap.sh

# Shortcuts made by the tests stay in the Wine prefix: no menu entries on the host.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
logs=$root/build/logs
mkdir -p "$logs"

echo "== Windows build (mingw-w64)"
cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake >"$logs/configure-win64.log"
cmake --build build/win64
# Windows first: the native vxpack carries the Windows build's setup stub
# and standard uninstaller.
stub=$root/build/win64/setup/vxstub.exe
uninstaller=$root/build/win64/setup/vxuninst.exe
echo "== native build"
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVX_STUB="$([[ -f $stub ]] && echo "$stub")" \
  -DVX_UNINSTALLER="$([[ -f $uninstaller ]] && echo "$uninstaller")" >"$logs/configure-linux.log"
cmake --build build/linux

status=0
echo "== native tests"
ctest --test-dir build/linux --output-on-failure -j"$(nproc)" >"$logs/ctest-linux.log" 2>&1 || status=1
tail -n 3 "$logs/ctest-linux.log"
[[ $status == 0 ]] || grep -E 'Failed|\*\*\*' "$logs/ctest-linux.log" | head -n 40 || true

echo "== Windows tests under Wine"
wine_status=0
scripts/xvfb-wine.sh 1280x1024 bash -c 'ctest --test-dir build/win64 --output-on-failure >"$0" 2>&1' \
  "$logs/ctest-win64.log" || wine_status=1
tail -n 3 "$logs/ctest-win64.log"
if [[ $wine_status != 0 ]]; then
  status=1
  grep -E 'Failed|\*\*\*' "$logs/ctest-win64.log" | head -n 40 || true
fi

if [[ -x scripts/fuzz-smoke.sh ]]; then
  echo "== fuzzing smoke run"
  scripts/fuzz-smoke.sh >"$logs/fuzz.log" 2>&1 && fuzz=pass || { fuzz=fail; status=1; tail -n 20 "$logs/fuzz.log"; }
  echo "fuzzing smoke run: $fuzz"
fi

# One line over both test runs (and the fuzzing run, counted as one test).
count() { sed -nE "s/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p" "$1" | tail -n 1; }
read -r f1 t1 <<<"$(count "$logs/ctest-linux.log" || echo '0 0')"
read -r f2 t2 <<<"$(count "$logs/ctest-win64.log" || echo '0 0')"
failed=$(( ${f1:-0} + ${f2:-0} )); total=$(( ${t1:-0} + ${t2:-0} ))
if [[ ${fuzz:-} == pass ]]; then total=$((total + 1)); elif [[ ${fuzz:-} == fail ]]; then total=$((total + 1)); failed=$((failed + 1)); fi
echo "$((total - failed)) passed, $failed failed"
exit $status
