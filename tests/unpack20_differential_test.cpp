// The fast decoder against the literal reference on streams nobody wrote by
// hand: random bytes, damaged compressor output (flipped bits, overwritten
// runs, cut or lengthened data, wrong sizes) and solid chains of them. Output,
// counters and every defined field of the state must agree after each entry.
#include <gtest/gtest.h>

#include "archive/unpack20.h"
#include "tests/decode_harness.h"
#include "tests/greedy_packer.h"
#include "tests/reference_unpack20.h"
#include "tests/test_support.h"

namespace {

using vxtest::Bytes;

struct Random {
  uint32_t state;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t below(uint32_t n) { return n == 0 ? 0 : next() % n; }
};

class Differential : public ::testing::Test {
 protected:
  void check_chain(const std::vector<Bytes>& packed, const std::vector<uint32_t>& sizes,
                   const std::vector<bool>& solid, const std::string& label) {
    vxtest::DecodePass fast(decompress_entry, dir_.path(), "fast");
    vxtest::DecodePass ref(vxtest::reference_decompress_entry, dir_.path(), "ref");
    for (std::size_t i = 0; i < packed.size(); ++i) {
      const std::string diff = vxtest::compare_entry(fast, ref, packed[i], sizes[i], solid[i]);
      ASSERT_EQ(diff, "") << label << " entry " << i;
    }
  }
  vxtest::TempDir dir_;
};

TEST_F(Differential, RandomBytesAsPackedData) {
  Random rng{0x1234567};
  for (int round = 0; round < 300; ++round) {
    const int entries = 1 + rng.below(3);
    std::vector<Bytes> packed;
    std::vector<uint32_t> sizes;
    std::vector<bool> solid;
    for (int e = 0; e < entries; ++e) {
      const uint32_t length = rng.below(4) == 0 ? rng.below(40) : rng.below(20000);
      packed.push_back(vxtest::random_bytes(length, rng.next() | 1));
      sizes.push_back(rng.below(4) == 0 ? rng.below(300) : rng.below(60000));
      solid.push_back(e > 0 ? rng.below(4) != 0 : rng.below(8) == 0);
    }
    check_chain(packed, sizes, solid, "round " + std::to_string(round));
  }
}

// Valid streams first: greedy output for text and binary data, small blocks so
// that table changes are frequent.
std::vector<Bytes> sample_files(Random& rng, int n) {
  std::vector<Bytes> files;
  for (int i = 0; i < n; ++i) {
    const uint32_t size = rng.below(30000);
    files.push_back(rng.below(3) == 0 ? vxtest::random_bytes(size, rng.next() | 1)
                                      : vxtest::text_like_bytes(size, rng.next() | 1));
  }
  return files;
}

void damage(Bytes& b, Random& rng) {
  switch (rng.below(5)) {
    case 0:  // flipped bits
      for (uint32_t k = 1 + rng.below(8); k > 0 && !b.empty(); --k) b[rng.below(b.size())] ^= 1 << rng.below(8);
      break;
    case 1:  // an overwritten run
      if (!b.empty()) {
        const std::size_t at = rng.below(b.size());
        for (std::size_t i = at; i < b.size() && i < at + 1 + rng.below(64); ++i) b[i] = static_cast<uint8_t>(rng.next());
      }
      break;
    case 2:  // cut short
      b.resize(rng.below(b.size() + 1));
      break;
    case 3: {  // lengthened with noise
      const Bytes more = vxtest::random_bytes(1 + rng.below(9000), rng.next() | 1);
      b.insert(b.end(), more.begin(), more.end());
      break;
    }
    default:  // left alone
      break;
  }
}

TEST_F(Differential, DamagedCompressorOutput) {
  Random rng{0xBADC0DE};
  for (int round = 0; round < 200; ++round) {
    const bool solid_archive = rng.below(2) == 0;
    const std::vector<Bytes> files = sample_files(rng, 1 + rng.below(3));
    vxtest::PackOptions options;
    options.block_symbols = 64 + rng.below(4000);
    std::vector<Bytes> packed = vxtest::greedy_pack(files, solid_archive, options);
    std::vector<uint32_t> sizes;
    std::vector<bool> solid;
    for (std::size_t i = 0; i < files.size(); ++i) {
      damage(packed[i], rng);
      uint32_t size = static_cast<uint32_t>(files[i].size());
      if (rng.below(5) == 0) size = rng.below(2) ? size + rng.below(5000) : rng.below(size + 1);
      sizes.push_back(size);
      solid.push_back(solid_archive && i > 0);
    }
    check_chain(packed, sizes, solid, "round " + std::to_string(round));
  }
}

TEST_F(Differential, UndamagedOutputDecodesToTheInput) {
  Random rng{0x5EED};
  for (int round = 0; round < 20; ++round) {
    const bool solid_archive = round % 2 == 0;
    const std::vector<Bytes> files = sample_files(rng, 1 + rng.below(4));
    vxtest::PackOptions options;
    options.block_symbols = 16 + rng.below(2000);
    const std::vector<Bytes> packed = vxtest::greedy_pack(files, solid_archive, options);
    vxtest::DecodePass fast(decompress_entry, dir_.path(), "fast");
    vxtest::DecodePass ref(vxtest::reference_decompress_entry, dir_.path(), "ref");
    for (std::size_t i = 0; i < files.size(); ++i) {
      vxtest::EntryResult r;
      ASSERT_EQ(vxtest::compare_entry(fast, ref, packed[i], static_cast<uint32_t>(files[i].size()),
                                      solid_archive && i > 0, &r),
                "");
      ASSERT_EQ(r.output, files[i]) << "round " << round << " entry " << i;
    }
  }
}

}  // namespace
