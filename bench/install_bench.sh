#!/usr/bin/env bash
# Installation time side by side under Wine: one package folder packed three
# ways (vxpack build -m4, NSIS zlib, NSIS solid lzma) and each installer run
# RUNS times into a fresh folder, interleaved in one Wine session; prints the
# medians and our ratio to each peer. Beside them, interleaved the same way,
# the platform's floor: a program that does nothing, one that only creates
# the files ours installs (bench/file_floor.cpp), and the same as a dialog
# program that setup_probe drives as it drives ours. Then the sample
# Setup.exe, timed from its OK button to its message.
#   bench/install_bench.sh [-n RUNS] [--baseline-stub STUB.EXE] [FOLDER]
# FOLDER: a flat package (default /tmp/payload-large-flat from
# ../shared/bench/make_payload.sh); RUNS: default 5. --baseline-stub also
# times a Setup.exe built from the same folder with another stub (an older
# build's build/win64/setup/vxstub.exe), for before/after figures in one run.
# Needs both builds (scripts/test.sh) and makensis (scripts/bootstrap.sh --bench).
set -euo pipefail
export LC_ALL=C

# The timed runs, inside one X server and Wine session (the script calls
# itself with --inside; the settings come through the environment).
inside() {
  export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
  local target_unix probe=$root/build/win64/tests/setup_probe.exe timer=$root/build/win64/bench/process_timer.exe
  wine cmd /c exit >/dev/null 2>&1 || true  # Wine's own services up before the first timed run
  target_unix=$(winepath -u 'C:\vx-bench' 2>/dev/null | tr -d '\r')
  [[ $target_unix == */vx-bench ]] || { echo "install_bench: cannot find C:\\vx-bench" >&2; exit 1; }
  rm -rf "$target_unix"
  local failed=0 names=(vxsetup nsis-zlib nsis-lzma floor-none floor-files floor-dialog)
  [[ -f $work/baseline.exe ]] && names+=(baseline)
  check() {  # name expected-count
    local n
    n=$(find "$target_unix/$1" -maxdepth 1 -type f 2>/dev/null | wc -l)
    if [[ $n != "$2" ]]; then
      echo "install_bench: $1 installed $n files, not $2" >&2
      failed=1
    fi
    # Every run starts with the previous run's writes on disk: otherwise
    # later runs wait for earlier runs' dirty pages and grow slower in turn.
    # The files stay until all runs are over: on this file system a new
    # file's inode is sought past those deleted in the last seconds, so each
    # deletion would slow down the runs behind it.
    sync
  }
  steps() {  # name: from the probe's log, process start to dialog and OK to message
    sed -nE 's/^dialog shown after ([0-9.]+) ms\r?$/\1/p' "$work/$1-$i.log" >>"$work/$1.dialog"
    awk '/^OK pressed after/ {ok = $4} /^message shown after/ {print $4 - ok}' "$work/$1-$i.log" >>"$work/$1.pass"
  }
  timed() {  # name program [argument]...: the whole process, by process_timer
    local name=$1
    shift
    wine "$timer" "$@" >"$work/$name-$i.log" 2>&1 || failed=1
    sed -nE 's/^process ran for ([0-9.]+) ms\r?$/\1/p' "$work/$name-$i.log" >>"$work/$name.times"
  }
  for ((i = 1; i <= runs; ++i)); do
    for name in "${names[@]}"; do
      case $name in
        nsis-*)
          timed "$name" "$work/$name.exe" /S "/D=C:\\vx-bench\\$name-$i"
          check "$name-$i" "$expect_nsis"
          ;;
        floor-none)
          timed "$name" "$floor"
          ;;
        floor-files)
          timed "$name" "$floor" "$(winepath -w "$work/files.list" 2>/dev/null | tr -d '\r')" "C:\\vx-bench\\$name-$i"
          check "$name-$i" "$expect_ours"
          ;;
        floor-dialog)  # timed by the probe, as ours
          VX_FLOOR_LIST=$(winepath -w "$work/files.list" 2>/dev/null | tr -d '\r') \
            wine "$probe" "$floor" --wait 0 --install "C:\\vx-bench\\$name-$i" >"$work/$name-$i.log" 2>&1 || failed=1
          sed -nE 's/^message shown after ([0-9.]+) ms\r?$/\1/p' "$work/$name-$i.log" >>"$work/$name.times"
          steps "$name"
          check "$name-$i" "$expect_ours"
          ;;
        *)
          if [[ -n $package_id ]]; then
            wine reg delete 'HKCU\Software\Vantorix' /v "$package_id" /f >/dev/null 2>&1 || true
          else
            wine reg delete 'HKCU\Software\Vantorix' /ve /f >/dev/null 2>&1 || true
          fi
          wine "$probe" "$work/$name.exe" --wait 0 --install "C:\\vx-bench\\$name-$i" >"$work/$name-$i.log" 2>&1 || failed=1
          sed -nE 's/^message shown after ([0-9.]+) ms\r?$/\1/p' "$work/$name-$i.log" >>"$work/$name.times"
          steps "$name"
          check "$name-$i" "$expect_ours"
          ;;
      esac
    done
  done
  # The sample package: fresh installations, each removed again by its own
  # uninstaller (shortcuts, program group and records included).
  local sample=$root/build/win64/examples/Setup.exe
  for ((i = 1; i <= runs; ++i)); do
    wine "$probe" "$sample" --wait 0 --install 'C:\vx-bench\sample' >"$work/sample-$i.log" 2>&1 || failed=1
    steps sample
    wine 'C:\vx-bench\sample\UnInst.exe' /S >/dev/null 2>&1 || true
    rm -rf "$target_unix/sample"
  done
  wineserver -w
  rm -rf "$target_unix"
  sync
  return $failed
}

