// Crafted streams for every kind of symbol, table read and buffer edge. Each
// stream is decoded by the fast decoder and by the literal reference; both
// must agree with each other (output and state) and with the expected bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/unpack20.h"
#include "tests/bit_writer.h"
#include "tests/decode_harness.h"
#include "tests/reference_unpack20.h"
#include "tests/test_support.h"

namespace {

using vxtest::Bytes;
using vxtest::EntryResult;
using vxtest::StreamBuilder;

// Both decoders side by side, one pass each.
class BothDecoders {
 public:
  BothDecoders() : fast_(decompress_entry, dir_.path(), "fast"), ref_(vxtest::reference_decompress_entry, dir_.path(), "ref") {}

  EntryResult run(const Bytes& packed, uint32_t size, bool solid) {
    EntryResult a;
    EXPECT_EQ(vxtest::compare_entry(fast_, ref_, packed, size, solid, &a), "");
    return a;
  }
  const DecoderState& state() { return fast_.reader()->decoder; }
  const uint8_t* window() const { return fast_.window(); }

 private:
  vxtest::TempDir dir_;
  vxtest::DecodePass fast_;
  vxtest::DecodePass ref_;
};

// The expected output of a stream that starts on a zeroed window.
struct Model {
  Bytes out;
  void literal(uint8_t b) { out.push_back(b); }
  void copy(uint32_t length, uint32_t distance) {
    for (uint32_t i = 0; i < length; ++i)
      out.push_back(distance != 0 && distance <= out.size() ? out[out.size() - distance] : 0);
  }
};

std::vector<uint8_t> flat(std::size_t n, uint8_t length) { return std::vector<uint8_t>(n, length); }

// Every symbol of every table gets a code: 9 bits for the 298 main symbols,
// 6 for the 48 distance slots, 5 for the 28 length slots.
void all_tables(StreamBuilder& b, bool keep = false) {
  b.tables(flat(298, 9), flat(48, 6), flat(28, 5), keep);
}

// Literals 0..255 with 8-bit codes and nothing else.
void byte_tables(StreamBuilder& b, bool keep = false) {
  std::vector<uint8_t> m = flat(298, 0);
  for (int i = 0; i < 256; ++i) m[i] = 8;
  b.tables(m, flat(48, 0), flat(28, 0), keep);
}

// Both the stream and the model get the same literals.
void literals(StreamBuilder& b, Model& m, const Bytes& bytes) {
  for (uint8_t c : bytes) {
    b.literal(c);
    m.literal(c);
  }
}

// More than 0x40000 bytes of history, each byte its position mod 251.
void long_history(StreamBuilder& b, Model& m) {
  for (int i = 0; i < 251; ++i) {
    b.literal(static_cast<uint8_t>(i));
    m.literal(static_cast<uint8_t>(i));
  }
  while (m.out.size() < 0x41000) {
    b.new_match(251, 251);
    m.copy(251, 251);
  }
}

TEST(DecodeTable, FourLengthsGiveTheCanonicalCode) {
  const uint8_t lengths[4] = {2, 1, 3, 3};
  DecodeTable t{};
  build_decode_table(lengths, &t, 4);
  EXPECT_EQ(t.limit[1], 0x8000u);
  EXPECT_EQ(t.limit[2], 0xC000u);
  for (int L = 3; L <= 15; ++L) EXPECT_EQ(t.limit[L], 0xFFFFu) << L;
  EXPECT_EQ(t.start[1], 0u);
  EXPECT_EQ(t.start[2], 1u);
  EXPECT_EQ(t.start[3], 2u);
  EXPECT_EQ(t.symbols[0], 1);
  EXPECT_EQ(t.symbols[1], 0);
  EXPECT_EQ(t.symbols[2], 2);
  EXPECT_EQ(t.symbols[3], 3);
  uint32_t length;
  EXPECT_EQ(decode_bits(&t, 0x0000, &length), 1u);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(decode_bits(&t, 0x8000, &length), 0u);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(decode_bits(&t, 0xC000, &length), 2u);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(decode_bits(&t, 0xFFFF, &length), 3u);
  EXPECT_EQ(length, 3u);
}

// The lookup table agrees with the limit comparison on every 16-bit value,
// also for over-full and incomplete codes and over leftover symbol positions.
TEST(DecodeTable, LookupAgreesWithLimitsOnEveryValue) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
  };
  DecodeTable t{};
  for (int round = 0; round < 200; ++round) {
    uint8_t lengths[kMainSymbols];
    const uint32_t count = round % 3 == 0 ? kMainSymbols : round % 3 == 1 ? kDistanceSymbols : kCodeLengthSymbols;
    const uint32_t spread = 1 + next() % 15;
    for (uint32_t i = 0; i < count; ++i) lengths[i] = next() % 3 == 0 ? 0 : static_cast<uint8_t>(1 + next() % spread);
    build_decode_table(lengths, &t, count);
    for (uint32_t v = 0; v < 0x10000; ++v) {
      const uint32_t e = t.fast[v >> (16 - kFastBits)];
      if ((e >> 16) == 0) continue;
      uint32_t length;
      const uint32_t s = decode_bits(&t, v, &length);
      ASSERT_EQ(e & 0xFFFF, s) << round << " " << v;
      ASSERT_EQ(e >> 16, length) << round << " " << v;
    }
  }
}

