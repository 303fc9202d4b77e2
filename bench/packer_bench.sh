#!/usr/bin/env bash
# Compares vxpack build at every level with the usual compressors on a tar of
# the same files and with NSIS installers built from the same folder; prints
# one table, every figure measured in this run.
#   bench/packer_bench.sh VXPACK PACKAGE_FOLDER [RUNS]
# VXPACK: the native vxpack binary; PACKAGE_FOLDER: a flat package such as
# /tmp/payload-large-flat from make_payload.sh; RUNS: best of how many (1).
# Pack MB/s of vxpack is the whole build without the verify pass (reading the
# files, compressing, writing); decode MB/s is vxpack test, which decodes every
# entry through extract_archive into memory and tests its checksum.
set -euo pipefail
export LC_ALL=C
vxpack=$(realpath "$1")
folder=$(realpath "$2")
runs=${3:-1}
source "$(dirname "$0")/nsis_script.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A stub: any file serves, the reader scans for the archive behind it.
head -c 4096 /dev/zero >"$work/stub.bin"
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -C "$folder" -cf "$work/payload.tar" .
input=$(du -sb --apparent-size "$folder" | cut -f1)
tar_size=$(stat -c %s "$work/payload.tar")

now() { date +%s.%N; }
# best_time CMD...: the shortest wall time of RUNS runs, in seconds.
best_time() {
  local best=""
  for ((r = 0; r < runs; r++)); do
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>&1
    t1=$(now)
    best=$(awk -v a="$best" -v b="$(awk -v x="$t0" -v y="$t1" 'BEGIN{print y-x}')" \
      'BEGIN{ if (a == "" || b < a) print b; else print a }')
  done
  echo "$best"
}

row() {  # name size pack_seconds decode_seconds base_bytes
  awk -v n="$1" -v s="$2" -v p="$3" -v d="$4" -v in_="$5" -v g="$gzip_size" -v l="$ldef_size" 'BEGIN{
    printf "%-26s %12d %7.4f %7.3f %7.3f %9s %9s\n", n, s, s / in_, s / g, s / l,
      (p == "" ? "-" : sprintf("%.2f", in_ / p / 1e6)), (d == "" ? "-" : sprintf("%.1f", in_ / d / 1e6)) }'
}

# Peers on the tar first: their sizes are the reference columns.
declare -A size pack decode
peer() {  # name ext compress-command decompress-command
  local name=$1 out="$work/payload.$2"
  pack[$name]=$(best_time sh -c "$3 <'$work/payload.tar' >'$out'")
  size[$name]=$(stat -c %s "$out")
  decode[$name]=$(best_time sh -c "$4 <'$out' >/dev/null")
}
peer "gzip -9" gz "gzip -9 -c" "gzip -dc"
peer "libdeflate-gzip -12" ldgz "libdeflate-gzip -12 -c" "libdeflate-gzip -dc"
peer "xz -6" xz6 "xz -6 -c -T1" "xz -dc"
peer "xz -9" xz9 "xz -9 -c -T1" "xz -dc"
peer "zstd -19" zst "zstd -19 -q -c" "zstd -dc -q"
pack["7z -mx9"]=$(best_time 7z a -mx9 -mmt1 "$work/payload.7z" "$work/payload.tar")
size["7z -mx9"]=$(stat -c %s "$work/payload.7z")
decode["7z -mx9"]=$(best_time 7z e -so "$work/payload.7z")
gzip_size=${size["gzip -9"]}
ldef_size=${size["libdeflate-gzip -12"]}

echo "payload: $folder, $(find "$folder" -type f | wc -l) files, $input bytes (tar $tar_size bytes); best of $runs"
printf "%-26s %12s %7s %7s %7s %9s %9s\n" "method" "bytes" "ratio" "x gzip" "x ldefl" "pack MB/s" "dec MB/s"
for m in 0 1 2 3 4 5; do
  out="$work/setup-m$m.exe"
  p=$(best_time "$vxpack" build "$folder" -o "$out" -m$m --stub "$work/stub.bin" --no-verify -q)
  "$vxpack" test "$out" >/dev/null  # every entry must read back
  d=$(best_time "$vxpack" test "$out")
  row "vxpack -m$m" $(($(stat -c %s "$out") - 4096)) "$p" "$d" "$input"
  p=""
done
out="$work/setup-nosolid.exe"
p=$(best_time "$vxpack" build "$folder" -o "$out" -m5 --no-solid --stub "$work/stub.bin" --no-verify -q)
d=$(best_time "$vxpack" test "$out")
row "vxpack -m5 --no-solid" $(($(stat -c %s "$out") - 4096)) "$p" "$d" "$input"
for name in "gzip -9" "libdeflate-gzip -12" "xz -6" "xz -9" "zstd -19" "7z -mx9"; do
  row "$name (tar)" "${size[$name]}" "${pack[$name]}" "${decode[$name]}" "$input"
done

# NSIS installers of the same folder; the size is the whole installer.
for comp in zlib bzip2 "/SOLID lzma"; do
  nsis_script "$work/nsis.exe" "$comp" "$folder" >"$work/bench.nsi"
  p=$(best_time makensis -V1 "$work/bench.nsi")
  row "NSIS $comp" "$(stat -c %s "$work/nsis.exe")" "$p" "" "$input"
done
