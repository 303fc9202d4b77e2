// The decompressor: a digest of what random and damaged streams decode to.
// (The compressor's round trips, pack20_roundtrip_test, cover the
// well-formed streams.)
#include <gtest/gtest.h>

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
  auto next = [&rng] {
    rng ^= rng << 13;
    rng ^= rng >> 17;
    rng ^= rng << 5;
    return rng;
  };
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
      const vxtest::EntryResult r = pass.decode(packed, size, e > 0 && next() % 4 != 0);
      const DecoderState& d = pass.state();
      add(r.output.data(), r.output.size());
      const uint32_t fields[] = {static_cast<uint32_t>(r.output.size()), r.packed_left,
                                 static_cast<uint32_t>(r.unpacked_left), static_cast<uint32_t>(r.pieces),
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

}  // namespace