TEST(Stream, LiteralsAndNewMatches) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("abcdefgh"));
  b.new_match(5, 8);
  m.copy(5, 8);
  b.new_match(3, 2);
  m.copy(3, 2);
  literals(b, m, vxtest::bytes_of("xyz"));
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false).output, m.out);
  EXPECT_EQ(m.out, vxtest::bytes_of("abcdefghabcdededxyz"));
}

TEST(Stream, NewMatchLengthBonusAtDistanceBoundaries) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  long_history(b, m);
  // Coded length 3 at each distance; the decoder adds 0, 1, 1, 2.
  const struct {
    uint32_t distance;
    uint32_t length;
  } cases[] = {{0x1FFF, 3}, {0x2000, 4}, {0x3FFFF, 4}, {0x40000, 5}};
  for (const auto& c : cases) {
    EXPECT_EQ(b.new_match_coded(3, c.distance), c.length);
    m.copy(c.length, c.distance);
    literals(b, m, {0xEE});
  }
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false).output, m.out);
}

TEST(Stream, ReusedDistanceLengthBonusAtDistanceBoundaries) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  long_history(b, m);
  // Coded length 2 with the latest distance (257); the decoder adds 0..3.
  const struct {
    uint32_t distance;
    uint32_t length;
  } cases[] = {{0x100, 2}, {0x101, 3}, {0x1FFF, 3}, {0x2000, 4}, {0x3FFFF, 4}, {0x40000, 5}};
  for (const auto& c : cases) {
    b.new_match(6, c.distance);
    m.copy(6, c.distance);
    EXPECT_EQ(b.rep_match_coded(1, 2), c.length);
    m.copy(c.length, c.distance);
    literals(b, m, {0xEE});
  }
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false).output, m.out);
}

TEST(Stream, ReusedDistancesPickFromTheRing) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  Bytes text;
  for (int i = 0; i < 64; ++i) text.push_back(static_cast<uint8_t>('A' + i * 7 % 26));
  literals(b, m, text);
  for (uint32_t dist : {10u, 20u, 30u, 40u}) {
    b.new_match(3, dist);
    m.copy(3, dist);
  }
  // 258: the one before the latest (30); then 260: four back, which is now 20.
  b.rep_match(2, 5);
  m.copy(5, 30);
  EXPECT_EQ(b.ring_distance(4), 20u);
  b.rep_match(4, 7);
  m.copy(7, 20);
  b.rep_match(3, 4);  // 259: 40
  m.copy(4, 40);
  b.rep_match(1, 9);  // 257: the latest, 40 again
  m.copy(9, 40);
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false).output, m.out);
}

TEST(Stream, ShortMatchesInEverySlot) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  Bytes text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
  literals(b, m, text);
  for (uint32_t dist : {1u, 4u, 5u, 8u, 9u, 16u, 17u, 32u, 33u, 64u, 65u, 128u, 129u, 192u, 193u, 256u}) {
    b.short_match(dist);
    m.copy(2, dist);
  }
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false).output, m.out);
}

