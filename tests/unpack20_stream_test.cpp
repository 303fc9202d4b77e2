// The decompressor on streams written with the compressor's bit writer: the
// canonical code, the lengths and distances of every kind of match, table
// reads, and a digest of what random and damaged streams decode to.
#include <gtest/gtest.h>

#include "archive/unpack20.h"
#include "packer/pack20.h"
#include "packer/pack20_codes.h"
#include "tests/decode_harness.h"
#include "tests/test_support.h"

namespace {

using vxtest::Bytes;

// A stream under construction with the codes in force, and the bytes it
// should decode to (a fresh window holds zeros).
struct Stream {
  Bytes bytes;
  pack20::BitWriter bits{&bytes};
  pack20::BlockCode code{};
  Bytes out;

  // A first table read, in the compressor's form: every symbol has a code,
  // 9 bits in the main table, 6 for distances, 5 for lengths.
  void tables() {
    static const uint8_t kNone[kTableLengths] = {};
    for (int i = 0; i < kTableLengths; ++i) code.lengths[i] = i < kDistanceBase ? 9 : i < kRepLengthBase ? 6 : 5;
    pack20::finish_block_code(&code);
    pack20::write_table(&bits, code.lengths, kNone);
  }
  void symbol(uint32_t s) { bits.put(code.codes[s], code.lengths[s]); }
  void slot(int base, const pack20::Slot& s) {
    symbol(base + s.slot);
    bits.put(s.extra, s.bits);
  }
  void literal(uint8_t c) {
    symbol(c);
    out.push_back(c);
  }
  void copy(uint32_t length, uint32_t distance) {
    for (uint32_t i = 0; i < length; ++i) out.push_back(distance != 0 && distance <= out.size() ? out[out.size() - distance] : 0);
  }
  // The coded length value and the distance of a new match.
  void new_match(uint32_t coded, uint32_t distance) {
    slot(kMatchSymbol, pack20::length_slot(coded));
    slot(kDistanceBase, pack20::distance_slot(distance - 1));
  }
  void rep_match(uint32_t back, uint32_t coded) {
    symbol(kRepeatSymbol + back);
    slot(kRepLengthBase, pack20::length_slot(coded));
  }
  Bytes decode(vxtest::DecodePass& pass, bool solid = false) {
    bits.finish();
    return pass.decode(bytes, static_cast<uint32_t>(out.size()), solid).output;
  }
};

// The lookup table agrees with the limits on every 16-bit value, also for
// over-full and incomplete codes and over leftover symbol positions.
TEST(DecodeTable, LookupAgreesWithLimitsOnEveryValue) {
  uint32_t seed = 12345;
  DecodeTable t{};
  for (int round = 0; round < 150; ++round) {
    const uint32_t counts[] = {kMainSymbols, kChannelSymbols, kCodeLengthSymbols, kDistanceSymbols, kRepLengthSymbols};
    const uint32_t count = counts[round % 5];
    const Bytes random = vxtest::random_bytes(count, ++seed);
    uint8_t lengths[kMainSymbols];
    for (uint32_t i = 0; i < count; ++i) lengths[i] = random[i] % 3 == 0 ? 0 : 1 + random[i] % (1 + round % 15);
    build_decode_table(lengths, &t, count);
    for (uint32_t v = 0; v < 0x10000; ++v) {
      const uint32_t e = t.fast[v >> (16 - fast_bits(count))];
      if ((e & kEntryLengthMask) == 0) continue;
      uint32_t length;
      const uint32_t s = decode_bits(&t, v, &length);
      if (count != kDistanceSymbols && count != kRepLengthSymbols) ASSERT_EQ(e >> kEntryValueShift, s) << round;
      ASSERT_EQ(e & kEntryLengthMask, length) << round << " " << v;
    }
  }
}

// Every kind of match, with the length it has to come out with. Before any
// match, symbol 256 copies nothing at distance 0 (yet enters the ring), and a
// recent distance still 0 leaves the window's bytes (zeros) as they are.
TEST(Stream, MatchLengthsAndDistances) {
  enum Kind { kNew, kRep, kShort, kRepeat };
  const struct {
    Kind kind;
    uint32_t distance;  // kRep: which recent distance (1 the latest)
    uint32_t coded;     // the coded length value
    uint32_t length;    // bytes the decoder copies
    uint32_t expect_distance;
  } cases[] = {
      {kNew, 0x1FFF, 0, 3, 0x1FFF},   {kNew, 0x2000, 0, 4, 0x2000},  {kNew, 0x3FFFF, 255, 259, 0x3FFFF},
      {kNew, 0x40000, 0, 5, 0x40000}, {kNew, 1, 7, 10, 1},           {kNew, 0x100, 0, 3, 0x100},
      {kRep, 1, 0, 2, 0x100},         {kNew, 0x101, 0, 3, 0x101},    {kRep, 1, 0, 3, 0x101},
      {kRep, 4, 5, 7, 0x100},         {kRep, 2, 0, 3, 0x101},        {kNew, 0x2000, 1, 5, 0x2000},
      {kRep, 1, 9, 13, 0x2000},       {kNew, 0x40000, 0, 5, 0x40000}, {kRep, 1, 0, 5, 0x40000},
      {kRep, 4, 0, 4, 0x2000},        {kShort, 1, 0, 2, 1},          {kShort, 256, 0, 2, 256},
      {kShort, 193, 0, 2, 193},       {kRepeat, 0, 0, 2, 193},       {kNew, 0xFFFFF, 0, 5, 0xFFFFF},
      {kRepeat, 0, 0, 5, 0xFFFFF},    {kRep, 3, 0, 2, 193},
  };
  Stream s;
  s.tables();
  s.literal('x');
  s.symbol(kRepeatSymbol);
  s.rep_match(3, 0);
  s.copy(2, 0);
  // More than 0x40000 bytes of history to reach into.
  for (int i = 0; i < 251; ++i) s.literal(static_cast<uint8_t>(i * 7));
  while (s.out.size() < 0x41000) {
    s.new_match(224 + 31, 251);
    s.copy(258, 251);
  }
  for (const auto& c : cases) {
    if (c.kind == kNew) s.new_match(c.coded, c.distance);
    if (c.kind == kRep) s.rep_match(c.distance, c.coded);
    if (c.kind == kShort) s.slot(kShortSymbol, pack20::short_slot(c.distance - 1));
    if (c.kind == kRepeat) s.symbol(kRepeatSymbol);
    s.copy(c.length, c.expect_distance);
    s.literal('.');
  }
  vxtest::TempDir dir;
  vxtest::DecodePass pass(dir.path());
  EXPECT_TRUE(s.decode(pass) == s.out);
}

// Table reads written bit by bit: a run of 16 at the first position repeats
// a zero, a run of 16 stops at the table's end, the change form adds to the
// previous lengths modulo 16 (1 + 13 = 14); after an audio header the main
// table stays, and the end-of-entry check reads tables on symbol 256 of the
// channel table.
TEST(Stream, CodeLengthRunsAndChanges) {
  const uint8_t cl[kCodeLengthSymbols] = {3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 2, 0, 2};
  uint16_t cl_codes[kCodeLengthSymbols] = {};
  pack20::build_codes(cl, kCodeLengthSymbols, cl_codes);
  auto table = [&](Stream& s, uint32_t header, int header_bits, const std::vector<std::pair<uint32_t, uint32_t>>& steps) {
    s.bits.put(header, header_bits);
    for (uint8_t l : cl) s.bits.put(l, 4);
    for (const auto& [symbol, extra] : steps) {
      s.bits.put(cl_codes[symbol], cl[symbol]);
      if (symbol == kRepeatLengthSymbol) s.bits.put(extra, 2);
      if (symbol == kLongZerosSymbol) s.bits.put(extra, 7);
    }
  };
  auto main_code = [](std::vector<std::pair<uint32_t, uint8_t>> lengths, Stream& s) {
    std::fill(s.code.lengths, s.code.lengths + kTableLengths, 0);
    for (const auto& [symbol, length] : lengths) s.code.lengths[symbol] = length;
    pack20::finish_block_code(&s.code);
  };
  // 'a' 1, 'b' 2, 269 2, and 371..373 1 (the 16 run of six stops at 374).
  Stream first;
  table(first, 0, 2, {{16, 0}, {18, 83}, {1, 0}, {2, 0}, {18, 127}, {18, 21}, {2, 0}, {18, 90}, {1, 0}, {16, 3}});
  main_code({{'a', 1}, {'b', 2}, {kTableChangeSymbol, 2}}, first);
  first.literal('a');
  first.literal('b');
  vxtest::TempDir dir;
  vxtest::DecodePass pass(dir.path());
  EXPECT_EQ(first.decode(pass), vxtest::bytes_of("ab"));
  const uint8_t* prev = pass.state().prev_code_lengths;
  EXPECT_EQ(Bytes(prev + 370, prev + 375), Bytes({0, 1, 1, 1, 0}));

  Stream second;
  second.code = first.code;
  second.symbol(kTableChangeSymbol);
  table(second, kHeaderChanges, 2, {{18, 86}, {13, 0}, {0, 0}, {18, 127}, {18, 21}, {0, 0}, {18, 93}});
  main_code({{'a', 14}, {'b', 2}, {kTableChangeSymbol, 2}}, second);
  second.literal('b');
  second.literal('a');
  EXPECT_EQ(second.decode(pass, true), vxtest::bytes_of("ba"));
  EXPECT_EQ(prev['a'], 14);
  EXPECT_EQ(prev['b'], 2);
  EXPECT_EQ(prev[373], 0);

  Stream third;
  third.code = second.code;
  third.symbol(kTableChangeSymbol);
  table(third, kHeaderAudio << 2 | 1, 4, {{1, 0}, {18, 127}, {18, 106}, {1, 0}, {18, 127}, {18, 108}});
  third.literal('b');
  third.bits.put(1, 1);  // 256 in channel table 0
  table(third, 0, 2, {{18, 88}, {1, 0}, {18, 127}, {18, 125}});
  EXPECT_EQ(third.decode(pass, true), vxtest::bytes_of("b"));
  EXPECT_EQ(pass.state().channel_count, 2u);
  Stream fourth;
  main_code({{'c', 1}}, fourth);
  fourth.literal('c');
  fourth.literal('c');
  EXPECT_EQ(fourth.decode(pass, true), vxtest::bytes_of("cc"));
}

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
