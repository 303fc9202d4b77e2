// libFuzzer target: the input, split into files, is packed by the compressor
// and must decode back exactly, each entry reading all of its packed data. The
// same bytes decoded as one entry's packed data (a damaged stream) must end
// with unpacked_left counting every byte handed over, or -1 when input ran out.
//   byte 0    bits 0..2 level - 1 (modulo 5), bit 3 solid, bits 4..5 files - 1
//   byte 1-2  the unpacked size declared for the damaged stream, in bytes
//   then      the files, in equal parts
#include <cstdio>
#include <cstdlib>

#include "packer/pack20.h"
#include "tests/test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const vxtest::TempDir folder;
  if (size < 3) return 0;
  const int level = 1 + (data[0] & 7) % 5;
  const bool solid = (data[0] & 8) != 0;
  const std::size_t files = 1 + ((data[0] >> 4) & 3);
  const uint32_t declared = data[1] | data[2] << 8;
  const uint8_t* body = data + 3;
  const std::size_t body_size = size - 3;

  Packer* packer = create_packer(level);
  vxtest::DecodePass pass(folder.path());
  for (std::size_t i = 0; i < files; ++i) {
    const std::size_t from = body_size * i / files, to = body_size * (i + 1) / files;
    std::vector<uint8_t> packed;
    bool continued = false;
    pack_entry(packer, body + from, static_cast<uint32_t>(to - from), solid, &packed, &continued);
    const vxtest::Bytes out = pass.decode(packed, static_cast<uint32_t>(to - from), continued);
    if (out != vxtest::Bytes(body + from, body + to) || pass.reader->packed_left != 0) {
      std::fprintf(stderr, "file %zu at level %d%s does not come back\n", i, level, solid ? " (solid)" : "");
      std::abort();
    }
  }
  destroy_packer(packer);

  vxtest::DecodePass damaged(folder.path());
  const vxtest::Bytes out = damaged.decode(vxtest::Bytes(body, body + body_size), declared, false);
  const int32_t left = damaged.reader->unpacked_left;
  const int64_t expected = int64_t{declared} - 1 - static_cast<int64_t>(out.size());
  if (left != -1 && left != expected) {
    std::fprintf(stderr, "unpacked_left %d after %zu bytes of %u\n", left, out.size(), declared);
    std::abort();
  }
  return 0;
}
