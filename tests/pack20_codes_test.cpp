// What round trips rarely reach: code lengths past 15 bits (they must be cut
// to 15 and stay complete, or the decoder rejects the table), and the edges
// of the format's slot tables. Canonical codes and the bit writer are checked
// by every round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "packer/pack20_codes.h"

using namespace pack20;

namespace {

TEST(CodeLengths, CutToFifteenBitsAndComplete) {
  // Fibonacci weights make an unlimited Huffman tree 39 levels deep.
  uint32_t freq[40];
  for (uint32_t s = 0, a = 1, b = 1; s < 40; ++s, b = a + b, a = b - a) freq[s] = a;
  const struct {
    std::vector<uint32_t> freq;
    int longest;  // 0: no symbol used
  } cases[] = {{std::vector<uint32_t>(freq, freq + 40), kMaxCodeLength}, {{0, 0, 7, 0, 0}, 1}, {{0, 0, 0}, 0}};
  for (const auto& c : cases) {
    uint8_t lengths[40];
    build_code_lengths(c.freq.data(), static_cast<int>(c.freq.size()), kMaxCodeLength, lengths);
    double kraft = 0;
    int longest = 0;
    for (std::size_t s = 0; s < c.freq.size(); ++s) {
      EXPECT_EQ(lengths[s] == 0, c.freq[s] == 0) << s;
      if (lengths[s]) kraft += 1.0 / (1u << lengths[s]);
      longest = std::max<int>(longest, lengths[s]);
      // A more frequent symbol never gets a longer code.
      const bool more_frequent = s > 0 && c.freq[s - 1] && c.freq[s] > c.freq[s - 1];
      EXPECT_TRUE(!more_frequent || lengths[s] <= lengths[s - 1]) << s;
    }
    EXPECT_EQ(longest, c.longest);
    EXPECT_TRUE(longest < 2 || kraft == 1.0) << kraft;
  }
}

TEST(Slots, CoverTheFormatsRangesWithoutGaps) {
  // Each value maps to a slot whose extra bits hold the rest, slots never go
  // down as the value rises, and the last value takes the last slot.
  const struct {
    uint32_t count;
    Slot (*slot)(uint32_t);
    int slots;
  } tables[] = {{256, length_slot, 28}, {1u << 20, distance_slot, 48}, {256, short_slot, 8}};
  for (const auto& t : tables) {
    Slot last{};
    for (uint32_t v = 0; v < t.count; ++v) {
      const Slot s = t.slot(v);
      ASSERT_GE(s.slot, last.slot) << v;
      ASSERT_LT(s.extra, 1u << s.bits) << v;
      // Within a slot, values and extra bits rise together.
      ASSERT_EQ(s.extra, v > 0 && s.slot == last.slot ? last.extra + 1 : 0u) << v;
      last = s;
    }
    EXPECT_EQ(last.slot, t.slots - 1);
    EXPECT_EQ(last.extra, (1u << last.bits) - 1);
  }
}

}  // namespace