if [[ ${1:-} == --inside ]]; then
  inside
  exit
fi

cd "$(dirname "$0")/.."
root=$PWD
source bench/nsis_script.sh

runs=5
baseline_stub=""
folder=/tmp/payload-large-flat
while (($#)); do
  case $1 in
    -n) runs=$2; shift 2 ;;
    --baseline-stub) baseline_stub=$(realpath "$2"); shift 2 ;;
    *) folder=$1; shift ;;
  esac
done
folder=$(realpath "$folder")
[[ -d $folder ]] || { echo "install_bench: no package folder $folder" >&2; exit 1; }

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cmake --build build/win64 --target vxstub setup_probe process_timer file_floor sample_setup >/dev/null
cmake --build build/linux --target vxpack >/dev/null
vxpack=$root/build/linux/tools/vxpack/vxpack
floor=$root/build/win64/bench/file_floor.exe
work=$root/build/install-bench
rm -rf "$work" && mkdir -p "$work"

# The installers, all of the same folder.
"$vxpack" build "$folder" -o "$work/vxsetup.exe" -m4 -q --stub build/win64/setup/vxstub.exe 2>/dev/null
if [[ -n $baseline_stub ]]; then
  "$vxpack" build "$folder" -o "$work/baseline.exe" -m4 -q --stub "$baseline_stub" 2>/dev/null
fi
# The NSIS installers are x86-64 programs like ours (this Wine runs no 32-bit
# code). They are kept between runs while the folder is unchanged (names,
# sizes and times), as makensis takes a minute for a large package.
peers=$root/build/install-bench-peers/$( (echo "$folder"; find "$folder" -type f -printf '%P %s %T@\n' | sort) |
  sha256sum | cut -c1-16)
mkdir -p "$peers"
for comp in zlib lzma; do
  solid=$([[ $comp == lzma ]] && echo "/SOLID " || true)
  if [[ ! -f $peers/nsis-$comp.exe ]]; then
    nsis_script "$peers/nsis-$comp.exe" "$solid$comp" "$folder" amd64-unicode >"$peers/nsis-$comp.nsi"
    makensis -V1 "$peers/nsis-$comp.nsi" >/dev/null
  fi
  cp "$peers/nsis-$comp.exe" "$work/"
done

# The package's ID names its destination record; removed before every run of
# ours so that every run is a first installation with the same dialog preset.
inf=$(find "$folder" -maxdepth 1 -iname '*.inf' | head -n 1)
package_id=$([[ -n $inf ]] && sed -nE 's/^ID=([^\r]*)\r?$/\1/p' "$inf" | head -n 1 || true)
# What ours installs, "size name" a line, which the floor program creates as
# well: every entry (vxpack may add an uninstaller) but the .INF script,
# without the archive's folders.
"$vxpack" list "$work/vxsetup.exe" |
  sed -nE 's/^ *[0-9]+ +([0-9]+) .* [0-9A-F]{8}[ !] (.*)$/\1 \2/p' | sed -E 's/ \[solid\]$//; s/ [^\\]*\\/ /g' |
  grep -viE '^[0-9]+ .+\.inf$' >"$work/files.list" || true
expect_ours=$(wc -l <"$work/files.list")
expect_nsis=$(find "$folder" -maxdepth 1 -type f | wc -l)

export root work runs floor package_id expect_ours expect_nsis
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/bench/install_bench.sh" --inside >"$work/session.log" 2>&1 || status=1
cat "$work/session.log"

