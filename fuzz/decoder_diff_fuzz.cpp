// libFuzzer target: the input describes a pass of one to four entries, each
// with its unpacked size, its solid flag and its packed bytes; the fast
// decoder and the literal reference decode it side by side and must agree on
// output, counters and state after every entry.
//   byte 0           entry count - 1 (low 2 bits)
//   per entry        3 bytes unpacked size (little-endian), 2 bytes packed
//                    size, 1 byte of flags (bit 0 solid; bit 1 allows sizes
//                    up to 2^20 + 2^16, which wrap the window, else the size
//                    is cut to 2^16), then the packed bytes (cut to what is left)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "archive/unpack20.h"
#include "tests/decode_harness.h"
#include "tests/reference_unpack20.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string f = std::string(base ? base : "/tmp") + "/vx-difffuzz-" + std::to_string(getpid());
    if (std::system(("mkdir -p '" + f + "'").c_str()) != 0) std::abort();
    return f;
  }();
  if (size < 1) return 0;
  std::size_t at = 0;
  const int entries = 1 + (data[at++] & 3);
  vxtest::DecodePass fast(decompress_entry, folder, "fast");
  vxtest::DecodePass ref(vxtest::reference_decompress_entry, folder, "ref");
  for (int e = 0; e < entries && at + 6 <= size; ++e) {
    uint32_t unpacked = data[at] | (data[at + 1] << 8) | (data[at + 2] << 16);
    const uint32_t cap = (data[at + 5] & 2) ? (1u << 20) + (1u << 16) : (1u << 16);
    if (unpacked > cap) unpacked = cap;
    std::size_t packed_size = data[at + 3] | (data[at + 4] << 8);
    const bool solid = data[at + 5] & 1;
    at += 6;
    if (packed_size > size - at) packed_size = size - at;
    const vxtest::Bytes packed(data + at, data + at + packed_size);
    at += packed_size;
    const std::string diff = vxtest::compare_entry(fast, ref, packed, unpacked, solid);
    if (!diff.empty()) {
      std::fprintf(stderr, "entry %d: the decoders differ: %s\n", e, diff.c_str());
      std::abort();
    }
  }
  return 0;
}
