// The RAR 2.0 compressed-data format, as the decoder reads it and the
// compressor writes it: the window, the alphabets and their symbol numbers,
// the table header bits, and the slot tables that turn a symbol and its extra
// bits into a length or a distance.
#pragma once

#include <cstdint>

inline constexpr uint32_t kWindowSize = 1u << 20;  // the 1 MB sliding window
inline constexpr uint32_t kWindowMask = kWindowSize - 1;

// Alphabets: the code-length code, the three tables of a plain block, and the
// per-channel tables of an audio block.
inline constexpr int kCodeLengthSymbols = 19;
inline constexpr int kMainSymbols = 298;      // literals, 256..269 control, 270..297 lengths
inline constexpr int kDistanceSymbols = 48;
inline constexpr int kRepLengthSymbols = 28;
inline constexpr int kChannelSymbols = 257;
inline constexpr int kMaxChannels = 4;
inline constexpr int kMaxCodeLength = 15;
// A plain block's lengths are sent as one array: main, distance, recent-distance lengths.
inline constexpr int kDistanceBase = kMainSymbols;                       // 298
inline constexpr int kRepLengthBase = kMainSymbols + kDistanceSymbols;   // 346
inline constexpr int kTableLengths = kRepLengthBase + kRepLengthSymbols; // 374
inline constexpr int kAllLengths = kMaxChannels * kChannelSymbols;       // 1028

// The main alphabet above the 256 literals.
inline constexpr uint32_t kRepeatSymbol = 256;       // the latest match again
inline constexpr uint32_t kRepSymbol = 257;          // 257..260: the four recent distances
inline constexpr uint32_t kShortSymbol = 261;        // 261..268: length 2, distance up to 256
inline constexpr uint32_t kTableChangeSymbol = 269;  // new code tables follow
inline constexpr uint32_t kMatchSymbol = 270;        // 270..297: new match length slots
inline constexpr uint32_t kRecentDistances = 4;
inline constexpr uint32_t kShortSlotCount = 8;

// The code-length alphabet: 0..15 a length (added modulo 16 to the previous
// one in the change form), and three runs.
inline constexpr uint32_t kRepeatLengthSymbol = 16;  // the length before, 3 + 2 bits times
inline constexpr uint32_t kShortZerosSymbol = 17;    // 3 + 3 bits zero lengths
inline constexpr uint32_t kLongZerosSymbol = 18;     // 11 + 7 bits zero lengths

// The first two bits of a table header.
inline constexpr uint32_t kHeaderAudio = 2;    // channel tables follow (2 more bits: channels - 1)
inline constexpr uint32_t kHeaderChanges = 1;  // lengths are changes to the previous ones

// What a symbol and its extra bits stand for: the slot's base plus the extra
// bits read as an unsigned number, plus the offset of its kind.
inline constexpr uint32_t kMatchLengthOffset = 3;  // new match: length slot base + 3
inline constexpr uint32_t kRepLengthOffset = 2;    // recent distance: length slot base + 2
inline constexpr uint32_t kShortLength = 2;        // a short match is always 2 bytes
inline constexpr uint32_t kDistanceOffset = 1;     // distance slot base + 1

struct CodeSlot {
  uint32_t base;  // smallest value of the slot
  uint32_t bits;  // extra bits that follow the symbol
};

// Length slots, used by new matches and recent distances alike.
inline constexpr CodeSlot kLengthSlots[kRepLengthSymbols] = {
    {0, 0},   {1, 0},   {2, 0},   {3, 0},   {4, 0},   {5, 0},   {6, 0},   {7, 0},   {8, 1},   {10, 1},
    {12, 1},  {14, 1},  {16, 2},  {20, 2},  {24, 2},  {28, 2},  {32, 3},  {40, 3},  {48, 3},  {56, 3},
    {64, 4},  {80, 4},  {96, 4},  {112, 4}, {128, 5}, {160, 5}, {192, 5}, {224, 5}};

inline constexpr CodeSlot kShortSlots[kShortSlotCount] = {{0, 2},  {4, 2},  {8, 3},   {16, 4},
                                                           {32, 5}, {64, 6}, {128, 6}, {192, 6}};

// Distance slots: four without extra bits, two per extra-bit count from 1 to
// 15, then fourteen of 16 bits.
struct DistanceSlotTable {
  CodeSlot slot[kDistanceSymbols];
  constexpr DistanceSlotTable() : slot() {
    uint32_t base = 0;
    for (int i = 0; i < kDistanceSymbols; ++i) {
      const uint32_t bits = i < 4 ? 0 : i < 36 ? static_cast<uint32_t>(i / 2 - 1) : 16;
      slot[i] = CodeSlot{base, bits};
      base += 1u << bits;
    }
  }
};
inline constexpr DistanceSlotTable kDistanceSlots;

// Each base is the previous base plus two to the previous slot's extra bits.
constexpr bool slots_follow_rule(const CodeSlot* s, int n) {
  for (int i = 1; i < n; ++i)
    if (s[i].base != s[i - 1].base + (1u << s[i - 1].bits)) return false;
  return true;
}
static_assert(slots_follow_rule(kLengthSlots, kRepLengthSymbols), "length slots");
static_assert(slots_follow_rule(kShortSlots, kShortSlotCount), "short-distance slots");
static_assert(kDistanceSlots.slot[36].base == 0x40000 && kDistanceSlots.slot[47].base == 983040,
              "distance slots 36..47 step by 0x10000");
static_assert(kDistanceSlots.slot[47].base + kDistanceOffset + 0xFFFF == kWindowSize,
              "the largest distance is the window");

// Far distances make a match longer than its coded length: a new match by
// one from 0x2000 and two from 0x40000, a recent distance by one more from 0x101.
inline constexpr uint32_t match_length_bonus(uint32_t distance) {
  return (distance >= 0x2000) + (distance >= 0x40000);
}
inline constexpr uint32_t rep_length_bonus(uint32_t distance) {
  return (distance >= 0x101) + match_length_bonus(distance);
}