TEST(Stream, RepeatOfTheLatestMatch) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("xy"));
  b.repeat_last();  // before any match: 0 bytes at distance 0, still enters the ring
  literals(b, m, vxtest::bytes_of("z"));
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), 3, false).output, vxtest::bytes_of("xyz"));
  EXPECT_EQ(d.state().recent_index, 1u);
  EXPECT_EQ(d.state().prev_match_length, 0u);
  EXPECT_EQ(d.state().recent_distances[0], 0u);

  // After a new match, a short match and a reused distance.
  StreamBuilder c;
  Model n;
  all_tables(c);
  literals(c, n, vxtest::bytes_of("0123456789"));
  c.new_match(7, 3);
  n.copy(7, 3);
  c.repeat_last();
  n.copy(7, 3);
  c.short_match(9);
  n.copy(2, 9);
  c.repeat_last();
  n.copy(2, 9);
  c.rep_match(2, 11);  // the ring holds 3, 3, 9, 9: 258 is 9
  n.copy(11, 9);
  c.repeat_last();
  n.copy(11, 9);
  EXPECT_EQ(d.run(c.bytes(), static_cast<uint32_t>(n.out.size()), false).output, n.out);
  EXPECT_EQ(d.state().recent_index, 6u);
}

TEST(Stream, ReusedEmptyRingSlotKeepsTheWindowBytes) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("abc"));
  b.rep_match(3, 4);  // slot still 0: distance 0, four bytes stay as they are (zero)
  m.copy(4, 0);
  literals(b, m, vxtest::bytes_of("d"));
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), 8, false).output, Bytes({'a', 'b', 'c', 0, 0, 0, 0, 'd'}));
}

TEST(Stream, OverlappingAndFarMatches) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("q"));
  b.new_match(10, 1);  // ten copies of the byte before
  m.copy(10, 1);
  literals(b, m, vxtest::bytes_of("abcdefghijk"));
  b.new_match(20, 3);
  m.copy(20, 3);
  b.new_match(30, 8);
  m.copy(30, 8);
  b.new_match(258, 9);
  m.copy(258, 9);
  b.new_match(5, 5000);  // reaches before the first byte: zeros of the fresh window
  m.copy(5, 5000);
  BothDecoders d;
  const EntryResult r = d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false);
  EXPECT_EQ(r.output, m.out);
  EXPECT_EQ(Bytes(r.output.begin() + 1, r.output.begin() + 11), Bytes(10, 'q'));
}

TEST(Stream, TableChangeInsideAnEntry) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("before"));
  b.new_match(4, 3);
  m.copy(4, 3);
  b.table_change();
  std::vector<uint8_t> main = flat(298, 0);
  main['a'] = 1;
  main['f'] = 2;
  main[257] = 3;
  main[269] = 3;
  std::vector<uint8_t> rep = flat(28, 0);
  rep[1] = 1;
  b.tables(main, flat(48, 0), rep);
  literals(b, m, vxtest::bytes_of("aafa"));
  b.rep_match(1, 3);  // the distance survives the table change
  m.copy(3, 3);
  b.table_change();
  all_tables(b);
  literals(b, m, vxtest::bytes_of("end"));
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false).output, m.out);
}

TEST(Stream, KeepBitAddsToPreviousLengthsModulo16) {
  StreamBuilder b;
  Model m;
  // Symbols 'A'..'O' get lengths 1..15 and 'Z' 15: a complete code.
  std::vector<uint8_t> main = flat(298, 0);
  for (int i = 0; i < 15; ++i) main['A' + i] = static_cast<uint8_t>(i + 1);
  main['Z'] = 15;
  main[269] = 0;
  // 269 needs a code: take 'O' away and give its length to 269.
  main['O'] = 0;
  main[269] = 15;
  b.tables(main, flat(48, 0), flat(28, 0));
  literals(b, m, vxtest::bytes_of("ABZ"));
  b.table_change();
  std::vector<uint8_t> next = flat(298, 0);
  next['A'] = 1;
  next['B'] = 2;
  next['Z'] = 2;  // sent as 3: (15 + 3) mod 16
  b.tables(next, flat(48, 0), flat(28, 0), true);
  literals(b, m, vxtest::bytes_of("ZABZZ"));
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false).output, m.out);
  EXPECT_EQ(d.state().prev_code_lengths['Z'], 2);
  EXPECT_EQ(d.state().prev_code_lengths['C'], 0);
}

