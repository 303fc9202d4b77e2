#!/usr/bin/env bash
# Short fuzzing run of the decompressor: builds the libFuzzer targets with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer in build/fuzz (a
# separate build folder, configured once), writes the seed corpora, and runs
# each target for FUZZ_SECONDS (default 30) from them. Exits non-zero when a
# target reports a finding; the crashing input is left in build/fuzz/findings.
#   scripts/fuzz-smoke.sh            both targets, 30 s each
#   FUZZ_SECONDS=1800 scripts/fuzz-smoke.sh decoder_fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
seconds=${FUZZ_SECONDS:-30}
targets=("$@")
((${#targets[@]})) || targets=(decoder_fuzz decoder_roundtrip_fuzz)

flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link -g"
if [[ ! -f $build/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVX_FUZZ=ON -DVX_TESTS=OFF -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
fi
cmake --build $build -j2 --target decoder_fuzz decoder_roundtrip_fuzz decoder_fuzz_seeds

mkdir -p $build/seeds/archives $build/seeds/roundtrips $build/corpus/archives $build/corpus/roundtrips $build/findings
$build/fuzz/decoder_fuzz_seeds $build/seeds/archives $build/seeds/roundtrips

status=0
for target in "${targets[@]}"; do
  case $target in
    decoder_fuzz) corpus=archives ;;
    decoder_roundtrip_fuzz) corpus=roundtrips ;;
    *) echo "unknown target $target" >&2; exit 2 ;;
  esac
  # Inputs of earlier findings run first, each within 10 seconds.
  regressions=(fuzz/regressions/$corpus/*)
  if [[ -e ${regressions[0]} ]]; then
    echo "== $target on ${#regressions[@]} earlier findings"
    $build/fuzz/$target -timeout=10 "${regressions[@]}" >/dev/null 2>&1 || { echo "regression input failed"; status=1; }
  fi
  echo "== $target for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    $build/fuzz/$target -max_total_time="$seconds" -timeout=60 -rss_limit_mb=3072 -max_len=65536 \
      -artifact_prefix=$build/findings/ -print_final_stats=1 \
      $build/corpus/$corpus $build/seeds/$corpus || status=1
done
exit $status
