// The RAR 2.0 decoder's state: canonical Huffman tables and everything that a
// solid entry carries over from the entry before it. It lives inside the
// pass's ArchiveReader, so the decoder itself never allocates.
#pragma once

#include <cstdint>

inline constexpr uint32_t kWindowSize = 1u << 20;  // the 1 MB sliding window
inline constexpr uint32_t kWindowMask = kWindowSize - 1;
inline constexpr uint32_t kInputBufferSize = 8192;

inline constexpr int kCodeLengthSymbols = 19;
inline constexpr int kMainSymbols = 298;      // literals, 256..269 control, 270..297 lengths
inline constexpr int kDistanceSymbols = 48;
inline constexpr int kRepLengthSymbols = 28;
inline constexpr int kChannelSymbols = 257;
inline constexpr int kMaxChannels = 4;
inline constexpr int kTableLengths = kMainSymbols + kDistanceSymbols + kRepLengthSymbols;  // 374
inline constexpr int kAllLengths = kMaxChannels * kChannelSymbols;                          // 1028
inline constexpr int kMaxCodeLength = 15;

// One canonical Huffman code, described by its left-aligned limits.
struct DecodeTable {
  uint32_t count;                     // alphabet size; 0 in a table never built
  uint32_t limit[16];                 // left-aligned 16-bit bound per code length
  uint32_t start[16];                 // index in symbols of the first code of a length
  uint16_t symbols[kMainSymbols];     // symbols sorted by code length, then number
};

struct DecoderState {
  uint32_t window_pos;                // next write position in the window
  uint32_t flushed_pos;               // position up to which bytes went to the sink
  uint8_t in_buf[kInputBufferSize];   // packed input
  uint32_t in_pos;                    // byte holding the next unread bit
  uint32_t in_bit;                    // bits of in_buf[in_pos] consumed, 0..7
  uint32_t in_valid;                  // meaningful bytes in in_buf
  uint32_t prev_match_length;         // length of the latest match
  uint32_t prev_match_distance;       // distance of the latest match
  uint32_t recent_distances[4];       // ring of the four latest distances
  uint32_t recent_index;              // matches since the last reset
  uint8_t prev_code_lengths[kAllLengths];  // base of the next table read
  uint32_t audio_mode;                // latest table header had the audio bit
  uint32_t channel_count;             // channels of the latest audio header, 1..4
  uint32_t current_channel;           // channel used by the end-of-entry check
  DecodeTable code_length_table;      // 19 symbols
  DecodeTable main_table;             // 298 symbols
  DecodeTable distance_table;         // 48 symbols
  DecodeTable rep_length_table;       // 28 symbols
  DecodeTable channel_slots[kMaxChannels];   // the per-channel tables of 257 symbols
  DecodeTable* channel_tables[kMaxChannels]; // pointed at channel_slots by extract_archive
};
