#!/usr/bin/env bash
# Times full installations under Wine, from the start of the Setup.exe
# process to its success message, as setup_probe measures them (no
# screenshots, no settle time): the sample Setup.exe, and a package of about
# 50 MB made from the sample's files and 50,000,000 bytes of incompressible
# data (stored entries, as examples/make_setup.cpp writes them), and, when the
# native vxpack is built, about 50 MB of program files compressed by vxpack
# build. Every run is a fresh installation into C:\vx-measure\Foo Tool,
# removed afterwards by the package's UnInst.exe. Best and all of RUNS runs each (default 3).
#   scripts/measure-install.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-3}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cmake --build build/win64 --target sample_setup setup_probe make_setup >/dev/null
work=$root/build/measure
mkdir -p "$work"
big=$work/Setup50MB.exe
if [[ ! -f $big ]]; then
  head -c 50000000 /dev/urandom >"$work/Data.bin"
  entries=()
  for f in examples/sample/*; do entries+=("$(basename "$f")=$root/$f"); done
  entries+=("FooTool.exe=$root/build/win64/examples/FooTool.exe" "UnInst.exe=$root/build/win64/examples/UnInst.exe"
            "Data.bin=$work/Data.bin")
  wine build/win64/examples/make_setup.exe build/win64/setup/vxstub.exe "$big" "${entries[@]}" >"$work/make.log" 2>&1
  wineserver -w
fi

measure_folder=$(winepath -u 'C:\vx-measure' | tr -d '\r')
wineserver -w
[[ $measure_folder == */vx-measure ]] || { echo "cannot find C:\vx-measure"; exit 1; }

measure() {  # name setup.exe
  local times=()
  for ((i = 0; i < runs; ++i)); do
    scripts/xvfb-wine.sh 1024x768 bash -c \
      'wine "$0" "$1" --wait 0 --install "C:\\vx-measure\\Foo Tool" >"$2" 2>&1' \
      "$root/build/win64/tests/setup_probe.exe" "$2" "$work/probe.log"
    times+=("$(sed -nE 's/^message shown after ([0-9.]+) ms\r?$/\1/p' "$work/probe.log")")
    # The package's own uninstaller removes it again, so that every run is a
    # fresh installation with its shortcuts and program group.
    wine 'C:\vx-measure\Foo Tool\UnInst.exe' /S >/dev/null 2>&1 || true
    wineserver -w
    rm -rf "$measure_folder"  # what the uninstaller does not know (Data.bin)
  done
  printf '%s (%s bytes): ' "$1" "$(stat -c %s "$2")"
  printf '%s\n' "${times[@]}" | sort -n | head -n1 | tr -d '\n'
  echo " ms best; runs: ${times[*]} ms"
}

measure "sample Setup.exe" "$root/build/win64/examples/Setup.exe"
measure "50 MB Setup.exe, stored" "$big"

# With the native vxpack (build/linux): about 50 MB of program files (the
# sample and the system's shared libraries), compressed by vxpack build.
vxpack=$root/build/linux/tools/vxpack/vxpack
packed=$work/Setup50MB-packed.exe
if [[ -x $vxpack ]]; then
  if [[ ! -f $packed ]]; then
    rm -rf "$work/pkg50" && mkdir -p "$work/pkg50"
    cp examples/sample/* build/win64/examples/FooTool.exe build/win64/examples/UnInst.exe "$work/pkg50/"
    total=0
    for f in $(ls -S /usr/lib/x86_64-linux-gnu/*.so*); do
      [[ -f $f && ! -L $f ]] || continue
      size=$(stat -c %s "$f")
      ((size > 8000000)) && continue
      cp "$f" "$work/pkg50/"
      total=$((total + size))
      ((total > 50000000)) && break
    done
    "$vxpack" build "$work/pkg50" -o "$packed" --stub build/win64/setup/vxstub.exe
  fi
  measure "50 MB Setup.exe, compressed" "$packed"
fi