median() {  # file of numbers, one a line
  sort -n "$1" | awk '{v[NR] = $1} END {if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
ours=$(median "$work/vxsetup.times")
zlib=$(median "$work/nsis-zlib.times")
lzma=$(median "$work/nsis-lzma.times")
echo "package: $folder, $(find "$folder" -maxdepth 1 -type f | wc -l) files, $(du -sb --apparent-size "$folder" | cut -f1) bytes;" \
  "median of $runs fresh installations each, interleaved, Wine $(wine --version 2>/dev/null)"
printf "%-34s %12s %10s %10s %s\n" installer bytes "median ms" "ours / it" "runs (ms)"
row() {  # label exe times-file
  local m
  m=$(median "$3")
  printf "%-34s %12d %10.1f %10s %s\n" "$1" "$(stat -c %s "$2")" "$m" \
    "$(awk -v a="$ours" -v b="$m" 'BEGIN {printf "%.2f", a / b}')" "$(tr '\n' ' ' <"$3")"
}
row "vxsetup, vxpack build -m4" "$work/vxsetup.exe" "$work/vxsetup.times"
[[ -f $work/baseline.times ]] && row "vxsetup, baseline stub" "$work/baseline.exe" "$work/baseline.times"
row "NSIS zlib" "$work/nsis-zlib.exe" "$work/nsis-zlib.times"
row "NSIS solid lzma" "$work/nsis-lzma.exe" "$work/nsis-lzma.times"
row "floor: a program that does nothing" "$floor" "$work/floor-none.times"
row "floor: creating ours' files" "$floor" "$work/floor-files.times"
row "floor: the same in a dialog" "$floor" "$work/floor-dialog.times"
echo "timed: vxsetup from CreateProcessW to its success message (setup_probe presses OK as soon as the"
echo "  dialog shows and looks for the message every 5 ms); NSIS the whole process with /S (process_timer);"
echo "  the floor programs the whole process as well: file_floor without arguments, then file_floor creating"
echo "  the $expect_ours files ours installs, of their sizes (CreateFileW, one WriteFile, CloseHandle each);"
echo "  \"the same in a dialog\" is file_floor as a dialog program timed as ours is: a dialog, OK, the same"
echo "  files, a message box."
# Every installer pays the file floor, which Wine and the file system set
# and which varies from run to run; what each costs beyond it is its own.
files_floor=$(median "$work/floor-files.times")
awk -v o="$ours" -v z="$zlib" -v l="$lzma" -v f="$files_floor" 'BEGIN {
  printf "beyond the file floor (%.1f ms): ours %.1f ms, NSIS zlib %.1f ms (ours / it %.2f), NSIS solid lzma %.1f ms (%.2f)\n",
    f, o - f, z - f, (o - f) / (z - f), l - f, (o - f) / (l - f) }'
echo "ours beyond the dialog floor (its start-up, its two passes over the package, records and shortcuts):" \
  "$(awk -v o="$ours" -v d="$(median "$work/floor-dialog.times")" 'BEGIN {printf "%.1f", o - d}') ms"
printf "%-34s %21s %14s\n" "medians (ms)" "process start to dialog" "OK to message"
for step in "floor-dialog:the dialog floor" "vxsetup:vxsetup" "sample:the sample Setup.exe"; do
  printf "%-34s %21.1f %14.1f\n" "${step#*:}" "$(median "$work/${step%%:*}.dialog")" "$(median "$work/${step%%:*}.pass")"
done
echo "vxsetup's installation pass alone, OK to message: median $(median "$work/vxsetup.pass") ms" \
  "($(tr '\n' ' ' <"$work/vxsetup.pass")ms)"
[[ -f $work/baseline.pass ]] && echo "baseline stub's, OK to message: median $(median "$work/baseline.pass") ms" \
  "($(tr '\n' ' ' <"$work/baseline.pass")ms)"
echo "sample Setup.exe, OK to message: median $(median "$work/sample.pass") ms ($(tr '\n' ' ' <"$work/sample.pass")ms)"
awk -v o="$ours" -v z="$zlib" -v l="$lzma" -v s="$(median "$work/sample.pass")" 'BEGIN {
  printf "targets: ours <= 0.5 x NSIS solid lzma: %s (%.2f); ours <= 0.6 x NSIS zlib: %s (%.2f); sample OK to message <= 300 ms: %s\n",
    (o <= 0.5 * l ? "met" : "not met"), o / l, (o <= 0.6 * z ? "met" : "not met"), o / z, (s <= 300 ? "met" : "not met") }'
exit "${status:-0}"
