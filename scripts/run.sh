#!/usr/bin/env bash
# The main job: installs what is missing, builds both platforms, builds the
# sample package into a setup executable with the native vxpack and checks it,
# then installs the sample package with the sample Setup.exe under Wine
# (scripts/run-sample-setup.sh), which prints where the files went.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
# Windows first: the setup stub and the standard uninstaller that the native
# vxpack carries, and the sample package folder (texts plus FooTool.exe) it
# stages.
cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake >/dev/null
cmake --build build/win64
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DVX_STUB="$PWD/build/win64/setup/vxstub.exe" \
  -DVX_UNINSTALLER="$PWD/build/win64/setup/vxuninst.exe" >/dev/null
cmake --build build/linux
vxpack=build/linux/tools/vxpack/vxpack
package=build/win64/examples/package
out=build/sample/Setup.exe
mkdir -p build/sample
echo; echo "\$ vxpack build $package -o $out"; "$vxpack" build "$package" -o "$out"
echo; echo "\$ vxpack list $out"; "$vxpack" list "$out"
echo; echo "\$ vxpack test $out"; "$vxpack" test "$out"
echo; echo "\$ scripts/run-sample-setup.sh"; scripts/run-sample-setup.sh
