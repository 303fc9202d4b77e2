// Compressed streams: a digest of what random and damaged streams decode to,
// and the compressor at every level, solid and not, back through the decoder,
// with its packed size pinned per level so that lost ratio fails too.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/unpack20.h"
#include "packer/pack20.h"
#include "tests/test_support.h"

namespace {

using vxtest::Bytes;

// What random bytes and damaged compressor output decode to, in short solid
// chains: output, counters and the state a next entry would start from. The
// digest was taken from a step-by-step decoder that follows the format's
// rules literally (three-byte peeks, limit comparisons, byte-wise copies),
// which agreed with this decoder on every entry.
TEST(Stream, RandomAndDamagedStreamsDecodeAsBefore) {
  uint32_t rng = 0x1234567;
  auto next = [&rng] { return vxtest::xorshift(rng); };
  Packer* packer = create_packer(2);
  uint32_t digest = 2166136261u;  // FNV-1a
  auto add = [&digest](const void* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) digest = (digest ^ static_cast<const uint8_t*>(p)[i]) * 16777619u;
  };
  vxtest::TempDir dir;
  for (int round = 0; round < 160; ++round) {
    vxtest::DecodePass pass(dir.path());
    for (int e = 0, entries = 1 + next() % 3; e < entries; ++e) {
      Bytes packed;
      uint32_t size = next() % 40000;
      if (round % 2 == 0) {
        packed = vxtest::random_bytes(next() % 20000, next() | 1);
      } else {
        const Bytes data = vxtest::text_like_bytes(size, next() | 1);
        bool continued = false;
        pack_entry(packer, data.data(), size, false, &packed, &continued);
        for (uint32_t k = next() % 6; k > 0 && !packed.empty(); --k) packed[next() % packed.size()] ^= 1 << (next() % 8);
        if (next() % 4 == 0) packed.resize(next() % (packed.size() + 1));
        if (next() % 4 == 0) size += next() % 3000;
      }
      const Bytes out = pass.decode(packed, size, e > 0 && next() % 4 != 0);
      const ArchiveReader& r = *pass.reader;
      const DecoderState& d = r.decoder;
      add(out.data(), out.size());
      const uint32_t fields[] = {static_cast<uint32_t>(out.size()), r.packed_left,
                                 static_cast<uint32_t>(r.unpacked_left), static_cast<uint32_t>(pass.pieces),
                                 d.window_pos, d.flushed_pos, d.in_pos, d.in_bit, d.in_valid, d.prev_match_length,
                                 d.prev_match_distance, d.recent_index, d.audio_mode, d.channel_count,
                                 d.current_channel, d.main_table.count, d.main_table.symbols[0]};
      add(fields, sizeof fields);
      add(d.prev_code_lengths, sizeof d.prev_code_lengths);
    }
  }
  destroy_packer(packer);
  EXPECT_EQ(digest, 0xE2F291B0u) << std::hex << digest;
}

// Text; a mix with repeats 8 KB, 256 KB and a few hundred bytes back; noise
// (stored); the first entry again (a solid chain codes it almost for free,
// across the noise); empty and one-byte entries (stored); a long run; noise
// repeated 1,000,000 bytes back (only a match near the window's size finds
// it) and 1,100,000 bytes back (beyond reach); text; skewed byte counts.
const std::vector<Bytes>& samples() {
  static const std::vector<Bytes> s = [] {
    const Bytes text = vxtest::text_like_bytes(100000, 7);
    Bytes mix;
    for (uint32_t i = 0; mix.size() < 300000; ++i) {
      const Bytes piece = (i % 3 == 0) ? vxtest::random_bytes(700 + i % 5000, i) : vxtest::text_like_bytes(900, i);
      mix.insert(mix.end(), piece.begin(), piece.end());
      const std::size_t back = (i % 4 == 0) ? 0x2000 : (i % 4 == 1) ? 0x40000 : 0x101 + i * 37;
      if (mix.size() > back + 300) mix.insert(mix.end(), mix.end() - back, mix.end() - back + 40 + i % 200);
    }
    // Noise, zeros, and the same noise again from distance bytes back.
    const auto repeated_across = [](std::size_t distance) {
      Bytes out = vxtest::random_bytes(50000, static_cast<uint32_t>(distance));
      out.resize(distance + 50000, 0);
      std::copy_n(out.begin(), 50000, out.end() - 50000);
      return out;
    };
    // Bytes 0..21 where byte k occurs as often as the (k+1)th Fibonacci number,
    // in a scrambled order: an unlimited Huffman code for them is 21 levels
    // deep, past the format's 15 bits.
    Bytes skewed;
    for (uint32_t k = 0, a = 1, b = 1; k < 22; ++k, b = a + b, a = b - a) skewed.insert(skewed.end(), a, uint8_t(k));
    const Bytes noise = vxtest::random_bytes(skewed.size() * 4, 99);
    for (std::size_t i = skewed.size() - 1; i > 0; --i) {
      uint32_t r;
      std::memcpy(&r, &noise[i * 4], 4);
      std::swap(skewed[i], skewed[r % (i + 1)]);
    }
    return std::vector<Bytes>{text, mix, vxtest::random_bytes(70000, 0xC0FFEE), text, {}, vxtest::bytes_of("a"),
                              Bytes(300000, 0), repeated_across(1000000), repeated_across(1100000),
                              vxtest::text_like_bytes(50000, 8), skewed};
  }();
  return s;
}
constexpr bool kStored[] = {false, false, true, false, true, true, false, false, false, false, false};

class Levels : public ::testing::TestWithParam<int> {};

// Entries that do not shrink are stored by the caller and forgotten by the
// packer; the others decode back in one decoder state (a solid chain needs the
// earlier entries in the window, and none of the stored ones). The solid
// totals are pinned as the compressor stands: lower a pin when one shrinks.
TEST_P(Levels, EveryEntryComesBackAndNoLargerThanPinned) {
  const std::size_t pinned[] = {0, 424279, 408859, 390401, 385731, 314274};
  vxtest::TempDir dir;
  for (bool solid : {true, false}) {
    SCOPED_TRACE(solid ? "solid" : "separate");
    Packer* packer = create_packer(GetParam());
    vxtest::DecodePass pass(dir.path());
    std::size_t total = 0;  // packed bytes of the compressed entries
    bool chain_started = false;
    for (std::size_t i = 0; i < samples().size(); ++i) {
      const Bytes& data = samples()[i];
      const uint32_t size = static_cast<uint32_t>(data.size());
      Bytes out;
      bool continued = false;
      pack_entry(packer, data.data(), size, solid, &out, &continued);
      EXPECT_EQ(out.size() >= size, kStored[i]) << i;
      if (out.size() >= size) {
        discard_last_entry(packer);
        continue;
      }
      // The first compressed entry starts the chain, every later one continues it.
      EXPECT_EQ(continued, solid && chain_started) << i;
      chain_started = true;
      total += out.size();
      EXPECT_TRUE(pass.decode(out, size, continued) == data) << i;
      EXPECT_EQ(pass.reader->packed_left, 0u) << i;
    }
    destroy_packer(packer);
    if (solid) {
      EXPECT_LE(total, pinned[GetParam()]);
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Pack20, Levels, ::testing::Range(kPackFastest, kPackBest + 1));

}  // namespace
