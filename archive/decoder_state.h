// The RAR 2.0 decoder's state: canonical Huffman tables with their lookup
// tables, and everything that a solid entry carries over from the entry
// before it. It lives inside the pass's ArchiveReader, so the decoder itself
// never allocates.
#pragma once

#include <cstdint>

#include "archive/format.h"

inline constexpr uint32_t kInputBufferSize = 8192;
// Bytes behind in_buf that are never written: the decoder loads eight bytes
// at a time up to eight bytes ahead of the position it reads from, and a load
// at the last positions may touch them. Only bits that lie inside in_buf are
// ever used.
inline constexpr uint32_t kInputPadding = 16;

// The lookup table built beside the limits: indexed by the next fast_bits
// (count) bits of the stream, each entry holds what the code found there
// stands for:
//   bits 0..4    its code length; 0: the code is longer than that (or
//                the table was never built), the limits decide
//   bits 5..9    extra bits that follow the symbol
//   bits 10..31  the value: a distance (base + 1) in the distance table, a
//                length (base + 2) in the recent-distance length table, the
//                symbol itself in the others; main-table matches (270..297)
//                carry their length slot's extra bits
inline constexpr int kFastBits = 11;
inline constexpr uint32_t kFastSize = 1u << kFastBits;
// The small alphabets use shorter lookups: they are rebuilt with every table
// change, and most of their codes are short.
inline constexpr int fast_bits(uint32_t count) {
  return count == kDistanceSymbols ? 9 : count == kRepLengthSymbols ? 8 : count == kCodeLengthSymbols ? 7 : kFastBits;
}
inline constexpr uint32_t kEntryLengthMask = 31;
inline constexpr uint32_t kEntryExtraShift = 5;
inline constexpr uint32_t kEntryValueShift = 10;
static_assert(fast_bits(kCodeLengthSymbols) >= 1 && kFastBits <= 14, "codes of up to 14 bits are found through the limits");
static_assert(kWindowSize < (1u << (32 - kEntryValueShift)), "an entry holds any distance");

// One canonical Huffman code, described by its left-aligned limits.
struct DecodeTable {
  uint32_t count;                     // alphabet size; 0 in a table never built
  uint32_t limit[16];                 // left-aligned 16-bit bound per code length
  uint32_t start[16];                 // index in symbols of the first code of a length
  uint16_t symbols[kMainSymbols];     // symbols sorted by code length, then number
  uint32_t fast[kFastSize];           // the entry of each fast_bits(count)-bit prefix
};

struct DecoderState {
  uint32_t window_pos;                // next write position in the window
  uint32_t flushed_pos;               // position up to which bytes went to the sink
  uint8_t in_buf[kInputBufferSize + kInputPadding];  // packed input (+ never-written padding)
  uint32_t in_pos;                    // byte holding the next unread bit
  uint32_t in_bit;                    // bits of in_buf[in_pos] consumed, 0..7
  uint32_t in_valid;                  // meaningful bytes in in_buf
  uint32_t prev_match_length;         // length of the latest match
  uint32_t prev_match_distance;       // distance of the latest match
  uint32_t recent_distances[kRecentDistances];       // ring of the four latest distances
  uint32_t recent_index;              // matches since the last reset
  uint8_t prev_code_lengths[kAllLengths];  // base of the next table read
  uint32_t audio_mode;                // latest table header had the audio bit
  uint32_t channel_count;             // channels of the latest audio header, 1..4
  uint32_t current_channel;           // channel used by the end-of-entry check
  uint32_t input_exhausted;           // a refill of this entry delivered no byte
  DecodeTable code_length_table;      // 19 symbols
  DecodeTable main_table;             // 298 symbols
  DecodeTable distance_table;         // 48 symbols
  DecodeTable rep_length_table;       // 28 symbols
  DecodeTable channel_slots[kMaxChannels];   // the per-channel tables of 257 symbols
  DecodeTable* channel_tables[kMaxChannels]; // pointed at channel_slots by extract_archive
};

// Once the packed data has run out, the decoder works over a buffer that no
// longer changes (its bit stream repeats every 8160 bytes): symbol 256 before
// any match and table changes (269) produce nothing, and a stream that keeps
// producing a byte now and then would run for as long as the entry claims.
// A stream that ends properly has at most the buffer's last 32 bytes left
// when the input runs out, and every step takes at least one bit of them, so
// the entry ends after this many steps past the input: it is damaged.
inline constexpr uint32_t kMaxStepsPastInput = 1u << 16;
