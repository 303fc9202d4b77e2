// Test tooling that writes RAR 2.0 compressed streams bit by bit: a bit
// writer, canonical codes from code lengths, and StreamBuilder, which emits
// table headers, code lengths (with the runs 16/17/18 and the keep-previous
// bit) and every kind of symbol with its extra bits, mirroring the decoder's
// previous lengths and match history so that a test names only lengths and
// distances.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vxtest {

using Bytes = std::vector<uint8_t>;

class BitWriter {
 public:
  // Appends the low n bits of value (n <= 32), most significant first.
  void put(uint32_t value, int n);
  // Pads with zero bits to the next byte boundary.
  void align();
  std::size_t bit_count() const { return bits_; }
  // The stream so far, the last byte padded with zero bits.
  Bytes bytes() const;

 private:
  Bytes out_;
  std::size_t bits_ = 0;
};

// The canonical code the decoder builds from lengths: codes sorted by length,
// then by symbol number.
struct HuffmanCode {
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> codes;
};
HuffmanCode canonical_code(const std::vector<uint8_t>& lengths);
// Code lengths of at most max_length bits for the given frequencies; symbols
// of frequency 0 get length 0, a single used symbol gets length 1.
std::vector<uint8_t> limited_code_lengths(const std::vector<uint32_t>& freq, int max_length);

// Bonus added to a new match's coded length at this distance (0, 1 or 2).
uint32_t new_match_bonus(uint32_t distance);
// Bonus added to a reused distance's coded length (0..3).
uint32_t rep_match_bonus(uint32_t distance);

// One code-length step as sent: a symbol 0..18 and its extra bits.
struct LengthStep {
  int symbol;
  uint32_t extra = 0;
};

class StreamBuilder {
 public:
  BitWriter bits;
  std::array<uint8_t, 1028> prev{};           // the decoder's prev_code_lengths
  HuffmanCode main, distance, rep, channel[4];
  std::array<uint32_t, 4> ring{};              // recent distances
  uint32_t ring_index = 0;
  uint32_t last_length = 0;
  uint32_t last_distance = 0;

  // A table read: main (298), distance (48) and rep (28) lengths. With keep,
  // the header's second bit is set and the values are sent as changes to
  // prev. Runs of zeros and repeats are sent as 17/18 and 16.
  void tables(const std::vector<uint8_t>& main_lengths, const std::vector<uint8_t>& distance_lengths,
              const std::vector<uint8_t>& rep_lengths, bool keep = false);
  // An audio table read of 1..4 channels of 257 lengths each.
  void audio_tables(const std::vector<std::vector<uint8_t>>& channel_lengths, bool keep = false);
  // A table read with every part given: the 2 or 4 header bits (as sent), the
  // 19 code lengths of the code-length code, and the steps. Mirrors what the
  // decoder computes from them, so later symbols use the resulting codes.
  void raw_tables(uint32_t header_bits, int header_width, const std::vector<uint8_t>& code_length_lengths,
                  const std::vector<LengthStep>& steps);

  void symbol(int s);                          // a main-table symbol, no extra bits
  void literal(uint8_t byte) { symbol(byte); }
  void table_change() { symbol(269); }
  // A new match (270..297): the length includes the distance bonus.
  void new_match(uint32_t length, uint32_t distance);
  // A reused distance: which = 1 for the latest (257) .. 4 (260).
  void rep_match(int which, uint32_t length);
  // A short match (261..268) at distance 1..256.
  void short_match(uint32_t distance);
  // Symbol 256: the latest match again.
  void repeat_last();
  // A new match sent as its coded length (before the distance bonus); the
  // decoder adds the bonus. Returns the length the decoder will copy.
  uint32_t new_match_coded(uint32_t coded_length, uint32_t distance);
  // A reused distance sent as its coded length; returns the copied length.
  uint32_t rep_match_coded(int which, uint32_t coded_length);
  // The distance that rep_match(which) would use.
  uint32_t ring_distance(int which) const { return ring[(ring_index - which) & 3]; }

  Bytes bytes() const { return bits.bytes(); }

 private:
  void push_match(uint32_t length, uint32_t distance);
  void send_lengths(const std::vector<uint8_t>& lengths, uint32_t header, int header_width);
};

}  // namespace vxtest
