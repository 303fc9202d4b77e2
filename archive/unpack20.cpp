// The RAR 2.0 decompressor. The stream is read most significant bit first
// from an 8192-byte input buffer; symbols are decoded through a lookup table
// built beside the canonical limits; decoded bytes go into the 1 MB window and
// reach the sink through write_unpacked when the window is nearly full and at
// the end of each entry. Damaged streams decode deterministically: stale
// buffer bytes, empty tables and far distances all have a defined result.
#include "archive/unpack20.h"

#include <cstring>

#include "archive/extract.h"
#include "archive/reader.h"

namespace {

// Refill thresholds: a reader refills before a step that could otherwise run
// past the buffer. A main-loop step takes at most 51 bits (15 + 5 + 15 + 16),
// a table header with its 19 lengths 80, a code-length step 22.
constexpr uint32_t kMainRefillAt = 8162;
constexpr uint32_t kTableRefillAt = 8167;
constexpr uint32_t kLengthRefillAt = 8187;
constexpr uint32_t kKeptBytes = 32;                 // a refill keeps the last 32 bytes
constexpr uint32_t kRefillBytes = kInputBufferSize - kKeptBytes;
constexpr uint32_t kFlushRoom = 270;                // more than the longest match (260)
static_assert(kMainRefillAt + 2 + 8 <= kInputBufferSize + kInputPadding, "main step load stays in in_buf");
static_assert(kLengthRefillAt + 3 + 8 <= kInputBufferSize + kInputPadding, "table step load stays in in_buf");

// Length slots: base and extra bits. Each base is the previous base plus two
// to the previous slot's extra bits.
struct Slot {
  uint32_t base;
  uint32_t bits;
};

constexpr Slot kLengthSlots[kRepLengthSymbols] = {
    {0, 0},   {1, 0},   {2, 0},   {3, 0},   {4, 0},   {5, 0},   {6, 0},   {7, 0},   {8, 1},   {10, 1},
    {12, 1},  {14, 1},  {16, 2},  {20, 2},  {24, 2},  {28, 2},  {32, 3},  {40, 3},  {48, 3},  {56, 3},
    {64, 4},  {80, 4},  {96, 4},  {112, 4}, {128, 5}, {160, 5}, {192, 5}, {224, 5}};

constexpr Slot kShortSlots[8] = {{0, 2}, {4, 2}, {8, 3}, {16, 4}, {32, 5}, {64, 6}, {128, 6}, {192, 6}};

constexpr Slot distance_slot(int i) {
  constexpr uint32_t bits[kDistanceSymbols] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                               7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                                               15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
  uint32_t base = 0;
  for (int k = 0; k < i; ++k) base += 1u << bits[k];
  return Slot{base, bits[i]};
}

struct DistanceSlots {
  Slot slot[kDistanceSymbols];
  constexpr DistanceSlots() : slot() {
    for (int i = 0; i < kDistanceSymbols; ++i) slot[i] = distance_slot(i);
  }
};
constexpr DistanceSlots kDistanceSlots;

constexpr bool slots_follow_rule(const Slot* s, int n) {
  for (int i = 1; i < n; ++i)
    if (s[i].base != s[i - 1].base + (1u << s[i - 1].bits)) return false;
  return true;
}
static_assert(slots_follow_rule(kLengthSlots, kRepLengthSymbols), "length slots");
static_assert(slots_follow_rule(kShortSlots, 8), "short-distance slots");
static_assert(kDistanceSlots.slot[36].base == 262144 && kDistanceSlots.slot[47].base == 983040,
              "distance slots 36..47 step by 0x10000");
static_assert(kDistanceSlots.slot[47].base + 1 + 0xFFFF == kWindowSize, "the largest distance is the window");

// ---- input buffer and bit reader -------------------------------------------

void refill_input(ArchiveReader* r, bool initial) {
  DecoderState* d = &r->decoder;
  if (initial) {
    d->in_valid = read_packed(r, d->in_buf, kInputBufferSize);
    d->in_pos = 0;
    return;
  }
  std::memcpy(d->in_buf, d->in_buf + kRefillBytes, kKeptBytes);
  d->in_pos -= kRefillBytes;
  const uint32_t got = read_packed(r, d->in_buf + kKeptBytes, kRefillBytes);
  if (got > 0) {
    d->in_valid = kKeptBytes + got;
  } else {
    d->in_valid = d->in_pos;
    d->input_exhausted = 1;
  }
}

// The next 16 bits of the stream.
uint32_t peek_bits(const DecoderState* d) {
  const uint8_t* p = d->in_buf + d->in_pos;
  const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  return (v >> (8 - d->in_bit)) & 0xFFFF;
}

void skip_bits(DecoderState* d, uint32_t n) {
  n += d->in_bit;
  d->in_pos += n >> 3;
  d->in_bit = n & 7;
}

uint32_t read_bits(DecoderState* d, uint32_t n) {
  if (n == 0) return 0;
  const uint32_t v = peek_bits(d) >> (16 - n);
  skip_bits(d, n);
  return v;
}

uint32_t decode_symbol(DecoderState* d, const DecodeTable* t) {
  const uint32_t bits16 = peek_bits(d);
  const uint32_t e = t->fast[bits16 >> (16 - kFastBits)];
  uint32_t length = e >> 16;
  uint32_t s = e & 0xFFFF;
  if (length == 0) s = decode_bits(t, bits16, &length);
  skip_bits(d, length);
  return s;
}

// Eight stream bytes from p, most significant first.
inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// ---- tables ----------------------------------------------------------------

void load_tables(ArchiveReader* r) {
  DecoderState* d = &r->decoder;
  if (d->in_pos > kTableRefillAt) refill_input(r, false);

  const uint32_t header = peek_bits(d);
  d->audio_mode = (header & 0x8000) != 0;
  if ((header & 0x4000) == 0) std::memset(d->prev_code_lengths, 0, sizeof d->prev_code_lengths);
  skip_bits(d, 2);

  uint32_t total;
  if (d->audio_mode) {
    d->channel_count = ((header >> 12) & 3) + 1;
    if (d->current_channel >= d->channel_count) d->current_channel = 0;
    skip_bits(d, 2);
    total = kChannelSymbols * d->channel_count;
  } else {
    total = kTableLengths;
  }

  uint8_t code_lengths[kCodeLengthSymbols];
  for (int i = 0; i < kCodeLengthSymbols; ++i) code_lengths[i] = static_cast<uint8_t>(read_bits(d, 4));
  build_decode_table(code_lengths, &d->code_length_table, kCodeLengthSymbols);

  // Positions past the lengths read stay zero; they become the base of a
  // later read with a larger count.
  uint8_t lengths[kAllLengths] = {};
  uint32_t i = 0;
  while (i < total) {
    if (d->in_pos > kLengthRefillAt) refill_input(r, false);
    const uint32_t s = decode_symbol(d, &d->code_length_table);
    if (s < 16) {
      lengths[i] = static_cast<uint8_t>((d->prev_code_lengths[i] + s) & 0xF);
      ++i;
    } else if (s == 16) {
      for (uint32_t n = 3 + read_bits(d, 2); n > 0 && i < total; --n, ++i) lengths[i] = i == 0 ? 0 : lengths[i - 1];
    } else {
      const uint32_t n = s == 17 ? 3 + read_bits(d, 3) : 11 + read_bits(d, 7);
      i = i + n < total ? i + n : total;  // the working array is zero there already
    }
  }

  if (d->audio_mode) {
    for (uint32_t k = 0; k < d->channel_count; ++k)
      build_decode_table(lengths + kChannelSymbols * k, d->channel_tables[k], kChannelSymbols);
  } else {
    build_decode_table(lengths, &d->main_table, kMainSymbols);
    build_decode_table(lengths + kMainSymbols, &d->distance_table, kDistanceSymbols);
    build_decode_table(lengths + kMainSymbols + kDistanceSymbols, &d->rep_length_table, kRepLengthSymbols);
  }
  std::memcpy(d->prev_code_lengths, lengths, sizeof lengths);
}

// ---- output ----------------------------------------------------------------

// Hands count window bytes from position from to the sink. A count of 0 never
// forms a pointer at window position 2^20.
void hand_over(ArchiveReader* r, uint8_t* window, uint32_t from, uint32_t count) {
  write_unpacked(r, count == 0 ? window : window + from, count);
}

void flush_window(ArchiveReader* r, uint8_t* window) {
  DecoderState* d = &r->decoder;
  if (d->window_pos < d->flushed_pos) {
    hand_over(r, window, d->flushed_pos, kWindowSize - d->flushed_pos);
    hand_over(r, window, 0, d->window_pos);
  } else {
    hand_over(r, window, d->flushed_pos, d->window_pos - d->flushed_pos);
  }
  d->flushed_pos = d->window_pos;
}

inline void copy8(uint8_t* dst, const uint8_t* src) {
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

inline void copy4(uint8_t* dst, const uint8_t* src) {
  uint32_t v;
  std::memcpy(&v, src, 4);
  std::memcpy(dst, &v, 4);
}

// Copies length bytes from distance back to window_pos, as a byte-by-byte
// copy through the masked window would: overlapping copies repeat the last
// distance bytes, a distance of 0 or 2^20 leaves every byte as it is. Nothing
// past the match is written: the window ahead holds the oldest history.
// Returns the new (masked) write position.
inline uint32_t copy_bytes(uint8_t* window, uint32_t pos, uint32_t length, uint32_t distance) {
  distance &= kWindowMask;
  if (distance == 0) return (pos + length) & kWindowMask;
  if (distance <= pos && pos + length <= kWindowSize) {
    uint8_t* dst = window + pos;
    const uint8_t* src = dst - distance;
    if (distance >= 8 && length >= 8) {
      // Each 8-byte load lies wholly before the bytes it writes, or holds
      // bytes already final; the last piece may rewrite bytes with the same
      // values.
      uint32_t i = 0;
      for (; i + 8 <= length; i += 8) copy8(dst + i, src + i);
      if (i < length) copy8(dst + length - 8, src + length - 8);
    } else if (distance >= 4 && length >= 4 && length < 8) {
      copy4(dst, src);
      copy4(dst + length - 4, src + length - 4);
    } else if (distance == 1) {
      std::memset(dst, src[0], length);
    } else {
      for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
    }
    return (pos + length) & kWindowMask;
  }
  for (uint32_t i = 0; i < length; ++i) {
    window[pos] = window[(pos - distance) & kWindowMask];
    pos = (pos + 1) & kWindowMask;
  }
  return pos;
}

void read_trailing_tables(ArchiveReader* r) {
  DecoderState* d = &r->decoder;
  if (d->in_valid < d->in_pos + 5) return;
  if (d->audio_mode) {
    if (decode_symbol(d, d->channel_tables[d->current_channel]) == 256) load_tables(r);
  } else {
    if (decode_symbol(d, &d->main_table) == 269) load_tables(r);
  }
}

void reset_decoder(ArchiveReader* r, uint8_t* window, int solid) {
  DecoderState* d = &r->decoder;
  d->in_pos = 0;
  d->in_bit = 0;
  d->input_exhausted = 0;
  if (solid) return;
  d->current_channel = 0;
  std::memset(d->recent_distances, 0, sizeof d->recent_distances);
  d->recent_index = 0;
  d->prev_match_length = 0;
  d->prev_match_distance = 0;
  std::memset(window, 0, kWindowSize);
  std::memset(d->prev_code_lengths, 0, sizeof d->prev_code_lengths);
  d->flushed_pos = 0;
  d->window_pos = 0;
}

// Decodes one symbol from bits (the stream's next bits, left-aligned, at
// least 16 of them meaningful) and removes its code from them.
inline uint32_t take_symbol(const DecodeTable* t, uint64_t* bits, uint32_t* bit_pos) {
  const uint32_t e = t->fast[*bits >> (64 - kFastBits)];
  uint32_t length = e >> 16;
  uint32_t s = e & 0xFFFF;
  if (length == 0) s = decode_bits(t, static_cast<uint32_t>(*bits >> 48), &length);
  *bits <<= length;
  *bit_pos += length;
  return s;
}

// Takes n (0..16) extra bits as an unsigned number.
inline uint32_t take_bits(uint64_t* bits, uint32_t* bit_pos, uint32_t n) {
  const uint32_t v = static_cast<uint32_t>((*bits >> 1) >> (63 - n));
  *bits <<= n;
  *bit_pos += n;
  return v;
}

// The main loop: one symbol per step until unpacked_left is negative.
// Invariants at the top of a step: bit_pos is the stream position in bits
// from in_buf[0]; window_pos may be 2^20 after a literal and is masked first;
// each step loads 57 bits at once, more than the 51 a step may take, from a
// buffer that changes only at a refill.
void run_main_loop(ArchiveReader* r, uint8_t* window) {
  DecoderState* d = &r->decoder;
  const uint8_t* in = d->in_buf;
  uint32_t bit_pos = d->in_pos * 8 + d->in_bit;
  uint32_t pos = d->window_pos;
  uint32_t flushed = d->flushed_pos;
  int32_t left = r->unpacked_left;
  int32_t idle_mark = left;  // unpacked_left when the idle count began
  uint32_t idle = 0;         // steps without output while the input is exhausted

  auto save = [&] {
    d->in_pos = bit_pos >> 3;
    d->in_bit = bit_pos & 7;
    d->window_pos = pos;
    r->unpacked_left = left;
  };
  auto reload = [&] {
    bit_pos = d->in_pos * 8 + d->in_bit;
    pos = d->window_pos;
  };
  auto match = [&](uint32_t length, uint32_t distance) {
    d->recent_distances[d->recent_index & 3] = distance;
    d->prev_match_distance = distance;
    d->recent_index += 1;
    d->prev_match_length = length;
    left -= static_cast<int32_t>(length);
    pos = copy_bytes(window, pos, length, distance);
  };
  // A step that wrote nothing; true when the entry has to end.
  auto idle_step = [&] {
    if (!d->input_exhausted) return false;
    if (left != idle_mark) {
      idle_mark = left;
      idle = 0;
    }
    return ++idle >= kMaxIdleSteps;
  };

  while (left >= 0) {
    pos &= kWindowMask;
    if ((bit_pos >> 3) > kMainRefillAt) {
      save();
      refill_input(r, false);
      reload();
    }
    if (((flushed - pos) & kWindowMask) < kFlushRoom && flushed != pos) {
      d->window_pos = pos;
      flush_window(r, window);
      flushed = d->flushed_pos;
    }

    const uint32_t loaded_at = bit_pos;
    uint64_t bits = load_be64(in + (bit_pos >> 3)) << (bit_pos & 7);
    const uint32_t s = take_symbol(&d->main_table, &bits, &bit_pos);
    if (s < 256) {
      window[pos++] = static_cast<uint8_t>(s);
      left -= 1;
      // Further literals straight from the loaded bits, while every check at
      // the top of a step would pass and at least 16 loaded bits remain; any
      // other symbol goes back to the top.
      while (left >= 0 && pos < kWindowSize && bit_pos - loaded_at <= 41 && (bit_pos >> 3) <= kMainRefillAt &&
             (((flushed - pos) & kWindowMask) >= kFlushRoom || flushed == pos)) {
        const uint32_t e = d->main_table.fast[bits >> (64 - kFastBits)];
        if ((e & 0xFF00) != 0 || e < (1u << 16)) break;
        bits <<= e >> 16;
        bit_pos += e >> 16;
        window[pos++] = static_cast<uint8_t>(e);
        left -= 1;
      }
    } else if (s >= 270) {
      const Slot& ls = kLengthSlots[s - 270];
      uint32_t length = ls.base + 3 + take_bits(&bits, &bit_pos, ls.bits);
      const Slot& ds = kDistanceSlots.slot[take_symbol(&d->distance_table, &bits, &bit_pos)];
      const uint32_t distance = ds.base + 1 + take_bits(&bits, &bit_pos, ds.bits);
      if (distance >= 0x2000) length += distance >= 0x40000 ? 2 : 1;
      match(length, distance);
    } else if (s == 269) {
      save();
      load_tables(r);
      reload();
      if (idle_step()) break;
    } else if (s >= 261) {
      const Slot& ss = kShortSlots[s - 261];
      match(2, ss.base + 1 + take_bits(&bits, &bit_pos, ss.bits));
    } else if (s >= 257) {
      const uint32_t distance = d->recent_distances[(d->recent_index - (s - 256)) & 3];
      const Slot& ls = kLengthSlots[take_symbol(&d->rep_length_table, &bits, &bit_pos)];
      uint32_t length = ls.base + 2 + take_bits(&bits, &bit_pos, ls.bits);
      if (distance >= 0x101) length += 1;
      if (distance >= 0x2000) length += 1;
      if (distance >= 0x40000) length += 1;
      match(length, distance);
    } else {  // 256
      match(d->prev_match_length, d->prev_match_distance);
      if (d->prev_match_length == 0 && idle_step()) break;
    }
  }
  save();
  if (r->unpacked_left >= 0) r->unpacked_left = -1;  // ended early by the idle limit
}

}  // namespace

void build_decode_table(const uint8_t* lengths, DecodeTable* t, uint32_t count) {
  uint32_t per_length[16] = {};
  for (uint32_t i = 0; i < count; ++i) per_length[lengths[i] & 0xF] += 1;
  per_length[0] = 0;

  uint32_t fill[16];
  uint32_t n = 0;
  t->limit[0] = 0;
  t->start[0] = 0;
  fill[0] = 0;
  for (int L = 1; L <= kMaxCodeLength; ++L) {
    n = (n + per_length[L]) * 2;
    const uint32_t limit = n << (15 - L);
    t->limit[L] = limit > 0xFFFF ? 0xFFFF : limit;
    t->start[L] = t->start[L - 1] + per_length[L - 1];
    fill[L] = t->start[L];
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t L = lengths[i] & 0xF;
    if (L != 0) t->symbols[fill[L]++] = static_cast<uint16_t>(i);
  }
  t->count = count;

  // The lookup table. Codes of length L <= kFastBits take the prefixes from
  // limit[L - 1] to limit[L] (in units of 2^(16 - kFastBits)): every limit up
  // to kFastBits is a multiple of 2^(16 - kFastBits), or capped at 0xFFFF,
  // which lies above every value with the lowest bit clear. Each code fills
  // 2^(kFastBits - L) entries; an index at or past count gives symbols[0].
  constexpr uint32_t shift = 16 - kFastBits;
  uint32_t p = 0;
  for (uint32_t L = 1; L <= static_cast<uint32_t>(kFastBits) && p < kFastSize; ++L) {
    const uint32_t end = (t->limit[L] == 0xFFFF ? 0x10000u : t->limit[L]) >> shift;
    const uint32_t step = 1u << (kFastBits - L);
    for (uint32_t k = t->start[L]; p < end; p += step, ++k) {
      const uint32_t entry = t->symbols[k < count ? k : 0] | (L << 16);
      for (uint32_t j = 0; j < step; ++j) t->fast[p + j] = entry;
    }
  }
  for (; p < kFastSize; ++p) t->fast[p] = 0;
}

uint32_t decode_bits(const DecodeTable* t, uint32_t bits16, uint32_t* length) {
  const uint32_t b = bits16 & 0xFFFE;
  uint32_t L = 1;
  while (L < static_cast<uint32_t>(kMaxCodeLength) && b >= t->limit[L]) ++L;
  uint32_t k = t->start[L] + ((b - t->limit[L - 1]) >> (16 - L));
  if (k >= t->count) k = 0;
  *length = L;
  return t->symbols[k];
}

void decompress_entry(ArchiveReader* r, uint8_t* window, int solid) {
  reset_decoder(r, window, solid);
  refill_input(r, true);
  if (!solid) load_tables(r);
  r->unpacked_left -= 1;
  run_main_loop(r, window);
  read_trailing_tables(r);
  flush_window(r, window);
}
