// The fast decoder against the literal reference on streams nobody wrote by
// hand: random bytes, damaged compressor output (flipped bits, overwritten
// runs, cut or lengthened data, wrong sizes) and solid chains of them. Output,
// counters and every defined field of the state must agree after each entry.
#include <gtest/gtest.h>

#include "archive/unpack20.h"
#include "tests/bit_writer.h"
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

// Random valid streams with every symbol kind: random complete codes (up to
// 15 bits), literals, new, reused, short and repeated matches, table changes
// with and without the keep bit, audio headers, end-of-entry table reads,
// solid chains. Both decoders must give exactly the bytes of the model.
struct ValidStream {
  Random& rng;
  vxtest::StreamBuilder b;
  Bytes history;        // every byte of the pass so far
  bool audio = false;   // the latest table read had the audio bit
  bool changed = false; // the latest step was a table change

  std::vector<uint8_t> random_lengths(std::size_t n) {
    std::vector<uint32_t> freq(n);
    const uint32_t skew = 1 + rng.below(12);
    for (uint32_t& f : freq) f = 1 + (rng.next() >> (32 - skew - 8)) % (1u << skew);
    return vxtest::limited_code_lengths(freq, 15);
  }
  void plain_tables() {
    b.tables(random_lengths(298), random_lengths(48), random_lengths(28), rng.below(2) == 0);
    audio = false;
  }
  void audio_tables() {
    std::vector<std::vector<uint8_t>> channels(1 + rng.below(4));
    for (auto& c : channels) c = random_lengths(257);
    b.audio_tables(channels, rng.below(2) == 0);
    audio = true;
  }
  void copy(uint32_t length, uint32_t distance) {
    for (uint32_t i = 0; i < length; ++i) history.push_back(history[history.size() - distance]);
  }
  // One random step.
  void step() {
    changed = false;
    const std::size_t have = history.size();
    const uint32_t pick = rng.below(100);
    if (pick < 45 || have < 2) {
      const uint8_t c = static_cast<uint8_t>(rng.next());
      b.literal(c);
      history.push_back(c);
    } else if (pick < 70) {
      const uint32_t far = std::min<std::size_t>(have, (1u << 20) - 1);
      const uint32_t distance = 1 + (rng.below(3) == 0 ? rng.below(far) : rng.below(std::min<uint32_t>(far, 300)));
      const uint32_t length = 3 + vxtest::new_match_bonus(distance) + rng.below(256);
      b.new_match(length, distance);
      copy(length, distance);
    } else if (pick < 80) {
      const int which = 1 + rng.below(4);
      const uint32_t distance = b.ring_distance(which);
      if (distance == 0 || distance > have) return;
      const uint32_t length = 2 + vxtest::rep_match_bonus(distance) + rng.below(256);
      b.rep_match(which, length);
      copy(length, distance);
    } else if (pick < 88) {
      const uint32_t distance = 1 + rng.below(std::min<std::size_t>(have, 256));
      b.short_match(distance);
      copy(2, distance);
    } else if (pick < 94) {
      if (b.last_distance == 0 || b.last_distance > have) return;
      b.repeat_last();
      copy(b.last_length, b.last_distance);
    } else {
      // An audio read leaves the main table as it was, so the stream goes on
      // with the same codes.
      b.table_change();
      if (rng.below(4) == 0) {
        audio_tables();
      } else {
        plain_tables();
      }
      changed = true;
    }
  }
  // A table read behind the last symbol, for the end-of-entry check.
  void trailing_tables() {
    if (audio) {
      b.bits.put(b.channel[0].codes[256], b.channel[0].lengths[256]);
    } else {
      b.table_change();
    }
    plain_tables();
  }
};

TEST_F(Differential, RandomValidStreams) {
  Random rng{0xC0FFEE};
  for (int round = 0; round < 60; ++round) {
    vxtest::DecodePass fast(decompress_entry, dir_.path(), "fast");
    vxtest::DecodePass ref(vxtest::reference_decompress_entry, dir_.path(), "ref");
    ValidStream v{rng, {}, {}, false, false};
    const int entries = 1 + rng.below(4);
    for (int e = 0; e < entries; ++e) {
      const bool solid = e > 0 && rng.below(3) != 0;
      if (!solid) {
        v.b = vxtest::StreamBuilder();
        v.history.clear();
        v.plain_tables();
      } else {
        v.b.bits = vxtest::BitWriter();
      }
      const std::size_t begin = v.history.size();
      for (uint32_t steps = rng.below(3000); steps > 0; --steps) v.step();
      // The main loop ends with the last byte; only one table read follows
      // it (the end-of-entry check), so a table change ends with a literal.
      if (v.changed) {
        v.b.literal('.');
        v.history.push_back('.');
      }
      if (rng.below(2) == 0) v.trailing_tables();
      const Bytes expect(v.history.begin() + begin, v.history.end());
      vxtest::EntryResult r;
      ASSERT_EQ(vxtest::compare_entry(fast, ref, v.b.bytes(), static_cast<uint32_t>(expect.size()), solid, &r), "")
          << "round " << round << " entry " << e;
      std::size_t first = 0;
      while (first < expect.size() && first < r.output.size() && r.output[first] == expect[first]) ++first;
      ASSERT_TRUE(r.output == expect) << "round " << round << " entry " << e << (solid ? " solid" : "")
                                      << ": first difference at " << first << " of " << expect.size();
    }
  }
}

}  // namespace
