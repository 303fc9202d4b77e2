#!/usr/bin/env bash
# The main job: installs what is missing, builds vxsetup natively and shows
# vxpack at work on the sample setup executable that the build makes, then
# installs the sample package with the sample Setup.exe under Wine
# (scripts/run-sample-setup.sh), which prints where the files went.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/linux
vxpack=build/linux/tools/vxpack/vxpack
sample=build/linux/sample/Sample.exe
echo; echo "\$ vxpack list $sample"; "$vxpack" list "$sample"
echo; echo "\$ vxpack test $sample"; "$vxpack" test "$sample"
echo; echo "\$ vxpack extract $sample build/sample-out"; "$vxpack" extract "$sample" build/sample-out
echo; echo "\$ scripts/run-sample-setup.sh"; scripts/run-sample-setup.sh