TEST(Stream, CodeLengthRunsAtTheStartAndPastTheEnd) {
  StreamBuilder b;
  std::vector<uint8_t> cl = flat(19, 0);
  cl[1] = 2;
  cl[16] = 2;
  cl[18] = 2;
  // 16 at position 0 repeats the length 0; the last 18 would run to 375.
  const std::vector<vxtest::LengthStep> steps = {{16, 0}, {18, 83}, {1}, {1}, {18, 127}, {18, 127}};
  b.raw_tables(0, 2, cl, steps);
  Model m;
  literals(b, m, vxtest::bytes_of("abba"));
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), 4, false).output, vxtest::bytes_of("abba"));
  EXPECT_EQ(d.state().prev_code_lengths[0], 0);
  EXPECT_EQ(d.state().prev_code_lengths['a'], 1);
  EXPECT_EQ(d.state().prev_code_lengths['b'], 1);
  EXPECT_EQ(d.state().main_table.count, 298u);

  // A repeat run (16) that would pass the end stops there too.
  StreamBuilder c;
  cl[17] = 3;
  cl[16] = 3;
  // Zeros to 96, 'a' and 'b', zeros to 370, a length 1 at 371, then a run of
  // six repeats of which only 372 and 373 are inside the table.
  c.raw_tables(0, 2, cl, {{18, 86}, {1}, {1}, {18, 127}, {18, 123}, {1}, {16, 3}});
  EXPECT_EQ(c.prev[371], 1);
  EXPECT_EQ(c.prev[373], 1);
  EXPECT_EQ(c.prev[374], 0);
  c.literal('b');
  c.literal('a');
  EXPECT_EQ(d.run(c.bytes(), 2, false).output, vxtest::bytes_of("ba"));
  EXPECT_EQ(d.state().prev_code_lengths[373], 1);
  EXPECT_EQ(d.state().prev_code_lengths[374], 0);
}

TEST(Stream, OneSymbolTableAndLeftoverSymbolPositions) {
  StreamBuilder b;
  all_tables(b);  // symbols[k] = k after this build
  b.literal('x');
  b.table_change();
  std::vector<uint8_t> main = flat(298, 0);
  main['Q'] = 1;
  b.tables(main, flat(48, 0), flat(28, 0));
  b.bits.put(0, 1);  // 'Q'
  b.bits.put(0, 1);  // 'Q'
  // A first bit 1 takes 15 bits: index 1 + m, here 65: the leftover symbol 'A'.
  b.bits.put(0x4000 | 64, 15);
  // Index 1 + 500 lies past count: symbols[0], which is 'Q' now.
  b.bits.put(0x4000 | 500, 15);
  b.bits.put(0, 1);
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), 6, false).output, vxtest::bytes_of("xQQAQQ"));
}

TEST(Stream, AudioHeadersReadChannelTablesOnly) {
  for (int channels = 1; channels <= 4; ++channels) {
    SCOPED_TRACE(channels);
    StreamBuilder b;
    Model m;
    all_tables(b);
    literals(b, m, vxtest::bytes_of("AB"));
    b.table_change();
    std::vector<std::vector<uint8_t>> tables;
    for (int k = 0; k < channels; ++k) {
      std::vector<uint8_t> t = flat(257, 0);
      t[k] = 1;
      t[100 + k] = 2;
      t[256] = 2;
      tables.push_back(t);
    }
    b.audio_tables(tables);
    // The main loop goes on with the main table of the last plain read.
    b.main = vxtest::canonical_code(flat(298, 9));
    literals(b, m, vxtest::bytes_of("CD"));
    BothDecoders d;
    EXPECT_EQ(d.run(b.bytes(), 4, false).output, m.out);
    EXPECT_EQ(d.state().audio_mode, 1u);
    EXPECT_EQ(d.state().channel_count, static_cast<uint32_t>(channels));
    EXPECT_EQ(d.state().current_channel, 0u);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(d.state().channel_slots[k].count, k < channels ? 257u : 0u);
    EXPECT_EQ(d.state().main_table.count, 298u);
    // Lengths past T are zero, so a later read with the keep bit starts from 0.
    for (int i = 257 * channels; i < kAllLengths; ++i) ASSERT_EQ(d.state().prev_code_lengths[i], 0) << i;
  }
}

