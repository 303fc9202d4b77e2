// The compressor's code building: lengths stay within 15 bits and form
// complete codes (the decoder's limits need that), slots cover exactly the
// ranges of the format's tables, and the bit writer emits bits most
// significant first with zero padding only in the last byte.
#include <gtest/gtest.h>

#include "packer/pack20_codes.h"

using namespace pack20;

namespace {

double kraft_sum(const uint8_t* lengths, int count) {
  double sum = 0;
  for (int s = 0; s < count; ++s) {
    if (lengths[s]) sum += 1.0 / (1u << lengths[s]);
  }
  return sum;
}

TEST(CodeLengths, LimitedToFifteenBitsAndComplete) {
  // Fibonacci weights make an unlimited Huffman tree 39 levels deep.
  uint32_t freq[40];
  uint32_t a = 1, b = 1;
  for (int s = 0; s < 40; ++s) {
    freq[s] = a;
    const uint32_t next = a + b;
    a = b;
    b = next > 0x7FFFFFFF ? 0x7FFFFFFF : next;
  }
  uint8_t lengths[40];
  build_code_lengths(freq, 40, kMaxCodeLength, lengths);
  for (int s = 0; s < 40; ++s) {
    EXPECT_GE(lengths[s], 1);
    EXPECT_LE(lengths[s], kMaxCodeLength);
  }
  EXPECT_DOUBLE_EQ(kraft_sum(lengths, 40), 1.0);
  // The rarest symbols never get shorter codes than the most frequent.
  EXPECT_GE(lengths[0], lengths[39]);

  uint32_t one[5] = {0, 0, 7, 0, 0};
  build_code_lengths(one, 5, kMaxCodeLength, lengths);
  EXPECT_EQ(lengths[2], 1);
  EXPECT_EQ(lengths[0] + lengths[1] + lengths[3] + lengths[4], 0);
  uint32_t none[3] = {};
  build_code_lengths(none, 3, kMaxCodeLength, lengths);
  EXPECT_EQ(lengths[0] + lengths[1] + lengths[2], 0);
}

TEST(CodeLengths, CanonicalCodesAsTheDecoderBuildsThem) {
  // Lengths 2, 1, 3, 3 give the bit strings 10, 0, 110, 111.
  const uint8_t lengths[4] = {2, 1, 3, 3};
  uint16_t codes[4];
  build_codes(lengths, 4, codes);
  EXPECT_EQ(codes[0], 0b10);
  EXPECT_EQ(codes[1], 0b0);
  EXPECT_EQ(codes[2], 0b110);
  EXPECT_EQ(codes[3], 0b111);
}

TEST(Slots, CoverTheFormatsRangesWithoutGaps) {
  // Each value maps to a slot whose base plus extra bits give it back, and
  // the slot numbers never go down as the value rises.
  struct Table {
    uint32_t count;
    Slot (*slot)(uint32_t);
    int slots;
  } tables[] = {{256, length_slot, 28}, {1u << 20, distance_slot, 48}, {256, short_slot, 8}};
  for (const Table& t : tables) {
    int last = 0;
    for (uint32_t v = 0; v < t.count; ++v) {
      const Slot s = t.slot(v);
      ASSERT_LT(s.slot, t.slots) << v;
      ASSERT_GE(s.slot, last) << v;
      ASSERT_LT(s.extra, 1u << s.bits) << v;
      last = s.slot;
    }
    EXPECT_EQ(last, t.slots - 1);
  }
  EXPECT_EQ(distance_slot(0x40000 - 1).slot, 35);
  EXPECT_EQ(distance_slot(0x40000).slot, 36);
  EXPECT_EQ(distance_slot(0xFFFFF).slot, 47);
  EXPECT_EQ(distance_slot(0xFFFFF).extra, 0xFFFFu);
  EXPECT_EQ(length_slot(255).slot, 27);
  EXPECT_EQ(length_slot(255).extra, 31u);
  EXPECT_EQ(short_slot(255).slot, 7);
}

TEST(BitWriter, MostSignificantFirstPaddedWithZeros) {
  std::vector<uint8_t> out;
  BitWriter w{&out};
  w.put(0b101, 3);
  w.put(0xABCD, 16);
  w.put(1, 1);
  w.finish();
  // 101 1010101111001101 1 then four zero bits.
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], 0b10110101);
  EXPECT_EQ(out[1], 0b01111001);
  EXPECT_EQ(out[2], 0b10110000);
}

}  // namespace
