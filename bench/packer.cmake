# vxpack against gzip, libdeflate, xz, zstd, 7z and NSIS on one payload:
#   cmake --build build/linux --target bench_packer
# (payload from ../shared/bench/make_payload.sh; VX_BENCH_PAYLOAD picks it).
set(VX_BENCH_PAYLOAD /tmp/payload-large-flat CACHE PATH "Flat package folder for bench_packer")
add_custom_target(bench_packer
  COMMAND ${PROJECT_SOURCE_DIR}/bench/packer_bench.sh $<TARGET_FILE:vxpack> ${VX_BENCH_PAYLOAD}
  DEPENDS vxpack USES_TERMINAL VERBATIM)