TEST(Stream, AudioBlockBeforeAnyPlainTableComesOutAsZeros) {
  StreamBuilder b;
  std::vector<uint8_t> t = flat(257, 0);
  t[0] = 1;
  t[1] = 1;
  b.audio_tables({t});
  for (int i = 0; i < 8; ++i) b.bits.put(0x5A5A, 15);  // anything: 15 bits per symbol 0
  BothDecoders d;
  EXPECT_EQ(d.run(b.bytes(), 8, false).output, Bytes(8, 0));
  EXPECT_EQ(d.state().main_table.count, 0u);
}

TEST(Stream, SolidFirstEntryOfAPassMeetsEmptyTables) {
  BothDecoders d;
  const Bytes packed = vxtest::random_bytes(64, 7);
  EXPECT_EQ(d.run(packed, 10, true).output, Bytes(10, 0));
  // Ten symbols of 15 bits, and one more for the end-of-entry check.
  EXPECT_EQ(d.state().in_pos, 165u / 8);
  EXPECT_EQ(d.state().in_bit, 165u % 8);
}

// Pads a byte_tables stream with literals so that the next symbol starts at
// byte position, and returns how many literals were written.
uint32_t literals_up_to(StreamBuilder& b, Model& m, uint32_t position) {
  uint32_t n = 0;
  while (b.bits.bit_count() / 8 < position) {
    const uint8_t c = static_cast<uint8_t>(n * 13 + 5);
    b.literal(c);
    m.literal(c);
    ++n;
  }
  return n;
}

TEST(Stream, MainLoopRefillsAfterByte8162) {
  for (uint32_t last_start : {8162u, 8163u}) {
    SCOPED_TRACE(last_start);
    StreamBuilder b;
    Model m;
    byte_tables(b);
    literals_up_to(b, m, last_start);
    ASSERT_EQ(b.bits.bit_count() / 8, last_start);
    const uint8_t last = 0xA7;
    b.literal(last);
    m.literal(last);
    // More stream behind, so that a refill has bytes to read.
    Bytes packed = b.bytes();
    const Bytes tail = vxtest::random_bytes(2000, 3);
    packed.insert(packed.end(), tail.begin(), tail.end());
    BothDecoders d;
    EXPECT_EQ(d.run(packed, static_cast<uint32_t>(m.out.size()), false).output, m.out);
    // The end-of-entry check takes one more 8-bit symbol behind the last.
    if (last_start == 8162) {
      EXPECT_EQ(d.state().in_pos, 8164u);  // no refill
    } else {
      EXPECT_EQ(d.state().in_pos, 5u);  // refilled before the last symbol: 8163 became 3
      EXPECT_EQ(d.state().in_buf[3], packed[8163]);
      EXPECT_EQ(d.state().in_buf[32], packed[8192]);
      EXPECT_EQ(d.state().in_valid, 32u + (packed.size() - 8192));
    }
  }
}

