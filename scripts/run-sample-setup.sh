#!/usr/bin/env bash
# Builds the sample Setup.exe (examples/, Windows build) and installs the
# sample package with it under Wine. With a display ($DISPLAY set) the
# installer opens there for you to use. Without one it runs inside Xvfb,
# unattended: the dialog is read and photographed, the destination set to
# C:\Program Files\Foo Tool, OK pressed, and the closing message read and
# photographed (build/artifacts/sample-setup*.png). Either way the script then
# prints where the files went, from the installer's own registry record, and
# the package's entry in the Apps list (the standard UnInst.exe in that folder
# removes it again; with /S without asking).
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

# Where the last installation of the sample (ID FOO) went, and what is there.
report() {
  local folder unix
  # Wine's output goes to a file: the wineserver it may start would hold a pipe open.
  wine reg query 'HKCU\Software\Vantorix' /v FOO >build/logs/sample-record.txt 2>/dev/null || true
  wineserver -w
  folder=$(tr -d '\r' <build/logs/sample-record.txt | sed -nE 's/^ *FOO +REG_SZ +(.*)$/\1/p')
  if [[ -z $folder ]]; then
    echo "the sample package is not installed"
    return 1
  fi
  winepath -u "$folder" >build/logs/sample-path.txt 2>/dev/null || true
  wineserver -w
  unix=$(tr -d '\r' <build/logs/sample-path.txt)
  echo "installed into: $folder"
  echo "            at: $unix"
  ls -l "$unix"
  wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Foo Tool' \
    >build/logs/sample-entry.txt 2>/dev/null || true
  wineserver -w
  echo "Apps-list entry:"
  tr -d '\r' <build/logs/sample-entry.txt | sed -nE 's/^ +/  /p'
  echo "to remove it: wine \"$folder\\UnInst.exe\" (add /S to skip the question)"
}

if [[ -n "${DISPLAY:-}" ]]; then
  echo "running it under Wine on display $DISPLAY"
  rc=0
  wine "$setup" >build/logs/sample-setup.log 2>&1 || rc=$?
  wineserver -w
  echo "Setup.exe ended with exit code $rc"
  report
  exit $rc
fi

bmp=$root/build/artifacts/sample-setup.bmp
message_bmp=$root/build/artifacts/sample-setup-message.bmp
log=$root/build/logs/sample-setup.log
echo "no display: installing it unattended under Xvfb"
rc=0
scripts/xvfb-wine.sh 1024x768 bash -c \
  'wine "$0" "$1" --screenshot "$2" --install "C:\\Program Files\\Foo Tool" \
     --message "Foo Tool has been successfully installed." --message-screenshot "$3" >"$4" 2>&1' \
  "$root/build/win64/tests/setup_probe.exe" "$setup" "$bmp" "$message_bmp" "$log" || rc=$?
cat "$log"
for shot in "$bmp" "$message_bmp"; do
  if [[ -f $shot ]]; then
    convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
    echo "screenshot: ${shot%.bmp}.png"
  fi
done
report || rc=1
exit $rc
