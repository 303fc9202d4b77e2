// The compressor's entropy side: the most-significant-bit-first bit writer,
// length-limited Huffman code lengths, canonical codes as the decoder builds
// them, the slot tables of the format, and the table record that a table
// change (symbol 269) sends.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/format.h"

namespace pack20 {

inline constexpr uint32_t kMaxDistance = kWindowSize - 1;

struct Slot {
  uint8_t slot;   // symbol within its table
  uint8_t bits;   // extra bits that follow it
  uint32_t extra; // their value
};

// Coded length value 0..255 (length slots 0..27).
Slot length_slot(uint32_t value);
// Distance minus one, 0..2^20-1 (distance slots 0..47).
Slot distance_slot(uint32_t value);
// Distance minus one, 0..255 (short-distance slots 0..7).
Slot short_slot(uint32_t value);

// Appends bits most significant first, as the decoder's bit reader takes them.
struct BitWriter {
  std::vector<uint8_t>* out;  // the packed stream
  uint64_t pending = 0;       // bits not yet a whole byte, right-aligned
  int pending_count = 0;      // how many, 0..7 between calls

  void put(uint32_t value, int count) {
    pending = (pending << count) | (value & ((1u << count) - 1));
    pending_count += count;
    while (pending_count >= 8) {
      pending_count -= 8;
      out->push_back(static_cast<uint8_t>(pending >> pending_count));
    }
  }
  // Pads the last byte with zero bits. Nothing follows it.
  void finish() {
    if (pending_count > 0) put(0, 8 - pending_count);
    pending = 0;
  }
};

// Huffman code lengths for count symbols, none longer than max_length. A
// single used symbol gets length 1; unused symbols get 0. Every code with two
// or more symbols is complete, which the decoder's limits need.
void build_code_lengths(const uint32_t* freq, int count, int max_length, uint8_t* lengths);
// The canonical codes of those lengths: by length, then symbol number.
void build_codes(const uint8_t* lengths, int count, uint16_t* codes);

// The three tables of one block, as one array of 374 lengths: main 0..297,
// distance 298..345, recent-distance lengths 346..373.
struct BlockCode {
  uint8_t lengths[kTableLengths];
  uint16_t codes[kTableLengths];
};
void finish_block_code(BlockCode* code);

// Bits that sending lengths costs after previous (what the decoder holds),
// in the cheaper of the two forms (absolute, or changes to previous).
uint32_t table_cost(const uint8_t* lengths, const uint8_t* previous);
// Writes the table header and lengths in the cheaper form.
void write_table(BitWriter* writer, const uint8_t* lengths, const uint8_t* previous);

}  // namespace pack20