TEST(Stream, ExhaustedInputDecodesStaleBytesAndSkipsTheTrailingRead) {
  BothDecoders d;
  // A first entry fills the input buffer with known bytes.
  StreamBuilder first;
  Model m1;
  byte_tables(first);
  literals_up_to(first, m1, 8100);
  Bytes packed1 = first.bytes();
  const Bytes filler = vxtest::random_bytes(8192 - packed1.size(), 11);
  packed1.insert(packed1.end(), filler.begin(), filler.end());
  d.run(packed1, static_cast<uint32_t>(m1.out.size()), false);
  uint8_t before[kInputBufferSize];
  std::memcpy(before, d.state().in_buf, kInputBufferSize);
  const DecodeTable main_before = d.state().main_table;

  // The solid entry's data ends at byte 8165; its symbols go on past it.
  StreamBuilder second;
  second.main = vxtest::canonical_code([] {
    std::vector<uint8_t> m = flat(298, 0);
    for (int i = 0; i < 256; ++i) m[i] = 8;
    return m;
  }());
  Model m2;
  literals_up_to(second, m2, 8165);
  const Bytes packed2 = second.bytes();
  ASSERT_EQ(packed2.size(), 8165u);
  // 8165 literals from the data, then the refill at 8163 delivers nothing:
  // bytes 8160..8191 move to 0..31, so the next literals are the stale bytes
  // 8165..8191 of the buffer, then whatever stayed at 32 and on.
  const uint32_t extra = 40;
  Bytes expect = m2.out;
  Bytes buffer(before, before + kInputBufferSize);
  std::copy(packed2.begin(), packed2.end(), buffer.begin());
  for (uint32_t i = 0; i < extra; ++i) {
    const uint32_t at = 8165 + i;
    expect.push_back(at < 8192 ? buffer[at] : buffer[at - 8160]);
  }
  const EntryResult r = d.run(packed2, static_cast<uint32_t>(expect.size()), true);
  EXPECT_EQ(r.output, expect);
  EXPECT_EQ(r.packed_left, 0u);
  EXPECT_LT(d.state().in_valid, d.state().in_pos + 5);
  EXPECT_EQ(std::memcmp(&d.state().main_table, &main_before, sizeof main_before), 0);
}

TEST(Stream, MatchAcrossTheWindowEndIsFlushedInTwoPieces) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("0123456789abcdefghij"));
  while (m.out.size() + 258 < kWindowSize - 5) {
    b.new_match(258, 20);
    m.copy(258, 20);
  }
  while (m.out.size() < kWindowSize - 5) {
    b.literal('-');
    m.literal('-');
  }
  b.new_match(20, 1000);  // positions 0xFFFFB..0xFFFFF, then 0..14
  m.copy(20, 1000);
  literals(b, m, vxtest::bytes_of("tail"));
  BothDecoders d;
  const EntryResult r = d.run(b.bytes(), static_cast<uint32_t>(m.out.size()), false);
  EXPECT_EQ(r.output, m.out);
  // One piece when less than 270 bytes of room were left, then the end of
  // the entry in two: up to 2^20, and from 0.
  EXPECT_EQ(r.pieces, 3);
  EXPECT_EQ(d.state().window_pos, 19u);
  EXPECT_EQ(d.state().flushed_pos, 19u);
}

TEST(Stream, FinalLiteralAtTheWindowEndThenASolidEntry) {
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("window"));
  while (m.out.size() + 300 < kWindowSize) {
    b.new_match(250, 6);
    m.copy(250, 6);
  }
  while (m.out.size() < kWindowSize) {
    const uint8_t c = static_cast<uint8_t>(m.out.size());
    b.literal(c);
    m.literal(c);
  }
  BothDecoders d;
  const EntryResult first = d.run(b.bytes(), kWindowSize, false);
  EXPECT_EQ(first.output, m.out);
  EXPECT_EQ(first.pieces, 2);  // near the end of the window, then the rest up to 2^20
  EXPECT_EQ(d.state().window_pos, kWindowSize);  // not masked until the next step

  StreamBuilder c = b;
  c.bits = vxtest::BitWriter();
  Model n = m;
  c.new_match(10, 7);  // reaches into the end of the previous entry
  n.copy(10, 7);
  literals(c, n, vxtest::bytes_of("next"));
  const EntryResult r = d.run(c.bytes(), 14, true);
  EXPECT_EQ(r.output, Bytes(n.out.end() - 14, n.out.end()));
  // The first step masks the position to 0 and flushes from 2^20: two empty
  // pieces; the entry's 14 bytes come at its end.
  EXPECT_EQ(r.pieces, 3);
  EXPECT_EQ(d.state().window_pos, 14u);
}

TEST(Stream, TrailingTableReadCarriesIntoTheNextSolidEntry) {
  BothDecoders d;
  StreamBuilder b;
  Model m;
  all_tables(b);
  literals(b, m, vxtest::bytes_of("one"));
  // Behind the last symbol: a table change that the end-of-entry check reads.
  b.table_change();
  std::vector<uint8_t> main = flat(298, 0);
  main['t'] = 1;
  main['w'] = 2;
  main['o'] = 2;
  b.tables(main, flat(48, 0), flat(28, 0));
  EXPECT_EQ(d.run(b.bytes(), 3, false).output, vxtest::bytes_of("one"));
  EXPECT_EQ(d.state().prev_code_lengths['t'], 1);

  StreamBuilder c = b;
  c.bits = vxtest::BitWriter();
  for (char ch : std::string("twotwo")) c.literal(static_cast<uint8_t>(ch));
  EXPECT_EQ(d.run(c.bytes(), 6, true).output, vxtest::bytes_of("twotwo"));
}

TEST(Stream, TrailingReadAfterAnAudioHeaderUsesSymbol256OfTheChannelTable) {
  BothDecoders d;
  StreamBuilder b;
  all_tables(b);
  b.literal('a');
  b.table_change();
  std::vector<uint8_t> t = flat(257, 0);
  t[0] = 1;
  t[256] = 1;
  b.audio_tables({t, t});
  b.main = vxtest::canonical_code(flat(298, 9));
  b.literal('b');
  // The end-of-entry check decodes with channel table 0: 256 reads tables.
  b.bits.put(b.channel[0].codes[256], b.channel[0].lengths[256]);
  std::vector<uint8_t> main = flat(298, 0);
  main['c'] = 1;
  main[269] = 1;
  b.tables(main, flat(48, 0), flat(28, 0), true);
  EXPECT_EQ(d.run(b.bytes(), 2, false).output, vxtest::bytes_of("ab"));
  EXPECT_EQ(d.state().audio_mode, 0u);

  StreamBuilder c = b;
  c.bits = vxtest::BitWriter();
  c.literal('c');
  c.literal('c');
  EXPECT_EQ(d.run(c.bytes(), 2, true).output, vxtest::bytes_of("cc"));
}

TEST(Stream, EmptyEntryReadsItsTablesAndTheTrailingCheck) {
  BothDecoders d;
  StreamBuilder b;
  byte_tables(b, false);
  EXPECT_TRUE(d.run(b.bytes(), 0, false).output.empty());
  EXPECT_EQ(d.state().main_table.count, 298u);

  // With a table change behind the tables, the check reads it for the next entry.
  StreamBuilder c;
  std::vector<uint8_t> main = flat(298, 0);
  main[269] = 1;
  main['e'] = 1;
  c.tables(main, flat(48, 0), flat(28, 0));
  c.table_change();
  all_tables(c);
  EXPECT_TRUE(d.run(c.bytes(), 0, false).output.empty());
  StreamBuilder e = c;
  e.bits = vxtest::BitWriter();
  e.literal('z');
  EXPECT_EQ(d.run(e.bytes(), 1, true).output, vxtest::bytes_of("z"));
}

TEST(Stream, RepeatsWithoutOutputEndOnceTheInputRunsOut) {
  // Only symbol 256 has a code, and no match has happened: every step copies
  // nothing. Once the packed data is gone the entry ends instead of looping.
  StreamBuilder b;
  std::vector<uint8_t> main = flat(298, 0);
  main[256] = 1;
  b.tables(main, flat(48, 0), flat(28, 0));
  BothDecoders d;
  const EntryResult r = d.run(b.bytes(), 100, false);
  EXPECT_TRUE(r.output.empty());
  EXPECT_EQ(r.unpacked_left, -1);

  // Table changes that produce nothing end the same way.
  StreamBuilder c;
  std::vector<uint8_t> loop = flat(298, 0);
  loop[269] = 1;
  c.tables(loop, flat(48, 0), flat(28, 0));
  const EntryResult s = d.run(c.bytes(), 5, false);
  EXPECT_EQ(s.unpacked_left, -1);
}

}  // namespace
